package quorvel.pkcs.pkcs11.jni;

/** Test double of the binding class: no functionsPtr field. */
public class NativeCryptokiFunctions {
    static {
        System.load(System.getProperty("corvale.library"));
    }
    protected int tokenType;
    protected long libraryHandlePtr;

    public native int doInitialize(String moduleName);
    public native void finalize();
    public void setUnsupported(String name) {}

    public java.util.Set<String> getUnsupported() { return java.util.Set.of(); }
    public int getTokenType() { return tokenType; }
    public long getFunctionsPtr() { return 0; }
    public long getLibraryHandlePtr() { return libraryHandlePtr; }
}
