package corvaletest.real;

import static corvaletest.real.Tokens.*;
import static org.junit.jupiter.api.Assertions.*;

import java.util.List;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import quorvel.pkcs.pkcs11.*;
import quorvel.pkcs.pkcs11.jni.NativeCryptokiFunctions;

/** NSS softoken: information, slots and tokens, and a user PIN set and used. */
class SoftokenTest {

    private NativeCryptokiFunctions p11;

    @BeforeEach
    void bind() {
        p11 = Tokens.bind("softoken");
    }

    @AfterEach
    void unbind() {
        p11.finalize();
    }

    @Test
    void informationSlotsAndTokensComeThrough() {
        GetInfoResult info = p11.getInfo();
        assertRv(CKR_OK, info.getReturnValue(), "getInfo");
        assertTrue(info.getInfo().getManufacturerID().startsWith("Mozilla"), info.getInfo().getManufacturerID());
        List<SlotId> slots = slots(p11, false);
        assertEquals(2, slots.size(), slots.toString());
        assertTrue(token(p11, slots.get(0)).getLabel().startsWith("NSS Generic Crypto Services"));
        assertTrue(token(p11, slots.get(1)).getLabel().startsWith("NSS Certificate DB"));
        for (SlotId s : slots) {
            assertTrue(p11.getSlotInfo(s).getInfo().getFlags().isTokenPresent());
            assertTrue(token(p11, s).getFlags().isRng());
            for (MechanismType m : p11.getMechanismList(s).getMechanisms()) {
                assertRv(CKR_OK, p11.getMechanismInfo(s, m, new MechanismInformationFlags[1], new int[2]), m.toString());
            }
        }
    }

    @Test
    void userPinCanBeSetAndUsed() {
        SlotId db = slots(p11, true).get(1);
        // An empty SO PIN resets the certificate database.
        assertRv(CKR_OK, p11.initToken(db, "", "corvale"), "initToken");
        SessionHandle s = open(p11, db, OpenSessionFlags.readWrite());
        assertRv(CKR_OK, p11.login(s, UserType.SO, ""), "SO login");
        assertRv(CKR_OK, p11.initPIN(s, "nss-pin-1"), "initPIN");
        assertRv(CKR_OK, p11.logout(s), "logout");
        assertTrue(token(p11, db).getFlags().isUserPinInitialized());
        assertRv(0xA0, p11.login(s, UserType.USER, "nss-pin-2"), "wrong PIN");
        assertRv(CKR_OK, p11.login(s, UserType.USER, "nss-pin-1"), "user login");
        assertRv(0x100, p11.login(s, UserType.USER, "nss-pin-1"), "second login");
        assertRv(CKR_OK, p11.setPIN(s, "nss-pin-1", "nss-pin-3"), "setPIN");
        assertRv(CKR_OK, p11.logout(s), "logout");
        assertRv(CKR_OK, p11.login(s, UserType.USER, "nss-pin-3"), "login with the new PIN");
        assertRv(CKR_OK, p11.closeSession(s), "closeSession");
    }
}
