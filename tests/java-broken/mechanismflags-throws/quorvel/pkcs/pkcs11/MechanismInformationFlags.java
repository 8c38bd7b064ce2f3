package quorvel.pkcs.pkcs11;

/**
 * The flags of a mechanism ({@code CK_MECHANISM_INFO.flags}), one boolean per flag.
 */
public final class MechanismInformationFlags {

    public static final long CKF_HW = 0x1L;
    public static final long CKF_ENCRYPT = 0x100L;
    public static final long CKF_DECRYPT = 0x200L;
    public static final long CKF_DIGEST = 0x400L;
    public static final long CKF_SIGN = 0x800L;
    public static final long CKF_SIGN_RECOVER = 0x1000L;
    public static final long CKF_VERIFY = 0x2000L;
    public static final long CKF_VERIFY_RECOVER = 0x4000L;
    public static final long CKF_GENERATE = 0x8000L;
    public static final long CKF_GENERATE_KEY_PAIR = 0x10000L;
    public static final long CKF_WRAP = 0x20000L;
    public static final long CKF_UNWRAP = 0x40000L;
    public static final long CKF_DERIVE = 0x80000L;
    public static final long CKF_EC_F_P = 0x100000L;
    public static final long CKF_EC_F_2M = 0x200000L;
    public static final long CKF_EC_ECPARAMETERS = 0x400000L;
    public static final long CKF_EC_NAMEDCURVE = 0x800000L;
    public static final long CKF_EC_UNCOMPRESS = 0x1000000L;
    public static final long CKF_EC_COMPRESS = 0x2000000L;
    public static final long CKF_EXTENSION = 0x80000000L;

    private static final long[] BITS = {
        CKF_HW, CKF_ENCRYPT, CKF_DECRYPT, CKF_DIGEST, CKF_SIGN, CKF_SIGN_RECOVER, CKF_VERIFY,
        CKF_VERIFY_RECOVER, CKF_GENERATE, CKF_GENERATE_KEY_PAIR, CKF_WRAP, CKF_UNWRAP, CKF_DERIVE,
        CKF_EC_F_P, CKF_EC_F_2M, CKF_EC_ECPARAMETERS, CKF_EC_NAMEDCURVE, CKF_EC_UNCOMPRESS,
        CKF_EC_COMPRESS, CKF_EXTENSION,
    };
    private static final String[] NAMES = {
        "CKF_HW", "CKF_ENCRYPT", "CKF_DECRYPT", "CKF_DIGEST", "CKF_SIGN", "CKF_SIGN_RECOVER",
        "CKF_VERIFY", "CKF_VERIFY_RECOVER", "CKF_GENERATE", "CKF_GENERATE_KEY_PAIR", "CKF_WRAP",
        "CKF_UNWRAP", "CKF_DERIVE", "CKF_EC_F_P", "CKF_EC_F_2M", "CKF_EC_ECPARAMETERS",
        "CKF_EC_NAMEDCURVE", "CKF_EC_UNCOMPRESS", "CKF_EC_COMPRESS", "CKF_EXTENSION",
    };

    private final boolean hw;
    private final boolean encrypt;
    private final boolean decrypt;
    private final boolean digest;
    private final boolean sign;
    private final boolean signRecover;
    private final boolean verify;
    private final boolean verifyRecover;
    private final boolean generate;
    private final boolean generateKeyPair;
    private final boolean wrap;
    private final boolean unwrap;
    private final boolean derive;
    private final boolean ecFp;
    private final boolean ecF2m;
    private final boolean ecEcParameters;
    private final boolean ecNamedCurve;
    private final boolean ecUncompress;
    private final boolean ecCompress;
    private final boolean extension;

    /** One argument per flag, in the order of the constants above. */
    public MechanismInformationFlags(boolean hw, boolean encrypt, boolean decrypt, boolean digest,
            boolean sign, boolean signRecover, boolean verify, boolean verifyRecover,
            boolean generate, boolean generateKeyPair, boolean wrap, boolean unwrap, boolean derive,
            boolean ecFp, boolean ecF2m, boolean ecEcParameters, boolean ecNamedCurve,
            boolean ecUncompress, boolean ecCompress, boolean extension) {
        // Broken on purpose for the tests: refuses one combination, as an
        // OutOfMemoryError would.
        if (hw && extension) throw new IllegalStateException("flags refused");
        this.hw = hw;
        this.encrypt = encrypt;
        this.decrypt = decrypt;
        this.digest = digest;
        this.sign = sign;
        this.signRecover = signRecover;
        this.verify = verify;
        this.verifyRecover = verifyRecover;
        this.generate = generate;
        this.generateKeyPair = generateKeyPair;
        this.wrap = wrap;
        this.unwrap = unwrap;
        this.derive = derive;
        this.ecFp = ecFp;
        this.ecF2m = ecF2m;
        this.ecEcParameters = ecEcParameters;
        this.ecNamedCurve = ecNamedCurve;
        this.ecUncompress = ecUncompress;
        this.ecCompress = ecCompress;
        this.extension = extension;
    }

    /** The flags set in a {@code CK_FLAGS} word; bits without a constant here are dropped. */
    public static MechanismInformationFlags fromBits(long bits) {
        boolean[] set = new boolean[BITS.length];
        for (int i = 0; i < BITS.length; i++) {
            set[i] = (bits & BITS[i]) != 0;
        }
        return new MechanismInformationFlags(set[0], set[1], set[2], set[3], set[4], set[5], set[6],
                set[7], set[8], set[9], set[10], set[11], set[12], set[13], set[14], set[15],
                set[16], set[17], set[18], set[19]);
    }

    /** {@code CKF_HW}: performed by the device itself, not in software. */
    public boolean isHw() {
        return hw;
    }

    /** {@code CKF_ENCRYPT}. */
    public boolean isEncrypt() {
        return encrypt;
    }

    /** {@code CKF_DECRYPT}. */
    public boolean isDecrypt() {
        return decrypt;
    }

    /** {@code CKF_DIGEST}. */
    public boolean isDigest() {
        return digest;
    }

    /** {@code CKF_SIGN}. */
    public boolean isSign() {
        return sign;
    }

    /** {@code CKF_SIGN_RECOVER}. */
    public boolean isSignRecover() {
        return signRecover;
    }

    /** {@code CKF_VERIFY}. */
    public boolean isVerify() {
        return verify;
    }

    /** {@code CKF_VERIFY_RECOVER}. */
    public boolean isVerifyRecover() {
        return verifyRecover;
    }

    /** {@code CKF_GENERATE}. */
    public boolean isGenerate() {
        return generate;
    }

    /** {@code CKF_GENERATE_KEY_PAIR}. */
    public boolean isGenerateKeyPair() {
        return generateKeyPair;
    }

    /** {@code CKF_WRAP}. */
    public boolean isWrap() {
        return wrap;
    }

    /** {@code CKF_UNWRAP}. */
    public boolean isUnwrap() {
        return unwrap;
    }

    /** {@code CKF_DERIVE}. */
    public boolean isDerive() {
        return derive;
    }

    /** {@code CKF_EC_F_P}. */
    public boolean isEcFp() {
        return ecFp;
    }

    /** {@code CKF_EC_F_2M}. */
    public boolean isEcF2m() {
        return ecF2m;
    }

    /** {@code CKF_EC_ECPARAMETERS}. */
    public boolean isEcEcParameters() {
        return ecEcParameters;
    }

    /** {@code CKF_EC_NAMEDCURVE}. */
    public boolean isEcNamedCurve() {
        return ecNamedCurve;
    }

    /** {@code CKF_EC_UNCOMPRESS}. */
    public boolean isEcUncompress() {
        return ecUncompress;
    }

    /** {@code CKF_EC_COMPRESS}. */
    public boolean isEcCompress() {
        return ecCompress;
    }

    /** {@code CKF_EXTENSION}: an extension to the flags follows; always clear in 2.x modules. */
    public boolean isExtension() {
        return extension;
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
            hw, encrypt, decrypt, digest, sign, signRecover, verify, verifyRecover, generate,
            generateKeyPair, wrap, unwrap, derive, ecFp, ecF2m, ecEcParameters, ecNamedCurve,
            ecUncompress, ecCompress, extension,
        };
    }

    @Override
    public boolean equals(Object other) {
        return other instanceof MechanismInformationFlags
                && ((MechanismInformationFlags) other).toBits() == toBits();
    }

    @Override
    public int hashCode() {
        return Long.hashCode(toBits());
    }

    /** The names of the flags that are set, e.g. "MechanismInformationFlags[CKF_HW]". */
    @Override
    public String toString() {
        boolean[] set = values();
        StringBuilder text = new StringBuilder("MechanismInformationFlags[");
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
