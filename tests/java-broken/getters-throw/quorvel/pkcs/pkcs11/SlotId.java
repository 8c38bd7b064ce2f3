package quorvel.pkcs.pkcs11;

/** Test double: getId() throws for Refusal.VALUE. */
public final class SlotId {
    private final long id;

    public SlotId(long id) {
        this.id = id;
    }

    public long getId() {
        return Refusal.check(id, "SlotId.getId");
    }
}
