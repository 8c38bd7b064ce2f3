package corvaletest.mock;

import static org.junit.jupiter.api.Assertions.*;

import corvaletest.Mock;
import java.lang.ref.WeakReference;
import org.junit.jupiter.api.Test;
import quorvel.pkcs.pkcs11.*;
import quorvel.pkcs.pkcs11.jni.NativeCryptokiFunctions;

/** Opening, describing and closing sessions, notifications, and saving operation state, against the mock. */
class SessionsTest extends MockBound {

    private static final NotifyEventHandler HANDLER = (s, e) -> { };

    private static WeakReference<NotifyEventHandler> refusedHandler(NativeCryptokiFunctions p11) {
        Object state = new Object();
        NotifyEventHandler handler = (s, e) -> state.hashCode();  // capturing: a new object each time
        assertEquals(0xE0, p11.openSession(new SlotId(2), OpenSessionFlags.readOnly(), handler).getResult().getValue());
        return new WeakReference<>(handler);
    }

    @Test
    void openingPassesSlotFlagsAndHandler() throws Exception {
        Mock.setNextSessionHandle(0xFFFFFFF0L);
        OpenSessionResult r = p11.openSession(new SlotId(0x100000001L), new OpenSessionFlags(0x100000006L));
        String expected = Mock.is32Bit() ? "C_OpenSession(slotID=1,flags=6,application=null,notify=null,session=ptr)"
                : "C_OpenSession(slotID=4294967297,flags=4294967302,application=null,notify=null,session=ptr)";
        assertEquals(expected, Mock.lastCall("C_OpenSession"));
        if (Mock.is32Bit()) {
            assertEquals(0, r.getResult().getValue());
            assertEquals(0xFFFFFFF0L, r.getHandle().getHandle(), "zero-extended");
        }

        r = p11.openSession(SLOT, OpenSessionFlags.readWrite(), HANDLER);
        assertEquals(0, r.getResult().getValue());
        assertEquals("C_OpenSession(slotID=1,flags=6,application=ptr,notify=ptr,session=ptr)",
                Mock.lastCall("C_OpenSession"));
        assertEquals(0, p11.closeSession(r.getHandle()).getValue());

        r = p11.openSession(new SlotId(2), OpenSessionFlags.readOnly(), HANDLER);
        assertEquals(0xE0, r.getResult().getValue(), "no token");
        assertEquals(0, r.getHandle().getHandle(), "cleared before the call");
        // A refused session pins nothing: its handler can be collected.
        WeakReference<NotifyEventHandler> refused = refusedHandler(p11);
        for (int i = 0; i < 100 && refused.get() != null; i++) {
            System.gc();
            Thread.sleep(10);
        }
        assertNull(refused.get(), "the refused session's handler is still referenced");

        Mock.clearCalls();
        assertNull(p11.openSession(null, OpenSessionFlags.readOnly()));
        assertNull(p11.openSession(SLOT, null));
        assertNull(p11.openSession(SLOT, OpenSessionFlags.readOnly(), null));
        assertNull(p11.openSession(null, OpenSessionFlags.readOnly(), HANDLER));
        assertNull(p11.openSession(SLOT, null, HANDLER));
        assertNull(p11.closeSession(null));
        assertNull(p11.closeAllSessions(null));
        assertNull(p11.getSessionInfo(null));
        assertNull(p11.getOperationState(null));
        assertEquals(0, Mock.calls().length);
    }

    @Test
    void aNotificationIsAnsweredByTheLibraryWithoutCallingTheHandler() {
        boolean[] called = {false};
        OpenSessionResult r = p11.openSession(SLOT, OpenSessionFlags.readWrite(), (s, e) -> called[0] = true);
        assertEquals(0, r.getResult().getValue());
        assertArrayEquals(new long[] {0}, Mock.notifySessions(NotifyEventHandler.CKN_SURRENDER));
        assertFalse(called[0]);
    }

    @Test
    void sessionInformationAndClosing() {
        SessionHandle rw = p11.openSession(SLOT, OpenSessionFlags.readWrite()).getHandle();
        SessionInformation info = p11.getSessionInfo(rw).getInfo();
        assertEquals(SLOT, info.getSlotId());
        assertEquals(SessionState.CKS_RW_PUBLIC_SESSION, info.getState().getValue());
        assertTrue(info.getFlags().isReadWriteSession() && info.getFlags().isSerialSession());

        Mock.setField("session.ulDeviceError", -1L);
        Mock.setField("session.state", 0x80000004L);
        Mock.setField("session.slotID", 0xFFFFFFFFL);
        info = p11.getSessionInfo(rw).getInfo();
        assertEquals(Mock.ulongMax(), info.getDeviceErrorCode());
        assertEquals(0x80000004L, info.getState().getValue());
        assertEquals(0xFFFFFFFFL, info.getSlotId().getId());

        assertEquals(0, p11.closeAllSessions(SLOT).getValue());
        assertEquals("C_CloseAllSessions(slotID=1)", Mock.lastCall("C_CloseAllSessions"));
        GetSessionInfoResult gone = p11.getSessionInfo(rw);
        assertEquals(0xB3, gone.getResult().getValue());
        assertEquals(0, gone.getInfo().getSlotId().getId(), "cleared before the call");
        assertEquals(0xB3, p11.closeSession(rw).getValue());
        assertEquals("C_CloseSession(session=" + rw.getHandle() + ")", Mock.lastCall("C_CloseSession"));
    }

    @Test
    void operationStateIsSavedAndRestoredThroughTwoCalls() {
        SessionHandle s = p11.openSession(SLOT, OpenSessionFlags.readOnly()).getHandle();
        byte[] state = {9, 8, 7, 6, 5};
        Mock.setOutput("C_GetOperationState", state);
        GetOperationStateResult r = p11.getOperationState(s);
        assertEquals(0, r.getResult().getValue());
        assertArrayEquals(state, r.getState());
        String[] calls = Mock.calls("C_GetOperationState");
        assertEquals("C_GetOperationState(session=1,operationState=null,operationStateLen=0)", calls[0]);
        assertEquals("C_GetOperationState(session=1,operationState=ptr,operationStateLen=5)", calls[1]);

        Mock.setOutput("C_GetOperationState", new byte[0]);
        r = p11.getOperationState(s);
        assertEquals(0, r.getResult().getValue());
        assertEquals(0, r.getState().length, "an empty state, not null");

        Mock.clearCalls();
        Mock.setRv("C_GetOperationState", Mock.callCount("C_GetOperationState") + 1, 0x180);
        r = p11.getOperationState(s);
        assertEquals(0x180, r.getResult().getValue());
        assertNull(r.getState());
        assertEquals(1, Mock.calls("C_GetOperationState").length, "no second call");

        Mock.setOutput("C_GetOperationState", state);
        Mock.setOutputLength("C_GetOperationState", Mock.FILL, 6);
        r = p11.getOperationState(s);
        assertEquals(0x5, r.getResult().getValue(), "longer than the room: CKR_GENERAL_ERROR");
        assertNull(r.getState());

        // The third argument is the encryption key, the fourth the authentication key.
        p11.setOperationState(s, state, new Handle(0x100000005L), new Handle(6));
        assertEquals("C_SetOperationState(session=1,operationState=0908070605,operationStateLen=5,encryptionKey="
                + (Mock.is32Bit() ? "5" : "4294967301") + ",authenticationKey=6)", Mock.lastCall("C_SetOperationState"));
        assertEquals(0x160, p11.setOperationState(s, new byte[0], new Handle(0), new Handle(0)).getValue());
        assertEquals("C_SetOperationState(session=1,operationState=,operationStateLen=0,encryptionKey=0,"
                + "authenticationKey=0)", Mock.lastCall("C_SetOperationState"));
        Mock.clearCalls();
        assertNull(p11.setOperationState(null, state, new Handle(0), new Handle(0)));
        assertNull(p11.setOperationState(s, null, new Handle(0), new Handle(0)));
        assertNull(p11.setOperationState(s, state, null, new Handle(0)));
        assertNull(p11.setOperationState(s, state, new Handle(0), null));
        assertEquals(0, Mock.calls().length);
    }
}
