package corvaletest.real;

import static corvaletest.real.Tokens.*;
import static org.junit.jupiter.api.Assertions.*;

import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import quorvel.pkcs.pkcs11.*;
import quorvel.pkcs.pkcs11.jni.NativeCryptokiFunctions;

/** Token initialisation, PINs, login and sessions on SoftHSM2, with the module's own codes. */
class LoginTest {

    private static final long CKR_PIN_INCORRECT = 0xA0;

    private NativeCryptokiFunctions p11;

    @BeforeEach
    void bind() {
        p11 = Tokens.bind("softhsm2");
    }

    @AfterEach
    void unbind() {
        p11.finalize();
    }

    private long state(SessionHandle s) {
        GetSessionInfoResult r = p11.getSessionInfo(s);
        assertRv(CKR_OK, r.getResult(), "getSessionInfo");
        return r.getInfo().getState().getValue();
    }

    @Test
    void loginLogoutAndPinChanges() {
        SlotId slot = newSoftHsmToken(p11, uniqueLabel("login"), "so-pin-1", "user-pin-1");
        SessionHandle ro = open(p11, slot, OpenSessionFlags.readOnly());
        SessionInformation info = p11.getSessionInfo(ro).getInfo();
        assertEquals(slot, info.getSlotId());
        assertFalse(info.getFlags().isReadWriteSession());
        assertTrue(info.getFlags().isSerialSession());
        SessionHandle s = p11.openSession(slot, OpenSessionFlags.readWrite(), (h, e) -> { }).getHandle();
        assertTrue(p11.getSessionInfo(s).getInfo().getFlags().isReadWriteSession());

        assertRv(CKR_PIN_INCORRECT, p11.login(s, UserType.USER, "user-pin-2"), "wrong PIN");
        assertRv(CKR_OK, p11.login(s, UserType.USER, "user-pin-1"), "login");
        assertRv(0x100, p11.login(s, UserType.USER, "user-pin-1"), "CKR_USER_ALREADY_LOGGED_IN");
        assertEquals(SessionState.CKS_RW_USER_FUNCTIONS, state(s));
        assertEquals(SessionState.CKS_RO_USER_FUNCTIONS, state(ro), "login is the application's");
        assertRv(CKR_PIN_INCORRECT, p11.setPIN(s, "not-the-pin", "new-pin-1"), "setPIN with a wrong old PIN");
        assertRv(CKR_OK, p11.setPIN(s, "user-pin-1", "new-pin-1"), "setPIN");
        assertRv(CKR_OK, p11.logout(s), "logout");
        assertEquals(SessionState.CKS_RW_PUBLIC_SESSION, state(s));
        assertRv(CKR_PIN_INCORRECT, p11.login(s, UserType.USER, "user-pin-1"), "old PIN");
        assertRv(CKR_OK, p11.login(s, UserType.USER, "new-pin-1"), "new PIN");

        assertRv(CKR_OK, p11.closeSession(ro), "closeSession");
        assertRv(CKR_OK, p11.closeAllSessions(slot), "closeAllSessions");
        assertRv(0xB3, p11.getSessionInfo(s).getResult(), "CKR_SESSION_HANDLE_INVALID");
    }

    @Test
    void nonAsciiPinKeepsItsStoredForm() {
        // The module gets the first length() bytes of the modified UTF-8 form:
        // "é1234" is 5 UTF-16 units, so C3 A9 31 32 33. PINs stored that way
        // must go on matching, and a PIN differing only past those bytes does too.
        String pin = "\u00e91234";
        SlotId slot = newSoftHsmToken(p11, uniqueLabel("utf8"), "so-pin-1", pin);
        SessionHandle s = open(p11, slot, OpenSessionFlags.readWrite());
        assertRv(CKR_PIN_INCORRECT, p11.login(s, UserType.USER, "\u00e91334"), "a PIN differing in the first bytes");
        assertRv(CKR_OK, p11.login(s, UserType.USER, pin), "the PIN as set");
        assertRv(CKR_OK, p11.logout(s), "logout");
        assertRv(CKR_OK, p11.login(s, UserType.USER, "\u00e91239"), "same first five bytes");
        assertRv(CKR_OK, p11.closeSession(s), "closeSession");
    }

    @Test
    void initTokenChecksTheSoPinAndPadsOrCutsTheLabel() {
        String label = uniqueLabel("lbl");
        SlotId slot = newSoftHsmToken(p11, label, "so-pin-1", "user-pin-1");
        assertEquals(padded(label, 32), token(p11, slot).getLabel());
        assertRv(CKR_PIN_INCORRECT, p11.initToken(slot, "so-pin-2", "other"), "re-initialise with a wrong SO PIN");
        String forty = "0123456789abcdefghijklmnopqrstuvwxyzABCD";
        assertRv(CKR_OK, p11.initToken(slot, "so-pin-1", forty), "re-initialise");
        assertEquals(forty.substring(0, 32), token(p11, slot).getLabel());
        assertRv(CKR_OK, p11.initToken(slot, "so-pin-1", ""), "empty label");
        assertEquals(padded("", 32), token(p11, slot).getLabel());
    }
}
