package quorvel.pkcs.pkcs11;

/** Test double: getValue() throws for Refusal.VALUE. */
public final class Handle {
    private final long value;

    public Handle(long value) {
        this.value = value;
    }

    public long getValue() {
        return Refusal.check(value, "Handle.getValue");
    }
}
