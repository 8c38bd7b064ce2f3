package corvaletest;

import java.math.BigInteger;
import java.security.AlgorithmParameters;
import java.security.GeneralSecurityException;
import java.security.KeyFactory;
import java.security.PublicKey;
import java.security.interfaces.RSAPublicKey;
import java.util.Arrays;
import javax.crypto.Cipher;
import javax.crypto.SecretKey;

/**
 * The independent oracle for a token's cryptography: Java's own providers,
 * fed with the raw values a token hands out. (In the i386 JVM under qemu,
 * javax.crypto starts only where the JDK's policy directory has a tmpfs
 * copy, as the modules tier gives it; see tests/modules/run.sh.)
 */
public final class Jdk {

    // SubjectPublicKeyInfo of a P-256 key up to the BIT STRING holding 04 || X || Y.
    private static final byte[] P256_SPKI_PREFIX = new BigInteger(
            "3059301306072a8648ce3d020106082a8648ce3d030107034200", 16).toByteArray();

    private Jdk() {}

    /** A P-256 public key from CKA_EC_POINT: the uncompressed point, bare or in a DER OCTET STRING. */
    public static PublicKey p256(byte[] ecPoint) throws GeneralSecurityException {
        byte[] point = ecPoint.length == 67 && ecPoint[0] == 0x04 && ecPoint[1] == 65
                ? Arrays.copyOfRange(ecPoint, 2, 67) : ecPoint;
        if (point.length != 65 || point[0] != 0x04) {
            throw new IllegalArgumentException("CKA_EC_POINT is no uncompressed P-256 point");
        }
        byte[] spki = Arrays.copyOf(P256_SPKI_PREFIX, P256_SPKI_PREFIX.length + 65);
        System.arraycopy(point, 0, spki, P256_SPKI_PREFIX.length, 65);
        return (PublicKey) KeyFactory.getInstance("EC").translateKey(new PublicKey() {
            @Override public String getAlgorithm() { return "EC"; }
            @Override public String getFormat() { return "X.509"; }
            @Override public byte[] getEncoded() { return spki.clone(); }
        });
    }

    public static RSAPublicKey rsa(byte[] modulus, byte[] exponent) throws GeneralSecurityException {
        BigInteger n = new BigInteger(1, modulus), e = new BigInteger(1, exponent);
        return (RSAPublicKey) KeyFactory.getInstance("RSA").translateKey(new RSAPublicKey() {
            @Override public BigInteger getModulus() { return n; }
            @Override public BigInteger getPublicExponent() { return e; }
            @Override public String getAlgorithm() { return "RSA"; }
            @Override public String getFormat() { return null; }
            @Override public byte[] getEncoded() { return null; }
        });
    }

    public static SecretKey aes(byte[] raw) {
        return new SecretKey() {
            @Override public String getAlgorithm() { return "AES"; }
            @Override public String getFormat() { return "RAW"; }
            @Override public byte[] getEncoded() { return raw.clone(); }
        };
    }

    /** Java's cipher for a token's AES mechanism ("CBC/PKCS5Padding", "CBC/NoPadding", "ECB/NoPadding"). */
    public static byte[] aes(int mode, String transformation, byte[] key, byte[] iv, byte[] data) throws Exception {
        Cipher c = Cipher.getInstance("AES/" + transformation);
        if (iv == null) {
            c.init(mode, aes(key));
        } else {
            // CBC parameters through their DER form (an OCTET STRING).
            byte[] der = new byte[iv.length + 2];
            der[0] = 0x04;
            der[1] = (byte) iv.length;
            System.arraycopy(iv, 0, der, 2, iv.length);
            AlgorithmParameters p = AlgorithmParameters.getInstance("AES");
            p.init(der);
            c.init(mode, aes(key), p);
        }
        return c.doFinal(data);
    }

    public static boolean verify(String algorithm, PublicKey key, byte[] data, byte[] signature) throws Exception {
        java.security.Signature v = java.security.Signature.getInstance(algorithm);
        v.initVerify(key);
        v.update(data);
        return v.verify(signature);
    }

    public static byte[] digest(String algorithm, byte[] data) throws Exception {
        return java.security.MessageDigest.getInstance(algorithm).digest(data);
    }

    /**
     * RSASSA-PSS with SHA-256, MGF1 with SHA-256 and 32 bytes of salt,
     * checked by hand after RFC 8017's EMSA-PSS-VERIFY (Java's own wants its
     * parameters as an object, not in their DER form).
     */
    public static boolean verifyPss(RSAPublicKey key, byte[] data, byte[] signature) throws Exception {
        int emBits = key.getModulus().bitLength() - 1, emLen = (emBits + 7) / 8, hLen = 32, sLen = 32;
        byte[] m = new BigInteger(1, signature).modPow(key.getPublicExponent(), key.getModulus()).toByteArray();
        if (m.length > emLen && (m.length > emLen + 1 || m[0] != 0)) return false;
        byte[] em = new byte[emLen];
        int n = Math.min(m.length, emLen);
        System.arraycopy(m, m.length - n, em, emLen - n, n);
        int free = 8 * emLen - emBits, dbLen = emLen - hLen - 1;
        if (em[emLen - 1] != (byte) 0xBC || (em[0] & ~(0xFF >> free) & 0xFF) != 0) return false;
        byte[] h = Arrays.copyOfRange(em, dbLen, dbLen + hLen), db = new byte[dbLen];
        for (int i = 0, counter = 0; i < dbLen; counter++) {
            byte[] mask = sha256(h, new byte[] {(byte) (counter >> 24), (byte) (counter >> 16), (byte) (counter >> 8),
                (byte) counter});
            for (int j = 0; j < hLen && i < dbLen; j++, i++) db[i] = (byte) (em[i] ^ mask[j]);
        }
        db[0] &= (byte) (0xFF >> free);
        for (int i = 0; i < dbLen - sLen - 1; i++) {
            if (db[i] != 0) return false;
        }
        byte[] salt = Arrays.copyOfRange(db, dbLen - sLen, dbLen);
        return db[dbLen - sLen - 1] == 1 && Arrays.equals(h, sha256(new byte[8], sha256(data), salt));
    }

    private static byte[] sha256(byte[]... parts) throws Exception {
        java.security.MessageDigest md = java.security.MessageDigest.getInstance("SHA-256");
        for (byte[] part : parts) md.update(part);
        return md.digest();
    }

    // RSAES-OAEP-params: SHA-256, MGF1 with SHA-256, no label (DER).
    private static final byte[] OAEP_SHA256 = new BigInteger("302fa00f300d06096086480165030402010500a11c301a0609"
            + "2a864886f70d010108300d06096086480165030402010500", 16).toByteArray();

    /** RSAES-OAEP with SHA-256 and MGF1 with SHA-256, no label. */
    public static byte[] rsaOaepEncrypt(PublicKey key, byte[] data) throws Exception {
        AlgorithmParameters p = AlgorithmParameters.getInstance("OAEP");
        p.init(OAEP_SHA256);
        Cipher c = Cipher.getInstance("RSA/ECB/OAEPPadding");
        c.init(Cipher.ENCRYPT_MODE, key, p);
        return c.doFinal(data);
    }

    /** PKCS#1 v1.5 encryption with a token's public key, as an unwrapping test needs. */
    public static byte[] rsaEncrypt(PublicKey key, byte[] data) throws Exception {
        Cipher c = Cipher.getInstance("RSA/ECB/PKCS1Padding");
        c.init(Cipher.ENCRYPT_MODE, key);
        return c.doFinal(data);
    }
}
