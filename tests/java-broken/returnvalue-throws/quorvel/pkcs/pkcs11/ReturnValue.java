package quorvel.pkcs.pkcs11;

/**
 * ReturnValue whose constructor refuses one vendor code, as an
 * OutOfMemoryError would: the record around it must then not be built.
 */
public final class ReturnValue {

    public static final long REFUSED = 0x87654321L;
    public static final long VENDOR_DEFINED = 0x80000000L;
    public static final ReturnValue CKR_OK = new ReturnValue(0x000L);

    private final long value;

    public ReturnValue(long value) {
        if (value == REFUSED) throw new IllegalStateException("ReturnValue refused " + value);
        this.value = value;
    }

    public long getValue() {
        return value;
    }

    public boolean isOk() {
        return value == 0L;
    }

    @Override
    public String toString() {
        return String.format("0x%08X", value);
    }
}
