package corvaletest.mock;

import static org.junit.jupiter.api.Assertions.*;
import static quorvel.pkcs.pkcs11.MechanismType.*;

import corvaletest.Mock;
import java.util.Arrays;
import org.junit.jupiter.api.Test;
import quorvel.pkcs.pkcs11.*;

/**
 * Inputs and outputs on both sides of the size at which the natives' buffers
 * leave the stack for the heap (4 KiB inputs, 4 KiB + 64 outputs): every byte
 * arrives, from the right slice, whichever kind of buffer carried it.
 */
class BufferSizesTest extends MockSession {

    private static final int[] SIZES = {1, 31, 32, 33, 255, 256, 257, 4095, 4096, 4097, 4159, 4160, 4161, 8192,
            65536, 100_001};
    private static final int OFFSET = 7;

    /** n bytes of a pattern that differs from position to position and from size to size. */
    private static byte[] data(int n) {
        byte[] b = new byte[n + 2 * OFFSET];
        for (int i = 0; i < b.length; ++i) b[i] = (byte) (i * 31 + n);
        return b;
    }

    private static byte[] slice(byte[] b, int n) {
        return Arrays.copyOfRange(b, OFFSET, OFFSET + n);
    }

    @Test
    void encryptAndDecryptCarryEveryByteOfTheSlice() {
        for (int n : SIZES) {
            byte[] in = data(n);
            assertRv(CKR_OK, p11.encryptInit(session, CKM_AES_CBC_PAD, null, AES_KEY));
            CipherResult c = p11.encrypt(session, in, OFFSET, n);
            assertRv(CKR_OK, c.getResult());
            assertArrayEquals(Mock.encrypted(slice(in, n)), c.getData(), "encrypt of " + n);

            assertRv(CKR_OK, p11.decryptInit(session, CKM_AES_CBC_PAD, null, AES_KEY));
            CipherResult d = p11.decrypt(session, c.getData(), 0, n);
            assertRv(CKR_OK, d.getResult());
            assertArrayEquals(slice(in, n), d.getData(), "decrypt of " + n);
        }
    }

    @Test
    void digestAndSignReadTheWholeSlice() {
        for (int n : SIZES) {
            byte[] in = data(n);
            assertRv(CKR_OK, p11.digestInit(session, CKM_SHA256, null));
            DigestResult d = p11.digest(session, in, OFFSET, n);
            assertRv(CKR_OK, d.getResult());
            assertArrayEquals(Mock.digest(slice(in, n)), d.getData(), "digest of " + n);

            assertRv(CKR_OK, p11.signInit(session, CKM_ECDSA, null, new Handle(Mock.EC_PRIVATE_KEY)));
            SignResult s = p11.sign(session, in, OFFSET, n);
            assertRv(CKR_OK, s.getResult());
            assertArrayEquals(Mock.signature(slice(in, n)), s.getData(), "sign of " + n);
        }
    }

    @Test
    void generateRandomFillsTheWholeArray() {
        int counter = 0;
        for (int n : SIZES) {
            byte[] buffer = new byte[n];
            Arrays.fill(buffer, (byte) 0xEE);
            assertRv(CKR_OK, p11.generateRandom(session, buffer));
            assertArrayEquals(Mock.random(counter, n), buffer, "random of " + n);
            counter += n;
        }
    }

    @Test
    void updatesAndFinalsCarryLargeParts() {
        for (int n : SIZES) {
            byte[] in = data(n);
            assertRv(CKR_OK, p11.encryptInit(session, CKM_AES_CBC_PAD, null, AES_KEY));
            CipherResult u = p11.encryptUpdate(session, in, OFFSET, n);
            assertRv(CKR_OK, u.getResult());
            assertArrayEquals(Mock.encrypted(slice(in, n)), u.getData(), "encryptUpdate of " + n);
            CipherResult f = p11.encryptFinal(session);
            assertRv(CKR_OK, f.getResult());
            assertEquals(0, f.getData().length);

            assertRv(CKR_OK, p11.digestInit(session, CKM_SHA256, null));
            assertRv(CKR_OK, p11.digestUpdate(session, in, OFFSET, n));
            DigestResult d = p11.digestFinal(session);
            assertRv(CKR_OK, d.getResult());
            assertArrayEquals(Mock.digest(slice(in, n)), d.getData(), "digestUpdate of " + n);
        }
    }
}
