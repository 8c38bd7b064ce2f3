package quorvel.pkcs.pkcs11;

/**
 * The {@code CK_FLAGS} for opening a session. The flags are passed to the
 * module as they stand. {@code CKF_SERIAL_SESSION} is set by default because
 * modules refuse sessions without it.
 */
public final class OpenSessionFlags {

    public static final long CKF_RW_SESSION = 0x2L;
    public static final long CKF_SERIAL_SESSION = 0x4L;

    private final long flags;

    /** A read-only serial session. */
    public OpenSessionFlags() {
        this(CKF_SERIAL_SESSION);
    }

    /** Exactly the given bits, with nothing added. */
    public OpenSessionFlags(long flags) {
        this.flags = flags;
    }

    /** A read-only serial session. */
    public static OpenSessionFlags readOnly() {
        return new OpenSessionFlags(CKF_SERIAL_SESSION);
    }

    /** A read-write serial session. */
    public static OpenSessionFlags readWrite() {
        return new OpenSessionFlags(CKF_SERIAL_SESSION | CKF_RW_SESSION);
    }

    public long getFlags() {
        return flags;
    }

    public boolean isReadWrite() {
        return (flags & CKF_RW_SESSION) != 0;
    }

    public boolean isSerial() {
        return (flags & CKF_SERIAL_SESSION) != 0;
    }

    @Override
    public boolean equals(Object other) {
        return other instanceof OpenSessionFlags && ((OpenSessionFlags) other).flags == flags;
    }

    @Override
    public int hashCode() {
        return Long.hashCode(flags);
    }

    @Override
    public String toString() {
        StringBuilder text = new StringBuilder("OpenSessionFlags[");
        String separator = "";
        if (isSerial()) {
            text.append("CKF_SERIAL_SESSION");
            separator = ", ";
        }
        if (isReadWrite()) {
            text.append(separator).append("CKF_RW_SESSION");
            separator = ", ";
        }
        long other = flags & ~(CKF_SERIAL_SESSION | CKF_RW_SESSION);
        if (other != 0) {
            text.append(separator).append(String.format("0x%08X", other));
        }
        return text.append(']').toString();
    }
}
