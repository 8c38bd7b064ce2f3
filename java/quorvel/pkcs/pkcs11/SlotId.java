package quorvel.pkcs.pkcs11;

/** A slot identifier ({@code CK_SLOT_ID}); only the low 32 bits reach the module. */
public final class SlotId {

    private final long id;

    public SlotId(long id) {
        this.id = id;
    }

    public long getId() {
        return id;
    }

    @Override
    public boolean equals(Object other) {
        return other instanceof SlotId && ((SlotId) other).id == id;
    }

    @Override
    public int hashCode() {
        return Long.hashCode(id);
    }

    @Override
    public String toString() {
        return "SlotId(" + id + ")";
    }
}
