package corvaletest.real;

import static corvaletest.Attributes.*;
import static corvaletest.real.Tokens.*;
import static org.junit.jupiter.api.Assertions.*;
import static org.junit.jupiter.api.Assumptions.assumeTrue;
import static quorvel.pkcs.pkcs11.AttributeType.*;
import static quorvel.pkcs.pkcs11.MechanismType.*;

import corvaletest.Attributes;
import corvaletest.Jdk;
import java.security.MessageDigest;
import java.security.SecureRandom;
import javax.crypto.Cipher;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import quorvel.pkcs.pkcs11.*;
import quorvel.pkcs.pkcs11.jni.NativeCryptokiFunctions;

/** NSS softoken's generic crypto slot: AES key generation, encryption and a digest. */
class SoftokenCryptoTest {

    private static final SecureRandom RANDOM = new SecureRandom();
    private NativeCryptokiFunctions p11;
    private SessionHandle session;

    @BeforeEach
    void open() {
        p11 = Tokens.bind("softoken");
        SlotId generic = null;
        for (SlotId s : slots(p11, true)) {
            if (token(p11, s).getLabel().startsWith("NSS Generic Crypto Services")) generic = s;
        }
        assertNotNull(generic, "the generic crypto slot");
        session = Tokens.open(p11, generic, new OpenSessionFlags());
    }

    @AfterEach
    void unbind() {
        p11.finalize();
    }

    @Test
    void generatedAesKeyEncryptsAndDecrypts() throws Exception {
        GenerateKeyResult key = p11.generateKeyNative(session, CKM_AES_KEY_GEN, null, Attributes.of()
                .ulong(CKA_VALUE_LEN, 32).bool(CKA_TOKEN, false).bool(CKA_ENCRYPT, true).bool(CKA_DECRYPT, true)
                .bool(CKA_SENSITIVE, false).bool(CKA_EXTRACTABLE, true).array());
        assertRv(CKR_OK, key.getResult(), "generateKey");
        assertTrue(key.getKeyHandle().getValue() > 0, "handles come back positive: " + key.getKeyHandle());
        TemplateAttribute[] t = Attributes.of().read(CKA_VALUE, CKA_KEY_TYPE).array();
        assertRv(CKR_OK, p11.getAttributeValueNative(session, key.getKeyHandle(), t), "getAttributeValue");
        byte[] keyBytes = valueOf(t, CKA_VALUE);
        assertEquals(32, keyBytes.length);
        assertArrayEquals(ulong(0x1F), valueOf(t, CKA_KEY_TYPE), "CKK_AES");

        byte[] iv = new byte[16], plain = new byte[100];
        RANDOM.nextBytes(iv);
        RANDOM.nextBytes(plain);
        assertRv(CKR_OK, p11.encryptInit(session, CKM_AES_CBC_PAD, iv, key.getKeyHandle()), "encryptInit");
        CipherResult ct = p11.encrypt(session, plain, 0, plain.length);
        assertRv(CKR_OK, ct.getResult(), "encrypt");
        assertEquals(112, ct.getData().length);

        assertRv(CKR_OK, p11.decryptInit(session, CKM_AES_CBC_PAD, iv, key.getKeyHandle()), "decryptInit");
        CipherResult a = p11.decryptUpdate(session, ct.getData(), 0, 48);  // NSS takes whole blocks
        CipherResult b = p11.decryptUpdate(session, ct.getData(), 48, 64);
        assertRv(CKR_OK, a.getResult(), "decryptUpdate");
        assertRv(CKR_OK, b.getResult(), "decryptUpdate");
        CipherResult last = p11.decryptFinal(session);
        assertRv(CKR_OK, last.getResult(), "decryptFinal");
        byte[] back = new byte[a.getData().length + b.getData().length + last.getData().length];
        System.arraycopy(a.getData(), 0, back, 0, a.getData().length);
        System.arraycopy(b.getData(), 0, back, a.getData().length, b.getData().length);
        System.arraycopy(last.getData(), 0, back, a.getData().length + b.getData().length, last.getData().length);
        assertArrayEquals(plain, back);

        assumeTrue(SoftHsmCryptoTest.javaCiphers(), "javax.crypto does not start in the i386 JVM under qemu");
        assertArrayEquals(plain, Jdk.aes(Cipher.DECRYPT_MODE, "CBC/PKCS5Padding", keyBytes, iv, ct.getData()));
    }

    @Test
    void sha256EqualsMessageDigest() throws Exception {
        byte[] data = new byte[777];
        RANDOM.nextBytes(data);
        assertRv(CKR_OK, p11.digestInit(session, CKM_SHA256, null), "digestInit");
        DigestResult d = p11.digest(session, data, 0, data.length);
        assertRv(CKR_OK, d.getResult(), "digest");
        assertArrayEquals(MessageDigest.getInstance("SHA-256").digest(data), d.getData());
    }
}
