package quorvel.pkcs.pkcs11;

/**
 * The flags of a token ({@code CK_TOKEN_INFO.flags}), one boolean per flag.
 */
public final class TokenInformationFlags {

    public static final long CKF_RNG = 0x1L;
    public static final long CKF_WRITE_PROTECTED = 0x2L;
    public static final long CKF_LOGIN_REQUIRED = 0x4L;
    public static final long CKF_USER_PIN_INITIALIZED = 0x8L;
    public static final long CKF_RESTORE_KEY_NOT_NEEDED = 0x20L;
    public static final long CKF_CLOCK_ON_TOKEN = 0x40L;
    public static final long CKF_PROTECTED_AUTHENTICATION_PATH = 0x100L;
    public static final long CKF_DUAL_CRYPTO_OPERATIONS = 0x200L;
    public static final long CKF_TOKEN_INITIALIZED = 0x400L;
    public static final long CKF_SECONDARY_AUTHENTICATION = 0x800L;
    public static final long CKF_USER_PIN_COUNT_LOW = 0x10000L;
    public static final long CKF_USER_PIN_FINAL_TRY = 0x20000L;
    public static final long CKF_USER_PIN_LOCKED = 0x40000L;
    public static final long CKF_USER_PIN_TO_BE_CHANGED = 0x80000L;
    public static final long CKF_SO_PIN_COUNT_LOW = 0x100000L;
    public static final long CKF_SO_PIN_FINAL_TRY = 0x200000L;
    public static final long CKF_SO_PIN_LOCKED = 0x400000L;
    public static final long CKF_SO_PIN_TO_BE_CHANGED = 0x800000L;

    private static final long[] BITS = {
        CKF_RNG, CKF_WRITE_PROTECTED, CKF_LOGIN_REQUIRED, CKF_USER_PIN_INITIALIZED,
        CKF_RESTORE_KEY_NOT_NEEDED, CKF_CLOCK_ON_TOKEN, CKF_PROTECTED_AUTHENTICATION_PATH,
        CKF_DUAL_CRYPTO_OPERATIONS, CKF_TOKEN_INITIALIZED, CKF_SECONDARY_AUTHENTICATION,
        CKF_USER_PIN_COUNT_LOW, CKF_USER_PIN_FINAL_TRY, CKF_USER_PIN_LOCKED,
        CKF_USER_PIN_TO_BE_CHANGED, CKF_SO_PIN_COUNT_LOW, CKF_SO_PIN_FINAL_TRY, CKF_SO_PIN_LOCKED,
        CKF_SO_PIN_TO_BE_CHANGED,
    };
    private static final String[] NAMES = {
        "CKF_RNG", "CKF_WRITE_PROTECTED", "CKF_LOGIN_REQUIRED", "CKF_USER_PIN_INITIALIZED",
        "CKF_RESTORE_KEY_NOT_NEEDED", "CKF_CLOCK_ON_TOKEN", "CKF_PROTECTED_AUTHENTICATION_PATH",
        "CKF_DUAL_CRYPTO_OPERATIONS", "CKF_TOKEN_INITIALIZED", "CKF_SECONDARY_AUTHENTICATION",
        "CKF_USER_PIN_COUNT_LOW", "CKF_USER_PIN_FINAL_TRY", "CKF_USER_PIN_LOCKED",
        "CKF_USER_PIN_TO_BE_CHANGED", "CKF_SO_PIN_COUNT_LOW", "CKF_SO_PIN_FINAL_TRY",
        "CKF_SO_PIN_LOCKED", "CKF_SO_PIN_TO_BE_CHANGED",
    };

    private final boolean rng;
    private final boolean writeProtected;
    private final boolean loginRequired;
    private final boolean userPinInitialized;
    private final boolean restoreKeyNotNeeded;
    private final boolean clockOnToken;
    private final boolean protectedAuthenticationPath;
    private final boolean dualCryptoOperations;
    private final boolean tokenInitialized;
    private final boolean secondaryAuthentication;
    private final boolean userPinCountLow;
    private final boolean userPinFinalTry;
    private final boolean userPinLocked;
    private final boolean userPinToBeChanged;
    private final boolean soPinCountLow;
    private final boolean soPinFinalTry;
    private final boolean soPinLocked;
    private final boolean soPinToBeChanged;

    /** One argument per flag, in the order of the constants above. */
    public TokenInformationFlags(boolean rng, boolean writeProtected, boolean loginRequired,
            boolean userPinInitialized, boolean restoreKeyNotNeeded, boolean clockOnToken,
            boolean protectedAuthenticationPath, boolean dualCryptoOperations,
            boolean tokenInitialized, boolean secondaryAuthentication, boolean userPinCountLow,
            boolean userPinFinalTry, boolean userPinLocked, boolean userPinToBeChanged,
            boolean soPinCountLow, boolean soPinFinalTry, boolean soPinLocked,
            boolean soPinToBeChanged) {
        this.rng = rng;
        this.writeProtected = writeProtected;
        this.loginRequired = loginRequired;
        this.userPinInitialized = userPinInitialized;
        this.restoreKeyNotNeeded = restoreKeyNotNeeded;
        this.clockOnToken = clockOnToken;
        this.protectedAuthenticationPath = protectedAuthenticationPath;
        this.dualCryptoOperations = dualCryptoOperations;
        this.tokenInitialized = tokenInitialized;
        this.secondaryAuthentication = secondaryAuthentication;
        this.userPinCountLow = userPinCountLow;
        this.userPinFinalTry = userPinFinalTry;
        this.userPinLocked = userPinLocked;
        this.userPinToBeChanged = userPinToBeChanged;
        this.soPinCountLow = soPinCountLow;
        this.soPinFinalTry = soPinFinalTry;
        this.soPinLocked = soPinLocked;
        this.soPinToBeChanged = soPinToBeChanged;
    }

    /** The flags set in a {@code CK_FLAGS} word; bits without a constant here are dropped. */
    public static TokenInformationFlags fromBits(long bits) {
        boolean[] set = new boolean[BITS.length];
        for (int i = 0; i < BITS.length; i++) {
            set[i] = (bits & BITS[i]) != 0;
        }
        return new TokenInformationFlags(set[0], set[1], set[2], set[3], set[4], set[5], set[6],
                set[7], set[8], set[9], set[10], set[11], set[12], set[13], set[14], set[15],
                set[16], set[17]);
    }

    /** {@code CKF_RNG}: the token has its own random number generator. */
    public boolean isRng() {
        return rng;
    }

    /** {@code CKF_WRITE_PROTECTED}. */
    public boolean isWriteProtected() {
        return writeProtected;
    }

    /** {@code CKF_LOGIN_REQUIRED}: some functions need a logged-in user. */
    public boolean isLoginRequired() {
        return loginRequired;
    }

    /** {@code CKF_USER_PIN_INITIALIZED}. */
    public boolean isUserPinInitialized() {
        return userPinInitialized;
    }

    /** {@code CKF_RESTORE_KEY_NOT_NEEDED}. */
    public boolean isRestoreKeyNotNeeded() {
        return restoreKeyNotNeeded;
    }

    /** {@code CKF_CLOCK_ON_TOKEN}: the token's UTC time is meaningful. */
    public boolean isClockOnToken() {
        return clockOnToken;
    }

    /** {@code CKF_PROTECTED_AUTHENTICATION_PATH}: PINs are entered on the device itself. */
    public boolean isProtectedAuthenticationPath() {
        return protectedAuthenticationPath;
    }

    /** {@code CKF_DUAL_CRYPTO_OPERATIONS}. */
    public boolean isDualCryptoOperations() {
        return dualCryptoOperations;
    }

    /** {@code CKF_TOKEN_INITIALIZED}. */
    public boolean isTokenInitialized() {
        return tokenInitialized;
    }

    /** {@code CKF_SECONDARY_AUTHENTICATION}. */
    public boolean isSecondaryAuthentication() {
        return secondaryAuthentication;
    }

    /** {@code CKF_USER_PIN_COUNT_LOW}. */
    public boolean isUserPinCountLow() {
        return userPinCountLow;
    }

    /** {@code CKF_USER_PIN_FINAL_TRY}. */
    public boolean isUserPinFinalTry() {
        return userPinFinalTry;
    }

    /** {@code CKF_USER_PIN_LOCKED}. */
    public boolean isUserPinLocked() {
        return userPinLocked;
    }

    /** {@code CKF_USER_PIN_TO_BE_CHANGED}. */
    public boolean isUserPinToBeChanged() {
        return userPinToBeChanged;
    }

    /** {@code CKF_SO_PIN_COUNT_LOW}. */
    public boolean isSoPinCountLow() {
        return soPinCountLow;
    }

    /** {@code CKF_SO_PIN_FINAL_TRY}. */
    public boolean isSoPinFinalTry() {
        return soPinFinalTry;
    }

    /** {@code CKF_SO_PIN_LOCKED}. */
    public boolean isSoPinLocked() {
        return soPinLocked;
    }

    /** {@code CKF_SO_PIN_TO_BE_CHANGED}. */
    public boolean isSoPinToBeChanged() {
        return soPinToBeChanged;
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
            rng, writeProtected, loginRequired, userPinInitialized, restoreKeyNotNeeded,
            clockOnToken, protectedAuthenticationPath, dualCryptoOperations, tokenInitialized,
            secondaryAuthentication, userPinCountLow, userPinFinalTry, userPinLocked,
            userPinToBeChanged, soPinCountLow, soPinFinalTry, soPinLocked, soPinToBeChanged,
        };
    }

    @Override
    public boolean equals(Object other) {
        return other instanceof TokenInformationFlags
                && ((TokenInformationFlags) other).toBits() == toBits();
    }

    @Override
    public int hashCode() {
        return Long.hashCode(toBits());
    }

    /** The names of the flags that are set, e.g. "TokenInformationFlags[CKF_RNG]". */
    @Override
    public String toString() {
        boolean[] set = values();
        StringBuilder text = new StringBuilder("TokenInformationFlags[");
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
