package quorvel.pkcs.pkcs11.jni;

/** Test double of the binding class: no tokenType field. */
public class NativeCryptokiFunctions {
    static {
        System.load(System.getProperty("corvale.library"));
    }
    protected long functionsPtr;
    protected long libraryHandlePtr;

    public native int doInitialize(String moduleName);
    public native void finalize();
    public void setUnsupported(String name) {}

    public java.util.Set<String> getUnsupported() { return java.util.Set.of(); }
    public int getTokenType() { return 0; }
    public long getFunctionsPtr() { return functionsPtr; }
    public long getLibraryHandlePtr() { return libraryHandlePtr; }
}
