package quorvel.pkcs.pkcs11;

/** A session handle ({@code CK_SESSION_HANDLE}); only the low 32 bits reach the module. */
public final class SessionHandle {

    private final long handle;

    public SessionHandle(long handle) {
        this.handle = handle;
    }

    public long getHandle() {
        return handle;
    }

    @Override
    public boolean equals(Object other) {
        return other instanceof SessionHandle && ((SessionHandle) other).handle == handle;
    }

    @Override
    public int hashCode() {
        return Long.hashCode(handle);
    }

    @Override
    public String toString() {
        return "SessionHandle(" + handle + ")";
    }
}
