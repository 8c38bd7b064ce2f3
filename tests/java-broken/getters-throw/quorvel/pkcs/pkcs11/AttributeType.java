package quorvel.pkcs.pkcs11;

/** Test double: getCode() throws for Refusal.VALUE. */
public final class AttributeType {
    private final long code;

    public AttributeType(long code) {
        this.code = code;
    }

    public long getCode() {
        return Refusal.check(code, "AttributeType.getCode");
    }
}
