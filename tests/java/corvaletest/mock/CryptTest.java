package corvaletest.mock;

import static corvaletest.Mock.*;
import static org.junit.jupiter.api.Assertions.*;
import static quorvel.pkcs.pkcs11.MechanismType.*;

import corvaletest.Mock;
import java.util.function.Supplier;
import org.junit.jupiter.api.Test;
import quorvel.pkcs.pkcs11.*;

/**
 * The cryptographic natives on the mock: the output protocol and its
 * variants, slices and arguments, the mechanism conversion, and that every
 * native reaches its own module function.
 */
class CryptTest extends MockSession {

    private static final byte[] IV = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    private static final long CKR_SIGNATURE_INVALID = 0xC0;

    /** Data and code of any data-returning result. */
    record Out(byte[] data, long rv) {
        static Out of(Object result) {
            assertNotNull(result, "a result, not a Java null");
            if (result instanceof CipherResult c) return new Out(c.getData(), c.getResult().getValue());
            if (result instanceof DigestResult d) return new Out(d.getData(), d.getResult().getValue());
            if (result instanceof SignResult s) return new Out(s.getData(), s.getResult().getValue());
            if (result instanceof WrapKeyResult w) return new Out(w.getData(), w.getResult().getValue());
            throw new AssertionError(result.getClass());
        }
    }

    private void encryptInit() {
        assertRv(CKR_OK, p11.encryptInit(session, CKM_AES_CBC_PAD, IV, AES_KEY));
        Mock.clearCalls();
    }

    @Test
    void lengthQueryThenExactlyTheReportedRoom() {
        encryptInit();
        byte[] framed = {9, 1, 2, 3, 4, 5, 9};
        Out r = Out.of(p11.encrypt(session, framed, 1, 5));
        assertEquals(CKR_OK, r.rv());
        assertArrayEquals(encrypted(new byte[] {1, 2, 3, 4, 5}), r.data());
        assertCalls("C_Encrypt(session=1,data=0102030405,dataLen=5,encryptedData=null,encryptedDataLen=0)",
                "C_Encrypt(session=1,data=0102030405,dataLen=5,encryptedData=ptr,encryptedDataLen=5)");
    }

    @Test
    void reportedZeroGivesSliceInputsOneByteAndFinalsAnEmptyBuffer() {
        encryptInit();
        Mock.setOutputLength("C_Encrypt", QUERY, 0);
        Mock.setOutputLength("C_Encrypt", FILL, 0);
        Out empty = Out.of(p11.encrypt(session, new byte[] {7}, 0, 1));
        assertEquals(CKR_OK, empty.rv());
        assertArrayEquals(new byte[0], empty.data(), "0 bytes out is an empty array");
        assertCalls("C_Encrypt(session=1,data=07,dataLen=1,encryptedData=null,encryptedDataLen=0)",
                "C_Encrypt(session=1,data=07,dataLen=1,encryptedData=ptr,encryptedDataLen=1)");

        // encrypt and decrypt finals keep an empty output ...
        encryptInit();
        Out last = Out.of(p11.encryptFinal(session));
        assertEquals(CKR_OK, last.rv());
        assertArrayEquals(new byte[0], last.data());
        assertCalls("C_EncryptFinal(session=1,lastEncryptedPart=null,lastEncryptedPartLen=0)",
                "C_EncryptFinal(session=1,lastEncryptedPart=ptr,lastEncryptedPartLen=0)");
        assertRv(CKR_OK, p11.decryptInit(session, CKM_AES_CBC_PAD, IV, AES_KEY));
        assertArrayEquals(new byte[0], Out.of(p11.decryptFinal(session)).data());

        // ... digest and sign finals drop it.
        for (String fn : new String[] {"C_DigestFinal", "C_SignFinal"}) {
            Mock.setOutputLength(fn, QUERY, 0);
            Mock.setOutputLength(fn, FILL, 0);
        }
        assertRv(CKR_OK, p11.digestInit(session, CKM_SHA256, null));
        Mock.clearCalls();
        Out digest = Out.of(p11.digestFinal(session));
        assertEquals(CKR_OK, digest.rv());
        assertNull(digest.data());
        assertCalls("C_DigestFinal(session=1,digest=null,digestLen=0)", "C_DigestFinal(session=1,digest=ptr,digestLen=0)");
        assertRv(CKR_OK, p11.signInit(session, CKM_ECDSA, null, new Handle(Mock.EC_PRIVATE_KEY)));
        Out sig = Out.of(p11.signFinal(session));
        assertEquals(CKR_OK, sig.rv());
        assertNull(sig.data());
    }

    @Test
    void bufferTooSmallFromTheSecondCallIsReturnedNotRetried() {
        encryptInit();
        Mock.setOutputLength("C_Encrypt", QUERY, 2);  // the output needs 3
        Out r = Out.of(p11.encrypt(session, new byte[] {1, 2, 3}, 0, 3));
        assertEquals(CKR_BUFFER_TOO_SMALL, r.rv(), "0x150 comes back as the positive 336");
        assertNull(r.data());
        assertEquals(2, Mock.calls("C_Encrypt").length);
    }

    @Test
    void aSecondCallClaimingMoreThanItsRoomIsAGeneralError() {
        encryptInit();
        Mock.setOutputLength("C_Encrypt", FILL, 100);
        Out r = Out.of(p11.encrypt(session, new byte[] {1, 2, 3}, 0, 3));
        assertEquals(CKR_GENERAL_ERROR, r.rv());
        assertNull(r.data());

        encryptInit();
        Mock.setOutputLength("C_EncryptFinal", FILL, 1);  // room 0
        Out last = Out.of(p11.encryptFinal(session));
        assertEquals(CKR_GENERAL_ERROR, last.rv());
        assertNull(last.data());

        // A length query no Java array could answer is refused before any room is made.
        encryptInit();
        Mock.clearCalls();
        Mock.setOutputLength("C_Encrypt", QUERY, 0xFFFFFFFFL);
        Out huge = Out.of(p11.encrypt(session, new byte[] {1, 2, 3}, 0, 3));
        assertEquals(CKR_GENERAL_ERROR, huge.rv());
        assertNull(huge.data());
        assertEquals(1, Mock.calls("C_Encrypt").length, "no second call");

        assertRv(CKR_OK, p11.verifyRecoverInit(session, CKM_RSA_PKCS, null, AES_KEY));
        Mock.setOutputLength("C_VerifyRecover", FILL, 0x7FFFFFFFL);
        Out recovered = Out.of(p11.verifyRecover(session, new byte[] {1, 2}));
        assertEquals(CKR_GENERAL_ERROR, recovered.rv());
        assertNull(recovered.data());
    }

    @Test
    void failedFirstOrSecondCallGivesItsCodeAndNoData() {
        encryptInit();
        nextRv("C_Encrypt", 1, 0x21);
        Out first = Out.of(p11.encrypt(session, new byte[] {1}, 0, 1));
        assertEquals(0x21, first.rv());
        assertNull(first.data());
        assertEquals(1, Mock.calls("C_Encrypt").length, "no second call after a failed query");
        Mock.clearCalls();

        nextRv("C_Encrypt", 2, 0x80000001L);
        Out second = Out.of(p11.encrypt(session, new byte[] {1}, 0, 1));
        assertEquals(0x80000001L, second.rv(), "vendor codes stay positive");
        assertNull(second.data());

        assertRv(CKR_OK, p11.signInit(session, CKM_ECDSA, null, new Handle(Mock.EC_PRIVATE_KEY)));
        nextRv("C_SignFinal", 2, 0x30);
        Out sig = Out.of(p11.signFinal(session));
        assertEquals(0x30, sig.rv());
        assertNull(sig.data());
    }

    @Test
    void unusableSlicesAndNullArgumentsNeverReachTheModule() {
        encryptInit();
        byte[] a = new byte[8];
        assertNull(p11.encrypt(null, a, 0, 1));
        assertNull(p11.encrypt(session, null, 0, 1));
        assertNull(p11.encrypt(session, a, 0, 0), "empty slice");
        assertNull(p11.encrypt(session, a, 4, 5), "ends past the array");
        assertNull(p11.encrypt(session, a, -1, 2));
        assertNull(p11.encrypt(session, a, 2, -1));
        assertNull(p11.encrypt(session, a, 0x7FFFFFFF, 1), "offset + length must not wrap");
        assertNull(p11.encrypt(session, a, 1, 0x7FFFFFFF));
        assertNull(p11.encrypt(session, new byte[0], 0, 0));
        assertNull(p11.digestUpdate(session, a, 8, 1));
        assertNull(p11.signUpdate(session, a, 0, 0));
        assertNull(p11.verifyUpdate(null, a, 0, 1));
        assertNull(p11.verify(session, a, 0, 1, new byte[0]), "an empty signature");
        assertNull(p11.verify(session, a, 0, 1, null));
        assertNull(p11.verify(session, a, 0, 9, new byte[1]));
        assertNull(p11.verifyRecover(session, new byte[0]));
        assertNull(p11.verifyRecover(session, null));
        assertNull(p11.verifyFinal(session, null));
        assertNull(p11.encryptFinal(null));
        assertNull(p11.digestFinal(null));
        assertNull(p11.encryptInit(session, null, IV, AES_KEY));
        assertNull(p11.encryptInit(session, CKM_AES_CBC_PAD, IV, null));
        assertNull(p11.encryptInit(null, CKM_AES_CBC_PAD, IV, AES_KEY));
        assertNull(p11.digestInit(session, null, null));
        assertNull(p11.digestKey(session, null));
        assertNoCalls();

        // The whole array up to its last byte is fine.
        assertEquals(CKR_OK, Out.of(p11.encrypt(session, a, 7, 1)).rv());
    }

    @Test
    void mechanismParameterAndNumbersReachTheModuleAsGiven() {
        assertRv(CKR_OK, p11.encryptInit(session, CKM_AES_CBC_PAD, IV, AES_KEY));
        assertRv(CKR_OK, p11.encryptFinal(session).getResult());
        assertRv(CKR_OK, p11.encryptInit(session, CKM_AES_CBC_PAD, null, AES_KEY));
        assertRv(CKR_OK, p11.encryptFinal(session).getResult());
        assertRv(CKR_OK, p11.encryptInit(session, CKM_AES_CBC_PAD, new byte[0], AES_KEY));
        assertRv(CKR_OK, p11.encryptFinal(session).getResult());
        String[] inits = Mock.calls("C_EncryptInit");
        assertEquals("C_EncryptInit(session=1,mechanism={mechanism=4229,parameter=" + hex(IV)
                + ",parameterLen=16},key=1)", inits[0]);
        assertEquals("C_EncryptInit(session=1,mechanism={mechanism=4229,parameter=null,parameterLen=0},key=1)", inits[1]);
        assertEquals(inits[1], inits[2], "an empty parameter is no parameter");

        // Numbers above 32 bits: cut on i386, whole on x86-64.
        Mock.clearCalls();
        long wide = 0x1_0000_1085L;
        p11.decryptInit(session, new MechanismType(wide), null, new Handle(0x2_0000_0001L));
        assertCalls("C_DecryptInit(session=1,mechanism={mechanism=" + logged(wide)
                + ",parameter=null,parameterLen=0},key=" + logged(0x2_0000_0001L) + ")");

        nextRv("C_DigestInit", 1, 0x150);
        assertRv(336, p11.digestInit(session, CKM_SHA256, null));
        nextRv("C_DigestInit", 1, -1L);
        assertRv(Mock.ulongMax(), p11.digestInit(session, CKM_SHA256, null));
    }

    /** One data-returning native: how to start its operation, call it, and what it must give. */
    private void wired(String function, Runnable init, Supplier<Object> call, byte[] expected) {
        init.run();
        Mock.clearCalls();
        Out r = Out.of(call.get());
        assertEquals(CKR_OK, r.rv(), function);
        assertArrayEquals(expected, r.data(), function);
        String[] lines = Mock.calls();
        assertEquals(2, lines.length, function);
        for (String line : lines) assertTrue(line.startsWith(function + "(session=1,"), line);
    }

    @Test
    void everyDataNativeReachesItsOwnFunction() {
        byte[] d = {0x10, 0x20, 0x30, 0x40};
        byte[] x = {0, 0x10, 0x20, 0x30, 0x40, 0};  // d framed
        Handle ec = new Handle(Mock.EC_PRIVATE_KEY);
        Runnable enc = () -> assertRv(CKR_OK, p11.encryptInit(session, CKM_AES_CBC_PAD, IV, AES_KEY));
        Runnable dec = () -> assertRv(CKR_OK, p11.decryptInit(session, CKM_AES_CBC_PAD, IV, AES_KEY));
        Runnable dig = () -> assertRv(CKR_OK, p11.digestInit(session, CKM_SHA256, null));
        Runnable sig = () -> assertRv(CKR_OK, p11.signInit(session, CKM_ECDSA, null, ec));
        Runnable ver = () -> assertRv(CKR_OK, p11.verifyInit(session, CKM_ECDSA, null, ec));

        wired("C_Encrypt", enc, () -> p11.encrypt(session, x, 1, 4), encrypted(d));
        wired("C_Decrypt", dec, () -> p11.decrypt(session, x, 1, 4), encrypted(d));
        wired("C_Digest", dig, () -> p11.digest(session, x, 1, 4), digest(d));
        wired("C_Sign", sig, () -> p11.sign(session, x, 1, 4), signature(d));
        wired("C_SignRecover", () -> assertRv(CKR_OK, p11.signRecoverInit(session, CKM_RSA_PKCS, null, ec)),
                () -> p11.signRecover(session, x, 1, 4), recovered(d));
        wired("C_VerifyRecover", () -> assertRv(CKR_OK, p11.verifyRecoverInit(session, CKM_RSA_PKCS, null, ec)),
                () -> p11.verifyRecover(session, d), recovered(d));
        wired("C_EncryptUpdate", enc, () -> p11.encryptUpdate(session, x, 1, 4), encrypted(d));
        wired("C_EncryptFinal", () -> {}, () -> p11.encryptFinal(session), new byte[0]);
        wired("C_DecryptUpdate", dec, () -> p11.decryptUpdate(session, x, 1, 4), encrypted(d));
        wired("C_DecryptFinal", () -> {}, () -> p11.decryptFinal(session), new byte[0]);

        wired("C_DigestEncryptUpdate", () -> { dig.run(); enc.run(); },
                () -> p11.digestEncryptUpdate(session, x, 1, 4), encrypted(d));
        wired("C_DecryptDigestUpdate", () -> dec.run(), () -> p11.decryptDigestUpdate(session, x, 1, 4), encrypted(d));
        wired("C_DigestFinal", () -> {}, () -> p11.digestFinal(session), digest(d, encrypted(d)));
        wired("C_EncryptFinal", () -> {}, () -> p11.encryptFinal(session), new byte[0]);
        wired("C_DecryptFinal", () -> {}, () -> p11.decryptFinal(session), new byte[0]);

        wired("C_SignEncryptUpdate", () -> { sig.run(); enc.run(); },
                () -> p11.signEncryptUpdate(session, x, 1, 4), encrypted(d));
        wired("C_DecryptVerifyUpdate", () -> { ver.run(); dec.run(); },
                () -> p11.decryptVerifyUpdate(session, x, 1, 4), encrypted(d));
        wired("C_SignFinal", () -> {}, () -> p11.signFinal(session), signature(d));
        Mock.clearCalls();
        assertRv(CKR_OK, p11.verifyFinal(session, signature(encrypted(d))));
        assertCalls("C_VerifyFinal(session=1,signature=" + hex(signature(encrypted(d))) + ",signatureLen=32)");
    }

    @Test
    void everyInitAndInputNativeReachesItsOwnFunction() {
        String mech = "mechanism={mechanism=4161,parameter=null,parameterLen=0}";
        Handle ec = new Handle(Mock.EC_PRIVATE_KEY);
        assertRv(CKR_OK, p11.signInit(session, CKM_ECDSA, null, ec));
        assertRv(CKR_OK, p11.signUpdate(session, new byte[] {1, 2, 3}, 1, 2));
        assertRv(CKR_OK, p11.signRecoverInit(session, CKM_ECDSA, null, ec));
        assertRv(CKR_OK, p11.verifyInit(session, CKM_ECDSA, null, ec));
        assertRv(CKR_OK, p11.verifyUpdate(session, new byte[] {4}, 0, 1));
        assertRv(CKR_OK, p11.verifyRecoverInit(session, CKM_ECDSA, null, ec));
        assertRv(CKR_OK, p11.digestInit(session, CKM_ECDSA, null));
        assertRv(CKR_OK, p11.digestUpdate(session, new byte[] {5, 6}, 0, 2));
        assertRv(CKR_OK, p11.digestKey(session, AES_KEY));
        assertCalls("C_SignInit(session=1," + mech + ",key=3)",
                "C_SignUpdate(session=1,part=0203,partLen=2)",
                "C_SignRecoverInit(session=1," + mech + ",key=3)",
                "C_VerifyInit(session=1," + mech + ",key=3)",
                "C_VerifyUpdate(session=1,part=04,partLen=1)",
                "C_VerifyRecoverInit(session=1," + mech + ",key=3)",
                "C_DigestInit(session=1," + mech + ")",
                "C_DigestUpdate(session=1,part=0506,partLen=2)",
                "C_DigestKey(session=1,key=1)");
    }

    @Test
    void verificationCodesAndEmptySignatures() {
        byte[] data = {1, 2, 3};
        Handle ec = new Handle(Mock.EC_PUBLIC_KEY);
        assertRv(CKR_OK, p11.verifyInit(session, CKM_ECDSA, null, ec));
        assertRv(CKR_OK, p11.verify(session, data, 0, 3, signature(data)));
        assertRv(CKR_OK, p11.verifyInit(session, CKM_ECDSA, null, ec));
        byte[] wrong = signature(data);
        wrong[5] ^= 1;
        assertRv(CKR_SIGNATURE_INVALID, p11.verify(session, data, 0, 3, wrong));

        assertRv(CKR_OK, p11.verifyInit(session, CKM_ECDSA, null, ec));
        Mock.clearCalls();
        assertRv(0xC1, p11.verifyFinal(session, new byte[0]));
        assertCalls("C_VerifyFinal(session=1,signature=null,signatureLen=0)");
    }
}
