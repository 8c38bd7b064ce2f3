package corvaletest.real;

import static corvaletest.Attributes.*;
import static corvaletest.real.Tokens.*;
import static org.junit.jupiter.api.Assertions.*;
import static quorvel.pkcs.pkcs11.AttributeType.*;
import static quorvel.pkcs.pkcs11.MechanismType.*;

import corvaletest.Attributes;
import java.security.MessageDigest;
import java.util.Arrays;
import java.util.HashSet;
import java.util.List;
import java.util.Queue;
import java.util.Random;
import java.util.Set;
import java.util.concurrent.ConcurrentLinkedQueue;
import org.junit.jupiter.api.Test;
import quorvel.pkcs.pkcs11.*;
import quorvel.pkcs.pkcs11.jni.NativeCryptokiFunctions;

/**
 * Several threads, each with its own SoftHSM2 session, run mixed operations
 * at once, with no lock of their own: the binding tells SoftHSM2 to expect
 * threads (initialised without that, it skips its locks and its heap breaks).
 */
class ConcurrentSoftHsmTest {

    private static final boolean M32 = "1".equals(System.getProperty("corvale.m32"));
    private static final long CKR_SIGNATURE_INVALID = 0xC0, CKK_AES = 0x1F;
    private static final byte[] P256 = {0x06, 0x08, 0x2A, (byte) 0x86, 0x48, (byte) 0xCE, 0x3D, 0x03, 0x01, 0x07};

    private NativeCryptokiFunctions p11;
    private Handle aes, priv, pub;
    private final Set<Handle> labelled = new HashSet<>();
    private byte[] label;

    @Test
    void threadsWithOwnSessionsRunMixedOperations() throws Exception {
        p11 = bind("softhsm2");
        try {
            SlotId slot = newSoftHsmToken(p11, uniqueLabel("threads"), "so-pin-3", "user-pin-3");
            SessionHandle setup = open(p11, slot, OpenSessionFlags.readWrite());
            assertRv(CKR_OK, p11.login(setup, UserType.USER, "user-pin-3"), "login");
            prepareObjects(setup);
            int threads = 4, iterations = M32 ? 15 : 400;
            Queue<Throwable> errors = new ConcurrentLinkedQueue<>();
            Thread[] t = new Thread[threads];
            for (int i = 0; i < threads; i++) {
                long seed = System.nanoTime() + i;
                t[i] = new Thread(() -> {
                    try {
                        SessionHandle s = p11.openSession(slot, OpenSessionFlags.readWrite()).getHandle();
                        Random r = new Random(seed);
                        for (int k = 0; k < iterations; k++) operation(s, r, r.nextInt(5));
                        assertRv(CKR_OK, p11.closeSession(s), "closeSession");
                    } catch (Throwable e) {
                        errors.add(new AssertionError("seed " + seed, e));
                    }
                });
                t[i].start();
            }
            for (Thread x : t) x.join();
            for (Throwable e : errors) e.printStackTrace();
            assertTrue(errors.isEmpty(), () -> errors.size() + " threads failed, first: " + errors.peek());
            assertRv(CKR_OK, p11.closeSession(setup), "closeSession");
        } finally {
            p11.finalize();
        }
    }

    private void prepareObjects(SessionHandle s) {
        CreateObjectResult k = p11.createObjectNative(s, Attributes.of()
                .ulong(CKA_CLASS, CKO_SECRET_KEY).ulong(CKA_KEY_TYPE, CKK_AES).bool(CKA_TOKEN, false)
                .bool(CKA_ENCRYPT, true).bool(CKA_DECRYPT, true).add(CKA_VALUE, new byte[16]).array());
        assertRv(CKR_OK, k.getResult(), "createObject (AES key)");
        aes = k.getObjectHandle();
        GenerateKeyPairResult pair = p11.generateKeyPairNative(s, CKM_EC_KEY_PAIR_GEN, null,
                Attributes.of().bool(CKA_TOKEN, false).bool(CKA_VERIFY, true).add(CKA_EC_PARAMS, P256).array(),
                Attributes.of().bool(CKA_TOKEN, false).bool(CKA_SIGN, true).bool(CKA_PRIVATE, true).array());
        assertRv(CKR_OK, pair.getResult(), "generateKeyPair");
        priv = pair.getPrivateKeyHandle();
        pub = pair.getPublicKeyHandle();
        label = uniqueLabel("found").getBytes();
        for (int i = 0; i < 3; i++) {
            CreateObjectResult d = p11.createObjectNative(s, Attributes.of().ulong(CKA_CLASS, CKO_DATA)
                    .bool(CKA_TOKEN, false).add(CKA_LABEL, label).add(CKA_VALUE, new byte[] {(byte) i}).array());
            assertRv(CKR_OK, d.getResult(), "createObject (data)");
            labelled.add(d.getObjectHandle());
        }
    }

    private void operation(SessionHandle s, Random r, int which) throws Exception {
        byte[] data = new byte[1 + r.nextInt(300)];
        r.nextBytes(data);
        switch (which) {
            case 0: {
                byte[] a = new byte[32], b = new byte[32];
                assertRv(CKR_OK, p11.generateRandom(s, a), "generateRandom");
                assertRv(CKR_OK, p11.generateRandom(s, b), "generateRandom");
                assertFalse(Arrays.equals(a, b), "two random blocks differ");
                break;
            }
            case 1: {
                assertRv(CKR_OK, p11.digestInit(s, CKM_SHA256, null), "digestInit");
                DigestResult d = p11.digest(s, data, 0, data.length);
                assertRv(CKR_OK, d.getResult(), "digest");
                assertArrayEquals(MessageDigest.getInstance("SHA-256").digest(data), d.getData(), "SHA-256");
                break;
            }
            case 2: {
                byte[] hash = MessageDigest.getInstance("SHA-256").digest(data);
                assertRv(CKR_OK, p11.signInit(s, CKM_ECDSA, null, priv), "signInit");
                SignResult sig = p11.sign(s, hash, 0, hash.length);
                assertRv(CKR_OK, sig.getResult(), "sign");
                assertEquals(64, sig.getData().length, "P-256 signature length");
                assertRv(CKR_OK, p11.verifyInit(s, CKM_ECDSA, null, pub), "verifyInit");
                assertRv(CKR_OK, p11.verify(s, hash, 0, hash.length, sig.getData()), "verify");
                byte[] bad = sig.getData().clone();
                bad[r.nextInt(bad.length)] ^= 1;
                assertRv(CKR_OK, p11.verifyInit(s, CKM_ECDSA, null, pub), "verifyInit");
                assertRv(CKR_SIGNATURE_INVALID, p11.verify(s, hash, 0, hash.length, bad),
                        "verify of a changed signature");
                break;
            }
            case 3: {
                byte[] iv = new byte[16];
                r.nextBytes(iv);
                assertRv(CKR_OK, p11.encryptInit(s, CKM_AES_CBC_PAD, iv, aes), "encryptInit");
                CipherResult c = p11.encrypt(s, data, 0, data.length);
                assertRv(CKR_OK, c.getResult(), "encrypt");
                assertEquals((data.length / 16 + 1) * 16, c.getData().length, "padded length");
                assertRv(CKR_OK, p11.decryptInit(s, CKM_AES_CBC_PAD, iv, aes), "decryptInit");
                CipherResult p = p11.decrypt(s, c.getData(), 0, c.getData().length);
                assertRv(CKR_OK, p.getResult(), "decrypt");
                assertArrayEquals(data, p.getData(), "decrypted data");
                break;
            }
            default: {
                TemplateAttribute[] t = Attributes.of().add(CKA_LABEL, label).array();
                assertRv(CKR_OK, p11.findObjectsInitNative(s, t), "findObjectsInit");
                Handle[] found = new Handle[8];
                FindObjectsResult f = p11.findObjects(s, found);
                assertRv(CKR_OK, f.getResult(), "findObjects");
                assertRv(CKR_OK, p11.findObjectsFinal(s), "findObjectsFinal");
                assertEquals(labelled, new HashSet<>(List.of(Arrays.copyOf(found, f.getNumObjects()))), "found");
            }
        }
    }
}
