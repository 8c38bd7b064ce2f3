package corvaletest.real;

import static org.junit.jupiter.api.Assertions.*;

import java.util.List;
import quorvel.pkcs.pkcs11.*;
import quorvel.pkcs.pkcs11.jni.NativeCryptokiFunctions;

/** Steps the real-module tests share: binding, finding and preparing tokens. */
final class Tokens {

    static final long CKR_OK = 0x0;

    private Tokens() {
    }

    static NativeCryptokiFunctions bind(String module) {
        NativeCryptokiFunctions p11 = new NativeCryptokiFunctions();
        assertEquals(1, p11.doInitialize(module), "binding " + module);
        return p11;
    }

    static void assertRv(long expected, ReturnValue rv, String what) {
        assertEquals(expected, rv.getValue(), () -> what + ": " + rv);
    }

    static List<SlotId> slots(NativeCryptokiFunctions p11, boolean tokenPresent) {
        SlotListResult r = p11.getSlotList(tokenPresent);
        assertRv(CKR_OK, r.getReturnValue(), "getSlotList");
        return List.of(r.getSlotIds());
    }

    static TokenInformation token(NativeCryptokiFunctions p11, SlotId slot) {
        GetTokenInfoResult r = p11.getTokenInfo(slot);
        assertRv(CKR_OK, r.getResult(), "getTokenInfo " + slot);
        return r.getInfo();
    }

    /** A label as the token stores it: blank-padded to the width. */
    static String padded(String text, int width) {
        return text + " ".repeat(width - text.length());
    }

    static SlotId slotLabelled(NativeCryptokiFunctions p11, String label) {
        for (SlotId s : slots(p11, true)) {
            if (token(p11, s).getLabel().equals(padded(label, 32))) return s;
        }
        throw new AssertionError("no token labelled " + label);
    }

    static SessionHandle open(NativeCryptokiFunctions p11, SlotId slot, OpenSessionFlags flags) {
        OpenSessionResult r = p11.openSession(slot, flags);
        assertRv(CKR_OK, r.getResult(), "openSession");
        return r.getHandle();
    }

    /** Initialises SoftHSM2's free token, sets the user PIN and returns the slot that now holds it. */
    static SlotId newSoftHsmToken(NativeCryptokiFunctions p11, String label, String soPin, String userPin) {
        SlotId free = slots(p11, true).stream().filter(s -> !token(p11, s).getFlags().isTokenInitialized())
                .findFirst().orElseThrow(() -> new AssertionError("SoftHSM2 offers a free token"));
        assertRv(CKR_OK, p11.initToken(free, soPin, label), "initToken");
        SlotId slot = slotLabelled(p11, label);
        SessionHandle so = open(p11, slot, OpenSessionFlags.readWrite());
        assertRv(CKR_OK, p11.login(so, UserType.SO, soPin), "SO login");
        assertRv(CKR_OK, p11.initPIN(so, userPin), "initPIN");
        assertRv(CKR_OK, p11.closeSession(so), "closeSession");
        return slot;
    }

    /** A label no other test uses. */
    static String uniqueLabel(String prefix) {
        return prefix + "-" + Long.toString(System.nanoTime() % 100000000L, 36);
    }
}
