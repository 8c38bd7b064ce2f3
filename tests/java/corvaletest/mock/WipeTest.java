package corvaletest.mock;

import static org.junit.jupiter.api.Assertions.*;

import corvaletest.Attributes;
import corvaletest.Child;
import corvaletest.Mock;
import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import org.junit.jupiter.api.Assumptions;
import org.junit.jupiter.api.Test;
import quorvel.pkcs.pkcs11.*;
import quorvel.pkcs.pkcs11.jni.NativeCryptokiFunctions;

/**
 * Secrets the library copies are overwritten before the memory is freed or
 * the native returns: main, in a child JVM with tests/wipecheck.cpp
 * preloaded, hands the library one of each, all bearing a marker, first
 * well past the room kept on the stack, then small enough to stay there.
 * Heap blocks are searched for the marker as they are freed; the mock
 * reports every secret buffer it is handed, and after each native none may
 * be left unwiped. The JVM's own copies never pass through the library's
 * delete operators. Outputs that are not secret (ciphertext) may keep it.
 */
class WipeTest {

    @Test
    void noSecretOutlivesItsHeapBlockOrItsNative() throws Exception {
        String preload = System.getenv("LD_PRELOAD");
        Assumptions.assumeFalse(preload != null && preload.contains("asan"), "the sanitizer's operators come first");
        Child.Result r = new Child()
                .env("LD_PRELOAD", System.getProperty("corvale.build") + "/tests/lib/libwipecheck.so")
                .env("CORVALE_WIPE_MARKER", "wipe-marker-" + System.nanoTime())
                .run(WipeTest.class.getName());
        assertEquals(0, r.exit, r.toString());
        assertEquals("", r.ownStdout(), r.toString());
        assertFalse(r.err().contains("unwiped"), r.toString());
        assertTrue(r.err().matches("(?s).*wipecheck: [1-9][0-9]* blocks\n.*"), "the check ran: " + r);
    }

    public static void main(String[] args) {
        String marker = System.getenv("CORVALE_WIPE_MARKER");
        NativeCryptokiFunctions p11 = Mock.bound();
        SessionHandle s = p11.openSession(new SlotId(1), OpenSessionFlags.readWrite()).getHandle();
        Handle key = new Handle(Mock.AES_KEY);
        MechanismType aes = MechanismType.CKM_AES_CBC_PAD;
        check(Mock.unwiped() == 0, "the wipe check answers");
        check(p11.login(s, UserType.USER, marker).getValue() == 0xA0, "login");
        for (int[] size : new int[][] {{65536, 4096}, {32, 16}}) {
            byte[] data = repeated(marker, size[0]), value = repeated(marker, size[1]);
            // A mechanism parameter and plaintext in; plaintext and random bytes out.
            check(p11.encryptInit(s, aes, value, key).getValue() == 0, "encryptInit");
            check(Arrays.equals(p11.encrypt(s, data, 0, data.length).getData(), Mock.encrypted(data)), "encrypt");
            p11.decryptInit(s, aes, null, key);
            check(Arrays.equals(p11.decrypt(s, Mock.encrypted(data), 0, data.length).getData(), data), "decrypt");
            Mock.setOutput("C_GenerateRandom", data);
            byte[] random = new byte[data.length];
            check(p11.generateRandom(s, random).getValue() == 0 && Arrays.equals(random, data), "generateRandom");
            // A template value in and out: a key's value made, generated and unwrapped, and read back.
            TemplateAttribute[] secret = Attributes.of().ulong(AttributeType.CKA_CLASS, Attributes.CKO_DATA)
                    .add(AttributeType.CKA_VALUE, value).array();
            Handle object = p11.createObjectNative(s, secret).getObjectHandle();
            check(object != null, "createObject");
            TemplateAttribute[] read = Attributes.of().read(AttributeType.CKA_VALUE).array();
            p11.getAttributeValueNative(s, object, read);
            check(Arrays.equals(Attributes.valueOf(read, AttributeType.CKA_VALUE), value), "getAttributeValue");
            check(p11.generateKeyNative(s, MechanismType.CKM_AES_KEY_GEN, null, secret).getResult().isOk(), "generateKey");
            check(p11.unwrapKeyNative(s, aes, null, key, Mock.encrypted(value), secret).getResult().isOk(), "unwrapKey");
        }
        p11.finalize();
    }

    static byte[] repeated(String marker, int length) {
        byte[] m = marker.getBytes(StandardCharsets.UTF_8), out = new byte[length];
        for (int i = 0; i < length; i++) out[i] = m[i % m.length];
        return out;
    }

    /** A step that worked, and left no secret the module was handed unwiped. */
    static void check(boolean ok, String step) {
        if (!ok) throw new AssertionError(step);
        long unwiped = Mock.unwiped();
        if (unwiped != 0) throw new AssertionError(step + ": " + unwiped + " secret buffers left unwiped");
    }
}
