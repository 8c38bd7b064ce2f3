package quorvel.pkcs.pkcs11.jni;

/** Test double of the binding class: no setUnsupported method. */
public class NativeCryptokiFunctions {
    static {
        System.load(System.getProperty("corvale.library"));
    }
    protected int tokenType;
    protected long functionsPtr;
    protected long libraryHandlePtr;

    public native int doInitialize(String moduleName);
    public native void finalize();

    public java.util.Set<String> getUnsupported() { return java.util.Set.of(); }
    public int getTokenType() { return tokenType; }
    public long getFunctionsPtr() { return functionsPtr; }
    public long getLibraryHandlePtr() { return libraryHandlePtr; }
}
