package quorvel.pkcs.pkcs11;

/** The state of a session ({@code CK_STATE}), as the module reports it. */
public final class SessionState {

    public static final long CKS_RO_PUBLIC_SESSION = 0L;
    public static final long CKS_RO_USER_FUNCTIONS = 1L;
    public static final long CKS_RW_PUBLIC_SESSION = 2L;
    public static final long CKS_RW_USER_FUNCTIONS = 3L;
    public static final long CKS_RW_SO_FUNCTIONS = 4L;

    private static final String[] NAMES = {
        "CKS_RO_PUBLIC_SESSION", "CKS_RO_USER_FUNCTIONS", "CKS_RW_PUBLIC_SESSION",
        "CKS_RW_USER_FUNCTIONS", "CKS_RW_SO_FUNCTIONS",
    };

    private final long value;

    public SessionState(long value) {
        this.value = value;
    }

    public long getValue() {
        return value;
    }

    /** The {@code CKS_} name of the state, or null for a code outside the standard ones. */
    public String getName() {
        return value >= 0 && value < NAMES.length ? NAMES[(int) value] : null;
    }

    /** True in the states where a user or the security officer is logged in. */
    public boolean isLoggedIn() {
        return value == CKS_RO_USER_FUNCTIONS || value == CKS_RW_USER_FUNCTIONS
                || value == CKS_RW_SO_FUNCTIONS;
    }

    @Override
    public boolean equals(Object other) {
        return other instanceof SessionState && ((SessionState) other).value == value;
    }

    @Override
    public int hashCode() {
        return Long.hashCode(value);
    }

    @Override
    public String toString() {
        String name = getName();
        return name != null ? name : String.format("0x%08X", value);
    }
}
