package quorvel.pkcs.pkcs11;

/** Test double: getHandle() throws for Refusal.VALUE. */
public final class SessionHandle {
    private final long handle;

    public SessionHandle(long handle) {
        this.handle = handle;
    }

    public long getHandle() {
        return Refusal.check(handle, "SessionHandle.getHandle");
    }
}
