package corvaletest.real;

import static corvaletest.Attributes.*;
import static corvaletest.real.Tokens.*;
import static org.junit.jupiter.api.Assertions.*;
import static org.junit.jupiter.api.Assumptions.assumeTrue;
import static quorvel.pkcs.pkcs11.AttributeType.*;
import static quorvel.pkcs.pkcs11.MechanismType.*;

import corvaletest.Attributes;
import corvaletest.Jdk;
import java.io.ByteArrayOutputStream;
import java.math.BigInteger;
import java.security.KeyPair;
import java.security.KeyPairGenerator;
import java.security.PublicKey;
import java.security.SecureRandom;
import java.security.Signature;
import java.security.interfaces.ECPublicKey;
import java.security.interfaces.RSAPublicKey;
import java.util.Arrays;
import java.util.HashSet;
import java.util.Set;
import javax.crypto.Cipher;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import quorvel.pkcs.pkcs11.*;
import quorvel.pkcs.pkcs11.jni.NativeCryptokiFunctions;

/**
 * Objects, cryptography and keys on SoftHSM2, every result checked by Java's
 * own providers (ciphers wherever javax.crypto starts: not in the i386 JVM
 * under qemu).
 */
class SoftHsmCryptoTest {

    private static final boolean M32 = "1".equals(System.getProperty("corvale.m32"));
    private static final long CKR_ATTRIBUTE_SENSITIVE = 0x11, CKR_OBJECT_HANDLE_INVALID = 0x82;
    private static final long CKR_SIGNATURE_INVALID = 0xC0;
    private static final long CKK_RSA = 0, CKK_EC = 3, CKK_AES = 0x1F;
    private static final MechanismType CKM_AES_KEY_WRAP = new MechanismType(0x2109);
    /** DER of the OID of P-256 (prime256v1). */
    private static final byte[] P256 = {0x06, 0x08, 0x2A, (byte) 0x86, 0x48, (byte) 0xCE, 0x3D, 0x03, 0x01, 0x07};

    private static final SecureRandom RANDOM = new SecureRandom();
    static final boolean JAVA_CIPHERS = javaCiphers();
    private static NativeCryptokiFunctions p11;
    private static SessionHandle session;

    @BeforeAll
    static void login() {
        p11 = Tokens.bind("softhsm2");
        SlotId slot = newSoftHsmToken(p11, uniqueLabel("crypto"), "so-pin-2", "user-pin-2");
        session = open(p11, slot, OpenSessionFlags.readWrite());
        ok(p11.login(session, UserType.USER, "user-pin-2"), "login");
    }

    @AfterAll
    static void unbind() {
        p11.finalize();
    }

    /** False where javax.crypto cannot start (the i386 JVM under qemu, on ext4). */
    static boolean javaCiphers() {
        try {
            Cipher.getInstance("AES/CBC/PKCS5Padding");
            return true;
        } catch (Throwable e) {
            return false;
        }
    }

    private static void ok(ReturnValue rv, String what) {
        assertRv(CKR_OK, rv, what);
    }

    private static byte[] random(int n) {
        byte[] b = new byte[n];
        RANDOM.nextBytes(b);
        return b;
    }

    /** A session AES key of known bytes that may be read back and used for everything. */
    private static Handle aesKey(byte[] value) {
        CreateObjectResult r = p11.createObjectNative(session, Attributes.of()
                .ulong(CKA_CLASS, CKO_SECRET_KEY).ulong(CKA_KEY_TYPE, CKK_AES).bool(CKA_TOKEN, false)
                .bool(CKA_SENSITIVE, false).bool(CKA_EXTRACTABLE, true).bool(CKA_ENCRYPT, true)
                .bool(CKA_DECRYPT, true).bool(CKA_WRAP, true).bool(CKA_UNWRAP, true)
                .add(CKA_VALUE, value).array());
        ok(r.getResult(), "createObject");
        return r.getObjectHandle();
    }

    private static byte[] read(Handle object, AttributeType type) {
        TemplateAttribute[] t = Attributes.of().read(type).array();
        ok(p11.getAttributeValueNative(session, object, t), "getAttributeValue " + type);
        return (byte[]) t[0].getValue();
    }

    private static byte[] unsigned(BigInteger n) {
        byte[] b = n.toByteArray();
        return b[0] == 0 ? Arrays.copyOfRange(b, 1, b.length) : b;
    }

    private static byte[] concat(byte[]... parts) {
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        for (byte[] p : parts) out.write(p, 0, p.length);
        return out.toByteArray();
    }

    private static byte[] sha256(byte[] data) throws Exception {
        return Jdk.digest("SHA-256", data);
    }

    @Test
    void sha256InOnePartAndSeveralEqualsMessageDigest() throws Exception {
        byte[] data = random(1000);
        byte[] framed = concat(new byte[] {1, 2, 3}, data, new byte[] {4});
        ok(p11.digestInit(session, CKM_SHA256, null), "digestInit");
        DigestResult one = p11.digest(session, framed, 3, data.length);
        ok(one.getResult(), "digest");
        assertArrayEquals(sha256(data), one.getData());

        ok(p11.digestInit(session, CKM_SHA256, new byte[0]), "digestInit, empty parameter");
        ok(p11.digestUpdate(session, data, 0, 1), "digestUpdate");
        ok(p11.digestUpdate(session, data, 1, 998), "digestUpdate");
        ok(p11.digestUpdate(session, data, 999, 1), "digestUpdate");
        DigestResult parts = p11.digestFinal(session);
        ok(parts.getResult(), "digestFinal");
        assertArrayEquals(sha256(data), parts.getData());

        byte[] keyBytes = random(32);
        ok(p11.digestInit(session, CKM_SHA256, null), "digestInit");
        ok(p11.digestKey(session, aesKey(keyBytes)), "digestKey");
        assertArrayEquals(sha256(keyBytes), p11.digestFinal(session).getData(), "a key digests as its value");
    }

    @Test
    void aesCbcPadInOnePartAndSeveralInteroperatesWithJavaCipher() throws Exception {
        byte[] keyBytes = random(32), iv = random(16), plain = random(1001);
        Handle key = aesKey(keyBytes);

        ok(p11.encryptInit(session, CKM_AES_CBC_PAD, iv, key), "encryptInit");
        CipherResult one = p11.encrypt(session, plain, 0, plain.length);
        ok(one.getResult(), "encrypt");
        assertEquals(1008, one.getData().length);

        ok(p11.encryptInit(session, CKM_AES_CBC_PAD, iv, key), "encryptInit");
        CipherResult a = p11.encryptUpdate(session, plain, 0, 5);
        ok(a.getResult(), "encryptUpdate");
        assertEquals(0, a.getData().length, "a block not yet full gives an empty part, not null");
        CipherResult b = p11.encryptUpdate(session, plain, 5, 700);
        CipherResult c = p11.encryptUpdate(session, plain, 705, 296);
        CipherResult last = p11.encryptFinal(session);
        ok(last.getResult(), "encryptFinal");
        assertArrayEquals(one.getData(), concat(a.getData(), b.getData(), c.getData(), last.getData()));

        ok(p11.decryptInit(session, CKM_AES_CBC_PAD, iv, key), "decryptInit");
        CipherResult back = p11.decrypt(session, one.getData(), 0, one.getData().length);
        ok(back.getResult(), "decrypt");
        assertArrayEquals(plain, back.getData());

        ok(p11.decryptInit(session, CKM_AES_CBC_PAD, iv, key), "decryptInit");
        byte[] ct = one.getData();
        CipherResult d1 = p11.decryptUpdate(session, ct, 0, 512);
        CipherResult d2 = p11.decryptUpdate(session, ct, 512, ct.length - 512);
        CipherResult dLast = p11.decryptFinal(session);
        ok(dLast.getResult(), "decryptFinal");
        assertArrayEquals(plain, concat(d1.getData(), d2.getData(), dLast.getData()));

        assumeTrue(JAVA_CIPHERS, "javax.crypto does not start in the i386 JVM under qemu");
        assertArrayEquals(plain, Jdk.aes(Cipher.DECRYPT_MODE, "CBC/PKCS5Padding", keyBytes, iv, one.getData()),
                "Java decrypts the token's ciphertext");
        byte[] javaCt = Jdk.aes(Cipher.ENCRYPT_MODE, "CBC/PKCS5Padding", keyBytes, iv, plain);
        ok(p11.decryptInit(session, CKM_AES_CBC_PAD, iv, key), "decryptInit");
        assertArrayEquals(plain, p11.decrypt(session, javaCt, 0, javaCt.length).getData(),
                "the token decrypts Java's ciphertext");
    }

    @Test
    void rsaSignaturesVerifyInJavaAndJavasOnTheToken() throws Exception {
        String label = uniqueLabel("rsa");
        GenerateKeyPairResult pair = p11.generateKeyPairNative(session, CKM_RSA_PKCS_KEY_PAIR_GEN, null,
                Attributes.of().bool(CKA_TOKEN, false).bool(CKA_VERIFY, true).ulong(CKA_MODULUS_BITS, 2048)
                        .add(CKA_PUBLIC_EXPONENT, new byte[] {1, 0, 1}).text(CKA_LABEL, label).array(),
                Attributes.of().bool(CKA_TOKEN, false).bool(CKA_SIGN, true).bool(CKA_SENSITIVE, true)
                        .bool(CKA_PRIVATE, true).text(CKA_LABEL, label).array());
        ok(pair.getResult(), "generateKeyPair");
        Handle priv = pair.getPrivateKeyHandle(), pub = pair.getPublicKeyHandle();
        assertArrayEquals(ulong(CKO_PRIVATE_KEY), read(priv, CKA_CLASS), "the private key comes first");
        assertArrayEquals(ulong(CKO_PUBLIC_KEY), read(pub, CKA_CLASS));

        TemplateAttribute[] t = Attributes.of().read(CKA_MODULUS, CKA_PUBLIC_EXPONENT).array();
        ok(p11.getAttributeValueNative(session, pub, t), "read the public key");
        RSAPublicKey javaPub = Jdk.rsa(valueOf(t, CKA_MODULUS), valueOf(t, CKA_PUBLIC_EXPONENT));
        assertEquals(2048, javaPub.getModulus().bitLength());

        byte[] data = random(300);
        ok(p11.signInit(session, CKM_SHA256_RSA_PKCS, null, priv), "signInit");
        SignResult one = p11.sign(session, data, 0, data.length);
        ok(one.getResult(), "sign");
        assertTrue(Jdk.verify("SHA256withRSA", javaPub, data, one.getData()), "Java verifies the token's signature");

        ok(p11.signInit(session, CKM_SHA256_RSA_PKCS, null, priv), "signInit");
        ok(p11.signUpdate(session, data, 0, 100), "signUpdate");
        ok(p11.signUpdate(session, data, 100, 200), "signUpdate");
        SignResult parts = p11.signFinal(session);
        ok(parts.getResult(), "signFinal");
        assertArrayEquals(one.getData(), parts.getData(), "PKCS#1 v1.5 signatures are deterministic");

        // Java signs; the token verifies with the public key imported from Java.
        KeyPairGenerator generator = KeyPairGenerator.getInstance("RSA");
        generator.initialize(M32 ? 1024 : 2048);  // the interpreted i386 JVM is slow at finding primes
        KeyPair javaPair = generator.generateKeyPair();
        Signature signer = Signature.getInstance("SHA256withRSA");
        signer.initSign(javaPair.getPrivate());
        signer.update(data);
        byte[] javaSig = signer.sign();
        RSAPublicKey jp = (RSAPublicKey) javaPair.getPublic();
        CreateObjectResult imported = p11.createObjectNative(session, Attributes.of()
                .ulong(CKA_CLASS, CKO_PUBLIC_KEY).ulong(CKA_KEY_TYPE, CKK_RSA).bool(CKA_TOKEN, false)
                .bool(CKA_VERIFY, true).add(CKA_MODULUS, unsigned(jp.getModulus()))
                .add(CKA_PUBLIC_EXPONENT, unsigned(jp.getPublicExponent())).array());
        ok(imported.getResult(), "import Java's public key");
        Handle javaKey = imported.getObjectHandle();

        ok(p11.verifyInit(session, CKM_SHA256_RSA_PKCS, null, javaKey), "verifyInit");
        ok(p11.verify(session, data, 0, data.length, javaSig), "verify");
        ok(p11.verifyInit(session, CKM_SHA256_RSA_PKCS, null, javaKey), "verifyInit");
        ok(p11.verifyUpdate(session, data, 0, 150), "verifyUpdate");
        ok(p11.verifyUpdate(session, data, 150, 150), "verifyUpdate");
        ok(p11.verifyFinal(session, javaSig), "verifyFinal");

        byte[] changed = data.clone();
        changed[17] ^= 1;
        ok(p11.verifyInit(session, CKM_SHA256_RSA_PKCS, null, javaKey), "verifyInit");
        assertRv(CKR_SIGNATURE_INVALID, p11.verify(session, changed, 0, changed.length, javaSig), "changed byte");
    }

    @Test
    void ecdsaSignaturesVerifyInJavaAndJavasOnTheToken() throws Exception {
        GenerateKeyPairResult pair = p11.generateKeyPairNative(session, CKM_EC_KEY_PAIR_GEN, null,
                Attributes.of().bool(CKA_TOKEN, false).bool(CKA_VERIFY, true).add(CKA_EC_PARAMS, P256).array(),
                Attributes.of().bool(CKA_TOKEN, false).bool(CKA_SIGN, true).bool(CKA_SENSITIVE, true)
                        .bool(CKA_PRIVATE, true).array());
        ok(pair.getResult(), "generateKeyPair");
        Handle priv = pair.getPrivateKeyHandle(), pub = pair.getPublicKeyHandle();
        assertArrayEquals(ulong(CKO_PRIVATE_KEY), read(priv, CKA_CLASS), "the private key comes first");

        // CKA_EC_POINT: DER OCTET STRING around 04 || X || Y.
        byte[] point = read(pub, CKA_EC_POINT);
        assertEquals(67, point.length);
        assertArrayEquals(new byte[] {0x04, 65, 0x04}, Arrays.copyOf(point, 3));
        PublicKey javaPub = Jdk.p256(point);

        byte[] data = random(200);
        ok(p11.signInit(session, CKM_ECDSA, null, priv), "signInit");
        SignResult sig = p11.sign(session, sha256(data), 0, 32);
        ok(sig.getResult(), "sign");
        assertEquals(64, sig.getData().length, "r || s");
        assertTrue(Jdk.verify("SHA256withECDSAinP1363Format", javaPub, data, sig.getData()),
                "Java verifies the token's signature");

        KeyPairGenerator generator = KeyPairGenerator.getInstance("EC");
        generator.initialize(256);  // P-256
        KeyPair javaPair = generator.generateKeyPair();
        Signature signer = Signature.getInstance("SHA256withECDSAinP1363Format");
        signer.initSign(javaPair.getPrivate());
        signer.update(data);
        byte[] javaSig = signer.sign();
        var w = ((ECPublicKey) javaPair.getPublic()).getW();
        byte[] encoded = concat(new byte[] {0x04, 65, 0x04}, fixed(w.getAffineX()), fixed(w.getAffineY()));
        CreateObjectResult imported = p11.createObjectNative(session, Attributes.of()
                .ulong(CKA_CLASS, CKO_PUBLIC_KEY).ulong(CKA_KEY_TYPE, CKK_EC).bool(CKA_TOKEN, false)
                .bool(CKA_VERIFY, true).add(CKA_EC_PARAMS, P256).add(CKA_EC_POINT, encoded).array());
        ok(imported.getResult(), "import Java's public key");
        ok(p11.verifyInit(session, CKM_ECDSA, null, imported.getObjectHandle()), "verifyInit");
        ok(p11.verify(session, sha256(data), 0, 32, javaSig), "the token verifies Java's signature");

        byte[] changed = data.clone();
        changed[0] ^= (byte) 0x80;
        ok(p11.verifyInit(session, CKM_ECDSA, null, imported.getObjectHandle()), "verifyInit");
        assertRv(CKR_SIGNATURE_INVALID, p11.verify(session, sha256(changed), 0, 32, javaSig), "changed byte");
    }

    private static byte[] fixed(BigInteger coordinate) {
        byte[] b = unsigned(coordinate);
        return concat(new byte[32 - b.length], b);
    }

    @Test
    void wrappedKeyUnwrapsToTheSameValue() throws Exception {
        byte[] kek = random(32), secret = random(32);
        Handle wrapping = aesKey(kek), key = aesKey(secret);
        WrapKeyResult wrapped = p11.wrapKey(session, CKM_AES_KEY_WRAP, null, wrapping, key);
        ok(wrapped.getResult(), "wrapKey");
        assertEquals(40, wrapped.getData().length, "RFC 3394 adds 8 bytes");

        GenerateKeyResult unwrapped = p11.unwrapKeyNative(session, CKM_AES_KEY_WRAP, null, wrapping,
                wrapped.getData(), Attributes.of().ulong(CKA_CLASS, CKO_SECRET_KEY).ulong(CKA_KEY_TYPE, CKK_AES)
                        .bool(CKA_TOKEN, false).bool(CKA_SENSITIVE, false).bool(CKA_EXTRACTABLE, true).array());
        ok(unwrapped.getResult(), "unwrapKey");
        assertNotEquals(key, unwrapped.getKeyHandle());
        assertArrayEquals(secret, read(unwrapped.getKeyHandle(), CKA_VALUE));

        assumeTrue(JAVA_CIPHERS, "javax.crypto does not start in the i386 JVM under qemu");
        Cipher java = Cipher.getInstance("AESWrap");
        java.init(Cipher.UNWRAP_MODE, Jdk.aes(kek));
        assertArrayEquals(secret, java.unwrap(wrapped.getData(), "AES", Cipher.SECRET_KEY).getEncoded(),
                "Java unwraps the token's wrapping");
    }

    @Test
    void sensitiveAttributeFailsTheWholeReadAndLeavesTheTemplateAlone() {
        CreateObjectResult r = p11.createObjectNative(session, Attributes.of()
                .ulong(CKA_CLASS, CKO_SECRET_KEY).ulong(CKA_KEY_TYPE, CKK_AES).bool(CKA_TOKEN, false)
                .bool(CKA_SENSITIVE, true).add(CKA_VALUE, random(16)).array());
        ok(r.getResult(), "createObject");
        TemplateAttribute[] t = Attributes.of().read(CKA_CLASS, CKA_VALUE, CKA_KEY_TYPE).array();
        TemplateAttribute[] before = t.clone();
        assertRv(CKR_ATTRIBUTE_SENSITIVE, p11.getAttributeValueNative(session, r.getObjectHandle(), t), "CKA_VALUE");
        for (int i = 0; i < t.length; i++) assertSame(before[i], t[i], "element " + i);

        // Without the sensitive one, every element is replaced by a new one of the code alone.
        TemplateAttribute[] ok = Attributes.of().read(CKA_CLASS, CKA_KEY_TYPE, CKA_LABEL).array();
        TemplateAttribute[] old = ok.clone();
        ok(p11.getAttributeValueNative(session, r.getObjectHandle(), ok), "getAttributeValue");
        for (int i = 0; i < ok.length; i++) {
            assertNotSame(old[i], ok[i]);
            assertEquals(old[i].getType(), ok[i].getType());
            assertNull(ok[i].getType().getFormat(), "built from the code alone");
        }
        assertArrayEquals(ulong(CKO_SECRET_KEY), (byte[]) ok[0].getValue());
        assertArrayEquals(ulong(CKK_AES), (byte[]) ok[1].getValue());
        assertNull(ok[2].getValue(), "an empty label comes back as null");
    }

    @Test
    void findWithALargerArrayFillsTheHeadAndLeavesTheTail() {
        String label = uniqueLabel("find");
        Set<Handle> made = new HashSet<>();
        for (int i = 0; i < 3; i++) {
            CreateObjectResult r = p11.createObjectNative(session, Attributes.of().ulong(CKA_CLASS, CKO_DATA)
                    .bool(CKA_TOKEN, false).text(CKA_LABEL, label).add(CKA_VALUE, new byte[] {(byte) i}).array());
            ok(r.getResult(), "createObject");
            made.add(r.getObjectHandle());
        }
        ok(p11.findObjectsInitNative(session, Attributes.of().text(CKA_LABEL, label).array()), "findObjectsInit");
        Handle sentinel = new Handle(-7);
        Handle[] found = new Handle[10];
        Arrays.fill(found, sentinel);
        FindObjectsResult r = p11.findObjects(session, found);
        ok(r.getResult(), "findObjects");
        assertEquals(3, r.getNumObjects());
        assertEquals(made, new HashSet<>(Arrays.asList(found).subList(0, 3)));
        for (int i = 3; i < 10; i++) assertSame(sentinel, found[i], "index " + i);
        FindObjectsResult none = p11.findObjects(session, found);
        ok(none.getResult(), "findObjects");
        assertEquals(0, none.getNumObjects());
        ok(p11.findObjectsFinal(session), "findObjectsFinal");
    }

    @Test
    void objectsAreCopiedChangedAndDestroyed() {
        CreateObjectResult r = p11.createObjectNative(session, Attributes.of().ulong(CKA_CLASS, CKO_DATA)
                .bool(CKA_TOKEN, false).text(CKA_LABEL, "before").add(CKA_VALUE, new byte[] {1, 2, 3}).array());
        ok(r.getResult(), "createObject");
        Handle object = r.getObjectHandle();
        assertTrue(object.getValue() > 0);
        GetObjectSizeResult size = p11.getObjectSize(session, object);
        ok(size.getResult(), "getObjectSize");

        ok(p11.setAttributeValueNative(session, object, Attributes.of().text(CKA_LABEL, "after").array()),
                "setAttributeValue");
        assertEquals("after", new String(read(object, CKA_LABEL)));

        CopyObjectResult copy = p11.copyObjectNative(session, object,
                Attributes.of().text(CKA_LABEL, "copy").array());
        ok(copy.getResult(), "copyObject");
        assertNotEquals(object, copy.getObjectHandle());
        assertEquals("copy", new String(read(copy.getObjectHandle(), CKA_LABEL)));
        assertArrayEquals(new byte[] {1, 2, 3}, read(copy.getObjectHandle(), CKA_VALUE));

        ok(p11.destroyObject(session, object), "destroyObject");
        ok(p11.destroyObject(session, copy.getObjectHandle()), "destroyObject");
        TemplateAttribute[] t = Attributes.of().read(CKA_LABEL).array();
        assertRv(CKR_OBJECT_HANDLE_INVALID, p11.getAttributeValueNative(session, object, t), "destroyed");
    }

    @Test
    void randomBytesFillTheArray() {
        byte[] a = new byte[64], b = new byte[64];
        ok(p11.generateRandom(session, a), "generateRandom");
        ok(p11.generateRandom(session, b), "generateRandom");
        assertFalse(Arrays.equals(a, new byte[64]));
        assertFalse(Arrays.equals(a, b));
        ok(p11.seedRandom(session, random(16)), "seedRandom");
        // Nothing to fill reaches the module as (null, 0); SoftHSM2 refuses that.
        assertRv(0x7, p11.generateRandom(session, new byte[0]), "CKR_ARGUMENTS_BAD");
    }
}
