package quorvel.pkcs.pkcs11.jni;

/** Test double of the binding class: no libraryHandlePtr field. */
public class NativeCryptokiFunctions {
    static {
        System.load(System.getProperty("corvale.library"));
    }
    protected int tokenType;
    protected long functionsPtr;

    public native int doInitialize(String moduleName);
    public native void finalize();
    public void setUnsupported(String name) {}

    public java.util.Set<String> getUnsupported() { return java.util.Set.of(); }
    public int getTokenType() { return tokenType; }
    public long getFunctionsPtr() { return functionsPtr; }
    public long getLibraryHandlePtr() { return 0; }
}
