package corvaletest.mock;

import static corvaletest.Attributes.*;
import static corvaletest.Mock.*;
import static org.junit.jupiter.api.Assertions.*;
import static quorvel.pkcs.pkcs11.AttributeType.*;
import static quorvel.pkcs.pkcs11.MechanismType.*;

import corvaletest.Attributes;
import corvaletest.Mock;
import org.junit.jupiter.api.Test;
import quorvel.pkcs.pkcs11.*;

/** Key generation, wrapping, unwrapping and random numbers on the mock. */
class KeysTest extends MockSession {

    private static final String NO_PARAMETER = "parameter=null,parameterLen=0";

    /** A new extractable AES key of the mock's value 00..0f. */
    private Handle generated() {
        GenerateKeyResult r = p11.generateKeyNative(session, CKM_AES_KEY_GEN, null,
                Attributes.of().bool(CKA_EXTRACTABLE, true).array());
        assertRv(CKR_OK, r.getResult());
        return r.getKeyHandle();
    }

    private static byte[] counting(int n) {
        return Mock.random(0, n);
    }

    @Test
    void generatedPairNamesThePrivateKeyFirst() {
        GenerateKeyPairResult pair = p11.generateKeyPairNative(session, CKM_EC_KEY_PAIR_GEN, new byte[] {1, 2},
                Attributes.of().text(CKA_LABEL, "pub").array(), Attributes.of().text(CKA_LABEL, "priv").array());
        assertRv(CKR_OK, pair.getResult());
        assertCalls("C_GenerateKeyPair(session=1,mechanism={mechanism=4160,parameter=0102,parameterLen=2},"
                + "publicKeyTemplate=[{type=3,value=707562,valueLen=3}],publicKeyAttributeCount=1,"
                + "privateKeyTemplate=[{type=3,value=70726976,valueLen=4}],privateKeyAttributeCount=1,"
                + "publicKey=ptr,privateKey=ptr)");
        // The mock stores the public key first.
        assertEquals(FIRST_NEW_OBJECT + 1, pair.getPrivateKeyHandle().getValue());
        assertEquals(FIRST_NEW_OBJECT, pair.getPublicKeyHandle().getValue());
        TemplateAttribute[] t = Attributes.of().read(CKA_CLASS).array();
        assertRv(CKR_OK, p11.getAttributeValueNative(session, pair.getPrivateKeyHandle(), t));
        assertArrayEquals(ulong(CKO_PRIVATE_KEY), (byte[]) t[0].getValue());

        nextRv("C_GenerateKeyPair", 1, 0xD0);
        GenerateKeyPairResult failed = p11.generateKeyPairNative(session, CKM_EC_KEY_PAIR_GEN, null,
                new TemplateAttribute[0], new TemplateAttribute[0]);
        assertRv(0xD0, failed.getResult());
        assertEquals(0, failed.getPrivateKeyHandle().getValue());
        assertEquals(0, failed.getPublicKeyHandle().getValue());
    }

    @Test
    void generateKeyPassesMechanismAndTemplate() {
        Handle key = generated();
        assertEquals(FIRST_NEW_OBJECT, key.getValue());
        assertCalls("C_GenerateKey(session=1,mechanism={mechanism=4224," + NO_PARAMETER + "},"
                + "template=[{type=354,value=01,valueLen=1}],count=1,key=ptr)");
        nextRv("C_GenerateKey", 1, 0x70);
        GenerateKeyResult failed = p11.generateKeyNative(session, CKM_AES_KEY_GEN, null, new TemplateAttribute[0]);
        assertRv(0x70, failed.getResult());
        assertEquals(0, failed.getKeyHandle().getValue());
    }

    @Test
    void wrapIsTwoCallsAndUnwrapGivesTheKeyBack() {
        Handle key = generated();
        Mock.clearCalls();
        WrapKeyResult wrapped = p11.wrapKey(session, CKM_AES_CBC_PAD, null, AES_KEY, key);
        assertRv(CKR_OK, wrapped.getResult());
        assertArrayEquals(encrypted(counting(16)), wrapped.getData());
        String mech = "mechanism={mechanism=4229," + NO_PARAMETER + "}";
        assertCalls("C_WrapKey(session=1," + mech + ",wrappingKey=1,key=5,wrappedKey=null,wrappedKeyLen=0)",
                "C_WrapKey(session=1," + mech + ",wrappingKey=1,key=5,wrappedKey=ptr,wrappedKeyLen=16)");

        GenerateKeyResult unwrapped = p11.unwrapKeyNative(session, CKM_AES_CBC_PAD, null, AES_KEY,
                wrapped.getData(), Attributes.of().bool(CKA_SENSITIVE, false).array());
        assertRv(CKR_OK, unwrapped.getResult());
        TemplateAttribute[] t = Attributes.of().read(CKA_VALUE).array();
        assertRv(CKR_OK, p11.getAttributeValueNative(session, unwrapped.getKeyHandle(), t));
        assertArrayEquals(counting(16), (byte[]) t[0].getValue());

        // An empty wrapped key still reaches the module, for it to refuse.
        Mock.clearCalls();
        GenerateKeyResult empty = p11.unwrapKeyNative(session, CKM_AES_CBC_PAD, null, AES_KEY, new byte[0],
                new TemplateAttribute[0]);
        assertNotEquals(CKR_OK, empty.getResult().getValue());
        assertEquals(0, empty.getKeyHandle().getValue());
        assertCalls("C_UnwrapKey(session=1," + mech + ",unwrappingKey=1,wrappedKey=null,wrappedKeyLen=0,"
                + "template=[],attributeCount=0,key=ptr)");
    }

    @Test
    void wrapOutputVariants() {
        Handle key = generated();
        Mock.setOutputLength("C_WrapKey", QUERY, 0);
        Mock.setOutputLength("C_WrapKey", FILL, 0);
        Mock.clearCalls();
        WrapKeyResult empty = p11.wrapKey(session, CKM_AES_CBC_PAD, null, AES_KEY, key);
        assertRv(CKR_OK, empty.getResult());
        assertArrayEquals(new byte[0], empty.getData(), "an empty wrapping is kept");
        assertTrue(Mock.lastCall("C_WrapKey").endsWith("wrappedKey=ptr,wrappedKeyLen=0)"), "a valid zero-size buffer");

        Mock.reset();
        p11.finalize();
        bindAndOpen();
        key = generated();
        Mock.setOutputLength("C_WrapKey", QUERY, 8);  // needs 16
        WrapKeyResult small = p11.wrapKey(session, CKM_AES_CBC_PAD, null, AES_KEY, key);
        assertRv(CKR_BUFFER_TOO_SMALL, small.getResult());
        assertNull(small.getData());
        assertEquals(2, Mock.calls("C_WrapKey").length, "not retried");

        Mock.setOutputLength("C_WrapKey", QUERY, 16);
        Mock.setOutputLength("C_WrapKey", FILL, 17);
        WrapKeyResult lie = p11.wrapKey(session, CKM_AES_CBC_PAD, null, AES_KEY, key);
        assertRv(CKR_GENERAL_ERROR, lie.getResult());
        assertNull(lie.getData());

        nextRv("C_WrapKey", 1, 0x6A);
        WrapKeyResult refused = p11.wrapKey(session, CKM_AES_CBC_PAD, null, AES_KEY, key);
        assertRv(0x6A, refused.getResult());
        assertNull(refused.getData());
    }

    @Test
    void randomFillsTheArrayAndSeedsPassThrough() {
        byte[] a = new byte[5];
        assertRv(CKR_OK, p11.generateRandom(session, a));
        assertArrayEquals(counting(5), a);
        assertRv(CKR_OK, p11.seedRandom(session, new byte[] {1, 2}));
        byte[] b = new byte[2];
        assertRv(CKR_OK, p11.generateRandom(session, b));
        assertArrayEquals(Mock.random(3, 2), b, "the seed set the counter to 1 + 2");
        assertCalls("C_GenerateRandom(session=1,randomData=ptr,randomLen=5)",
                "C_SeedRandom(session=1,seed=0102,seedLen=2)",
                "C_GenerateRandom(session=1,randomData=ptr,randomLen=2)");

        byte[] none = new byte[0];
        assertRv(CKR_OK, p11.seedRandom(session, none));
        p11.generateRandom(session, none);
        assertCalls("C_SeedRandom(session=1,seed=null,seedLen=0)", "C_GenerateRandom(session=1,randomData=null,randomLen=0)");

        // A failed call leaves the array as it was, byte for byte.
        byte[] kept = {9, 8, 7};
        nextRv("C_GenerateRandom", 1, 0x121);
        assertRv(0x121, p11.generateRandom(session, kept));
        assertArrayEquals(new byte[] {9, 8, 7}, kept);
        // A module writing only part of the buffer: the rest keeps its bytes.
        Mock.setOutput("C_GenerateRandom", new byte[] {42});
        assertRv(CKR_OK, p11.generateRandom(session, kept));
        assertArrayEquals(new byte[] {42, 8, 7}, kept);
    }

    @Test
    void nullArgumentsReturnNullWithoutACall() {
        TemplateAttribute[] t = new TemplateAttribute[0];
        assertNull(p11.generateKeyNative(null, CKM_AES_KEY_GEN, null, t));
        assertNull(p11.generateKeyNative(session, null, null, t));
        assertNull(p11.generateKeyNative(session, CKM_AES_KEY_GEN, null, null));
        assertNull(p11.generateKeyPairNative(session, CKM_EC_KEY_PAIR_GEN, null, null, t));
        assertNull(p11.generateKeyPairNative(session, CKM_EC_KEY_PAIR_GEN, null, t, null));
        assertNull(p11.wrapKey(session, CKM_AES_CBC_PAD, null, null, AES_KEY));
        assertNull(p11.wrapKey(session, CKM_AES_CBC_PAD, null, AES_KEY, null));
        assertNull(p11.wrapKey(session, null, null, AES_KEY, AES_KEY));
        assertNull(p11.unwrapKeyNative(session, CKM_AES_CBC_PAD, null, AES_KEY, null, t));
        assertNull(p11.unwrapKeyNative(session, CKM_AES_CBC_PAD, null, null, new byte[1], t));
        assertNull(p11.unwrapKeyNative(session, CKM_AES_CBC_PAD, null, AES_KEY, new byte[1], null));
        assertNull(p11.seedRandom(session, null));
        assertNull(p11.generateRandom(null, new byte[1]));
        assertNull(p11.generateRandom(session, null));
        assertNoCalls();
    }
}
