package quorvel.pkcs.pkcs11;

/** Test double: getType() throws for Refusal.VALUE. */
public final class MechanismType {
    private final long type;

    public MechanismType(long type) {
        this.type = type;
    }

    public long getType() {
        return Refusal.check(type, "MechanismType.getType");
    }
}
