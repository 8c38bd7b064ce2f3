package quorvel.pkcs.pkcs11;

/** A key type code ({@code CK_KEY_TYPE}) and its {@code CKK_} name. */
public final class KeyType {

    public static final int CKK_RSA = 0x00;
    public static final int CKK_DSA = 0x01;
    public static final int CKK_DH = 0x02;
    public static final int CKK_EC = 0x03;
    public static final int CKK_GENERIC_SECRET = 0x10;
    public static final int CKK_DES = 0x13;
    public static final int CKK_DES2 = 0x14;
    public static final int CKK_DES3 = 0x15;
    public static final int CKK_AES = 0x1F;

    public static final KeyType RSA = new KeyType(CKK_RSA);
    public static final KeyType EC = new KeyType(CKK_EC);
    public static final KeyType GENERIC_SECRET = new KeyType(CKK_GENERIC_SECRET);
    public static final KeyType DES3 = new KeyType(CKK_DES3);
    public static final KeyType AES = new KeyType(CKK_AES);

    private final int type;

    public KeyType(int type) {
        this.type = type;
    }

    public int getType() {
        return type;
    }

    /** The {@code CKK_} name, or the code in hexadecimal when it has none here. */
    public String getName() {
        switch (type) {
            case CKK_RSA: return "CKK_RSA";
            case CKK_DSA: return "CKK_DSA";
            case CKK_DH: return "CKK_DH";
            case CKK_EC: return "CKK_EC";
            case 0x04: return "CKK_X9_42_DH";
            case 0x05: return "CKK_KEA";
            case CKK_GENERIC_SECRET: return "CKK_GENERIC_SECRET";
            case 0x11: return "CKK_RC2";
            case 0x12: return "CKK_RC4";
            case CKK_DES: return "CKK_DES";
            case CKK_DES2: return "CKK_DES2";
            case CKK_DES3: return "CKK_DES3";
            case 0x16: return "CKK_CAST";
            case 0x17: return "CKK_CAST3";
            case 0x18: return "CKK_CAST128";
            case 0x19: return "CKK_RC5";
            case 0x1A: return "CKK_IDEA";
            case 0x1B: return "CKK_SKIPJACK";
            case 0x1C: return "CKK_BATON";
            case 0x1D: return "CKK_JUNIPER";
            case 0x1E: return "CKK_CDMF";
            case CKK_AES: return "CKK_AES";
            case 0x20: return "CKK_BLOWFISH";
            case 0x21: return "CKK_TWOFISH";
            default: return String.format("0x%08X", type);
        }
    }

    @Override
    public boolean equals(Object other) {
        return other instanceof KeyType && ((KeyType) other).type == type;
    }

    @Override
    public int hashCode() {
        return type;
    }

    @Override
    public String toString() {
        return getName();
    }
}
