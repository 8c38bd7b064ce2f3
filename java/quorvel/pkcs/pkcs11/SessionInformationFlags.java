package quorvel.pkcs.pkcs11;

/**
 * The flags of a session ({@code CK_SESSION_INFO.flags}), one boolean per flag.
 */
public final class SessionInformationFlags {

    public static final long CKF_RW_SESSION = 0x2L;
    public static final long CKF_SERIAL_SESSION = 0x4L;

    private static final long[] BITS = {
        CKF_RW_SESSION, CKF_SERIAL_SESSION,
    };
    private static final String[] NAMES = {
        "CKF_RW_SESSION", "CKF_SERIAL_SESSION",
    };

    private final boolean readWriteSession;
    private final boolean serialSession;

    /** One argument per flag, in the order of the constants above. */
    public SessionInformationFlags(boolean readWriteSession, boolean serialSession) {
        this.readWriteSession = readWriteSession;
        this.serialSession = serialSession;
    }

    /** The flags set in a {@code CK_FLAGS} word; bits without a constant here are dropped. */
    public static SessionInformationFlags fromBits(long bits) {
        boolean[] set = new boolean[BITS.length];
        for (int i = 0; i < BITS.length; i++) {
            set[i] = (bits & BITS[i]) != 0;
        }
        return new SessionInformationFlags(set[0], set[1]);
    }

    /** {@code CKF_RW_SESSION}: the session is read-write, not read-only. */
    public boolean isReadWriteSession() {
        return readWriteSession;
    }

    /** {@code CKF_SERIAL_SESSION}: always set in a conforming module. */
    public boolean isSerialSession() {
        return serialSession;
    }

    /** The flags as a {@code CK_FLAGS} word. */
    public long toBits() {
        boolean[] set = values();
        long bits = 0L;
        for (int i = 0; i < BITS.length; i++) {
            if (set[i]) {
                bits |= BITS[i];
            }
        }
        return bits;
    }

    private boolean[] values() {
        return new boolean[] {
            readWriteSession, serialSession,
        };
    }

    @Override
    public boolean equals(Object other) {
        return other instanceof SessionInformationFlags
                && ((SessionInformationFlags) other).toBits() == toBits();
    }

    @Override
    public int hashCode() {
        return Long.hashCode(toBits());
    }

    /** The names of the flags that are set, e.g. "SessionInformationFlags[CKF_RW_SESSION]". */
    @Override
    public String toString() {
        boolean[] set = values();
        StringBuilder text = new StringBuilder("SessionInformationFlags[");
        String separator = "";
        for (int i = 0; i < set.length; i++) {
            if (set[i]) {
                text.append(separator).append(NAMES[i]);
                separator = ", ";
            }
        }
        return text.append(']').toString();
    }
}
