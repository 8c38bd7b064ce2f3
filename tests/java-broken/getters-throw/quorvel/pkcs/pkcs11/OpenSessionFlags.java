package quorvel.pkcs.pkcs11;

/** Test double: getFlags() throws for Refusal.VALUE. */
public final class OpenSessionFlags {
    private final long flags;

    public OpenSessionFlags(long flags) {
        this.flags = flags;
    }

    public long getFlags() {
        return Refusal.check(flags, "OpenSessionFlags.getFlags");
    }
}
