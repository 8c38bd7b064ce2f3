package quorvel.pkcs.pkcs11;

import java.util.HashMap;
import java.util.Map;

/**
 * A mechanism type ({@code CK_MECHANISM_TYPE}). Only the low 32 bits reach
 * the module; the constants cover a few common mechanisms, any other code
 * can be made with the constructor.
 */
public final class MechanismType {

    private static final Map<Long, String> NAMES = new HashMap<>();

    private static MechanismType define(long type, String name) {
        NAMES.put(type, name);
        return new MechanismType(type);
    }

    public static final MechanismType CKM_RSA_PKCS_KEY_PAIR_GEN =
            define(0x0000L, "CKM_RSA_PKCS_KEY_PAIR_GEN");
    public static final MechanismType CKM_RSA_PKCS = define(0x0001L, "CKM_RSA_PKCS");
    public static final MechanismType CKM_RSA_X_509 = define(0x0003L, "CKM_RSA_X_509");
    public static final MechanismType CKM_SHA1_RSA_PKCS = define(0x0006L, "CKM_SHA1_RSA_PKCS");
    public static final MechanismType CKM_RSA_PKCS_OAEP = define(0x0009L, "CKM_RSA_PKCS_OAEP");
    public static final MechanismType CKM_RSA_PKCS_PSS = define(0x000DL, "CKM_RSA_PKCS_PSS");
    public static final MechanismType CKM_SHA256_RSA_PKCS = define(0x0040L, "CKM_SHA256_RSA_PKCS");
    public static final MechanismType CKM_SHA384_RSA_PKCS = define(0x0041L, "CKM_SHA384_RSA_PKCS");
    public static final MechanismType CKM_SHA512_RSA_PKCS = define(0x0042L, "CKM_SHA512_RSA_PKCS");
    public static final MechanismType CKM_DES3_KEY_GEN = define(0x0131L, "CKM_DES3_KEY_GEN");
    public static final MechanismType CKM_DES3_ECB = define(0x0132L, "CKM_DES3_ECB");
    public static final MechanismType CKM_DES3_CBC = define(0x0133L, "CKM_DES3_CBC");
    public static final MechanismType CKM_MD5 = define(0x0210L, "CKM_MD5");
    public static final MechanismType CKM_SHA_1 = define(0x0220L, "CKM_SHA_1");
    public static final MechanismType CKM_SHA_1_HMAC = define(0x0221L, "CKM_SHA_1_HMAC");
    public static final MechanismType CKM_SHA256 = define(0x0250L, "CKM_SHA256");
    public static final MechanismType CKM_SHA256_HMAC = define(0x0251L, "CKM_SHA256_HMAC");
    public static final MechanismType CKM_SHA384 = define(0x0260L, "CKM_SHA384");
    public static final MechanismType CKM_SHA512 = define(0x0270L, "CKM_SHA512");
    public static final MechanismType CKM_GENERIC_SECRET_KEY_GEN =
            define(0x0350L, "CKM_GENERIC_SECRET_KEY_GEN");
    public static final MechanismType CKM_EC_KEY_PAIR_GEN = define(0x1040L, "CKM_EC_KEY_PAIR_GEN");
    public static final MechanismType CKM_ECDSA = define(0x1041L, "CKM_ECDSA");
    public static final MechanismType CKM_ECDSA_SHA1 = define(0x1042L, "CKM_ECDSA_SHA1");
    public static final MechanismType CKM_ECDH1_DERIVE = define(0x1050L, "CKM_ECDH1_DERIVE");
    public static final MechanismType CKM_AES_KEY_GEN = define(0x1080L, "CKM_AES_KEY_GEN");
    public static final MechanismType CKM_AES_ECB = define(0x1081L, "CKM_AES_ECB");
    public static final MechanismType CKM_AES_CBC = define(0x1082L, "CKM_AES_CBC");
    public static final MechanismType CKM_AES_CBC_PAD = define(0x1085L, "CKM_AES_CBC_PAD");

    private final long type;

    public MechanismType(long type) {
        this.type = type;
    }

    public long getType() {
        return type;
    }

    /** The {@code CKM_} name when this is one of the constants above, otherwise null. */
    public String getName() {
        return NAMES.get(type);
    }

    @Override
    public boolean equals(Object other) {
        return other instanceof MechanismType && ((MechanismType) other).type == type;
    }

    @Override
    public int hashCode() {
        return Long.hashCode(type);
    }

    @Override
    public String toString() {
        String hex = String.format("0x%08X", type);
        String name = NAMES.get(type);
        return name == null ? hex : hex + " (" + name + ")";
    }
}
