package corvaletest.real;

import java.math.BigInteger;
import java.security.AlgorithmParameters;
import java.security.GeneralSecurityException;
import java.security.KeyFactory;
import java.security.PublicKey;
import java.security.interfaces.RSAPublicKey;
import javax.crypto.SecretKey;

/**
 * JDK keys made from the raw values a token hands out, so that Java's own
 * Signature and Cipher check the token's results. Each goes through the
 * provider's translateKey or its DER encodings.
 */
final class JdkKeys {

    // SubjectPublicKeyInfo of a P-256 key up to the BIT STRING holding 04 || X || Y.
    private static final byte[] P256_SPKI_PREFIX = new BigInteger(
            "3059301306072a8648ce3d020106082a8648ce3d030107034200", 16).toByteArray();

    private JdkKeys() {}

    /** A P-256 public key from the uncompressed point 04 || X || Y (65 bytes). */
    static PublicKey p256(byte[] uncompressedPoint) throws GeneralSecurityException {
        byte[] spki = new byte[P256_SPKI_PREFIX.length + uncompressedPoint.length];
        System.arraycopy(P256_SPKI_PREFIX, 0, spki, 0, P256_SPKI_PREFIX.length);
        System.arraycopy(uncompressedPoint, 0, spki, P256_SPKI_PREFIX.length, uncompressedPoint.length);
        return (PublicKey) KeyFactory.getInstance("EC").translateKey(new PublicKey() {
            @Override public String getAlgorithm() { return "EC"; }
            @Override public String getFormat() { return "X.509"; }
            @Override public byte[] getEncoded() { return spki.clone(); }
        });
    }

    static PublicKey rsa(BigInteger modulus, BigInteger exponent) throws GeneralSecurityException {
        return (PublicKey) KeyFactory.getInstance("RSA").translateKey(new RSAPublicKey() {
            @Override public BigInteger getModulus() { return modulus; }
            @Override public BigInteger getPublicExponent() { return exponent; }
            @Override public String getAlgorithm() { return "RSA"; }
            @Override public String getFormat() { return null; }
            @Override public byte[] getEncoded() { return null; }
        });
    }

    static SecretKey aes(byte[] raw) {
        return new SecretKey() {
            @Override public String getAlgorithm() { return "AES"; }
            @Override public String getFormat() { return "RAW"; }
            @Override public byte[] getEncoded() { return raw.clone(); }
        };
    }

    /** CBC parameters from an IV, through their DER form (an OCTET STRING). */
    static AlgorithmParameters iv(byte[] iv) throws Exception {
        byte[] der = new byte[iv.length + 2];
        der[0] = 0x04;
        der[1] = (byte) iv.length;
        System.arraycopy(iv, 0, der, 2, iv.length);
        AlgorithmParameters p = AlgorithmParameters.getInstance("AES");
        p.init(der);
        return p;
    }
}
