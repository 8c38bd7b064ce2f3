package corvaletest.mock;

import static org.junit.jupiter.api.Assertions.*;
import static quorvel.pkcs.pkcs11.MechanismType.*;

import corvaletest.Mock;
import java.util.function.Function;
import org.junit.jupiter.api.Test;
import quorvel.pkcs.pkcs11.*;
import quorvel.pkcs.pkcs11.jni.NativeCryptokiFunctions;

/** Natives of an object without a bound module (new, refused, finalised) call nothing. */
class NotBoundTest {

    private static final long NOT_INITIALIZED = 0x190;

    @Test
    void everyNativeAnswersNotInitializedWithoutData() {
        Mock.resetAll();
        NativeCryptokiFunctions bound = new NativeCryptokiFunctions();
        assertEquals(1, bound.doInitialize("mock"));
        bound.finalize();  // once bound and now finalised: as unbound as a new one
        for (NativeCryptokiFunctions p11 : new NativeCryptokiFunctions[] {new NativeCryptokiFunctions(), bound}) {
            check(p11);
        }
        assertEquals(0, Mock.calls().length - Mock.calls("C_Initialize").length - Mock.calls("C_Finalize").length,
                String.join("\n", Mock.calls()));
    }

    @Test
    void queryLoginAndSessionNativesAnswerNotInitializedToo() {
        Mock.resetAll();
        NativeCryptokiFunctions bound = new NativeCryptokiFunctions();
        assertEquals(1, bound.doInitialize("mock"));
        NativeCryptokiFunctions refused = new NativeCryptokiFunctions();
        assertEquals(0, refused.doInitialize("mock"));
        Mock.clearCalls();
        SlotId slot = new SlotId(1);
        SessionHandle s = new SessionHandle(1);
        for (NativeCryptokiFunctions p11 : new NativeCryptokiFunctions[] {new NativeCryptokiFunctions(), refused}) {
            GetInfoResult info = p11.getInfo();
            assertNull(info.getInfo());
            assertEquals(NOT_INITIALIZED, info.getReturnValue().getValue());
            SlotListResult slots = p11.getSlotList(true);
            assertNull(slots.getSlotIds());
            assertEquals(NOT_INITIALIZED, slots.getReturnValue().getValue());
            assertNull(p11.getSlotInfo(slot).getInfo());
            assertEquals(NOT_INITIALIZED, p11.getSlotInfo(slot).getResult().getValue());
            assertEquals(NOT_INITIALIZED, p11.getTokenInfo(slot).getResult().getValue());
            assertNull(p11.getMechanismList(slot).getMechanisms());
            MechanismInformationFlags[] flags = new MechanismInformationFlags[1];
            int[] sizes = {7, 7};
            assertEquals(NOT_INITIALIZED,
                    p11.getMechanismInfo(slot, MechanismType.CKM_SHA256, flags, sizes).getValue());
            assertNull(flags[0]);
            assertArrayEquals(new int[] {7, 7}, sizes);
            assertEquals(NOT_INITIALIZED, p11.waitForSlotEvent(false).getResult().getValue());
            for (ReturnValue rv : new ReturnValue[] {
                p11.initToken(slot, "so", "label"), p11.initPIN(s, "1234"), p11.setPIN(s, "1234", "5678"),
                p11.login(s, UserType.USER, "1234"), p11.logout(s), p11.closeSession(s),
                p11.closeAllSessions(slot), p11.setOperationState(s, new byte[1], new Handle(0), new Handle(0)),
            }) {
                assertEquals(NOT_INITIALIZED, rv.getValue());
            }
            OpenSessionResult opened = p11.openSession(slot, new OpenSessionFlags());
            assertEquals(NOT_INITIALIZED, opened.getResult().getValue());
            assertEquals(NOT_INITIALIZED, p11.openSession(slot, new OpenSessionFlags(), (h, e) -> { })
                    .getResult().getValue());
            assertEquals(NOT_INITIALIZED, p11.getSessionInfo(s).getResult().getValue());
            assertNull(p11.getOperationState(s).getState());
            assertEquals(NOT_INITIALIZED, p11.getOperationState(s).getResult().getValue());
        }
        assertEquals(0, Mock.calls().length, String.join("\n", Mock.calls()));
        refused.finalize();
        bound.finalize();
    }

    private static void check(NativeCryptokiFunctions p11) {
        SessionHandle s = new SessionHandle(1);
        Handle h = new Handle(1);
        MechanismType m = CKM_AES_CBC_PAD;
        byte[] d = {1, 2, 3};
        TemplateAttribute[] t = {new TemplateAttribute(AttributeType.CKA_LABEL, d)};

        for (ReturnValue rv : new ReturnValue[] {
            p11.destroyObject(s, h), p11.getAttributeValueNative(s, h, t), p11.setAttributeValueNative(s, h, t),
            p11.findObjectsInitNative(s, t), p11.findObjectsFinal(s),
            p11.encryptInit(s, m, d, h), p11.decryptInit(s, m, d, h), p11.digestInit(s, m, d),
            p11.signInit(s, m, d, h), p11.signRecoverInit(s, m, d, h), p11.verifyInit(s, m, d, h),
            p11.verifyRecoverInit(s, m, d, h), p11.digestUpdate(s, d, 0, 3), p11.signUpdate(s, d, 0, 3),
            p11.verifyUpdate(s, d, 0, 3), p11.digestKey(s, h), p11.verify(s, d, 0, 3, d), p11.verifyFinal(s, d),
            p11.seedRandom(s, d), p11.generateRandom(s, d),
        }) {
            assertEquals(NOT_INITIALIZED, rv.getValue());
        }
        assertArrayEquals(new byte[] {1, 2, 3}, d, "generateRandom wrote nothing");

        Function<Object, Object[]> parts = r -> {
            if (r instanceof CipherResult c) return new Object[] {c.getData(), c.getResult()};
            if (r instanceof DigestResult g) return new Object[] {g.getData(), g.getResult()};
            if (r instanceof SignResult g) return new Object[] {g.getData(), g.getResult()};
            if (r instanceof WrapKeyResult w) return new Object[] {w.getData(), w.getResult()};
            throw new AssertionError(r);
        };
        for (Object r : new Object[] {
            p11.encrypt(s, d, 0, 3), p11.decrypt(s, d, 0, 3), p11.digest(s, d, 0, 3), p11.sign(s, d, 0, 3),
            p11.signRecover(s, d, 0, 3), p11.encryptUpdate(s, d, 0, 3), p11.decryptUpdate(s, d, 0, 3),
            p11.digestEncryptUpdate(s, d, 0, 3), p11.decryptDigestUpdate(s, d, 0, 3),
            p11.signEncryptUpdate(s, d, 0, 3), p11.decryptVerifyUpdate(s, d, 0, 3), p11.verifyRecover(s, d),
            p11.encryptFinal(s), p11.decryptFinal(s), p11.digestFinal(s), p11.signFinal(s),
            p11.wrapKey(s, m, d, h, h),
        }) {
            Object[] p = parts.apply(r);
            assertNull(p[0], r.toString());
            assertEquals(NOT_INITIALIZED, ((ReturnValue) p[1]).getValue(), r.toString());
        }

        assertEquals(NOT_INITIALIZED, p11.createObjectNative(s, t).getResult().getValue());
        assertEquals(NOT_INITIALIZED, p11.copyObjectNative(s, h, t).getResult().getValue());
        assertEquals(NOT_INITIALIZED, p11.getObjectSize(s, h).getResult().getValue());
        FindObjectsResult found = p11.findObjects(s, new Handle[2]);
        assertEquals(NOT_INITIALIZED, found.getResult().getValue());
        assertEquals(0, found.getNumObjects());
        assertEquals(NOT_INITIALIZED, p11.generateKeyNative(s, m, d, t).getResult().getValue());
        assertEquals(NOT_INITIALIZED, p11.generateKeyPairNative(s, m, d, t, t).getResult().getValue());
        assertEquals(NOT_INITIALIZED, p11.unwrapKeyNative(s, m, d, h, d, t).getResult().getValue());
    }
}
