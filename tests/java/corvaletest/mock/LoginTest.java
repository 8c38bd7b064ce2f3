package corvaletest.mock;

import static org.junit.jupiter.api.Assertions.*;

import corvaletest.Mock;
import java.nio.charset.StandardCharsets;
import org.junit.jupiter.api.Test;
import quorvel.pkcs.pkcs11.*;

/** What the token, PIN and login natives hand the module, byte for byte. */
class LoginTest extends MockSession {

    private static String hex(String s) {
        return Mock.hex(s.getBytes(StandardCharsets.UTF_8));
    }

    @Test
    void pinsReachTheModuleAsTheirFirstLengthBytes() {
        assertEquals(0, p11.login(session, UserType.USER, Mock.USER_PIN).getValue());
        assertEquals("C_Login(session=1,userType=1,pin=31323334,pinLen=4)", Mock.lastCall("C_Login"));
        assertEquals(0x100, p11.login(session, UserType.USER, Mock.USER_PIN).getValue(), "already logged in");
        assertEquals(0, p11.logout(session).getValue());
        assertEquals(0x101, p11.logout(session).getValue(), "nobody logged in");
        assertEquals(0xA0, p11.login(session, UserType.USER, "").getValue());
        assertEquals("C_Login(session=1,userType=1,pin=,pinLen=0)", Mock.lastCall("C_Login"),
                "an empty PIN is an empty, non-null text");
        // "é1" is two UTF-16 units: the module gets C3 A9 and length 2.
        p11.login(session, UserType.USER, "\u00e91");
        assertEquals("C_Login(session=1,userType=1,pin=c3a9,pinLen=2)", Mock.lastCall("C_Login"));
        // User types are 32-bit numbers, passed unchecked and unsigned.
        p11.login(session, new UserType(0x80000001, "vendor"), Mock.USER_PIN);
        assertEquals("C_Login(session=1,userType=2147483649,pin=31323334,pinLen=4)", Mock.lastCall("C_Login"));
    }

    @Test
    void pinChangesAndTokenInitialisation() {
        assertEquals(0, p11.login(session, UserType.SO, Mock.SO_PIN).getValue());
        assertEquals(0, p11.initPIN(session, "5678").getValue());
        assertEquals("C_InitPIN(session=1,pin=35363738,pinLen=4)", Mock.lastCall("C_InitPIN"));
        assertEquals(0, p11.logout(session).getValue());
        assertEquals(0, p11.login(session, UserType.USER, "5678").getValue());
        assertEquals(0, p11.setPIN(session, "5678", "\u00fcber-pin").getValue());
        assertEquals("C_SetPIN(session=1,oldPin=35363738,oldLen=4,newPin=" + hex("\u00fcber-pi")
                + ",newLen=8)", Mock.lastCall("C_SetPIN"));
        assertEquals(0, p11.logout(session).getValue());
        assertEquals(0, p11.login(session, UserType.USER, "\u00fcber-pin").getValue(), "set and used");
        assertEquals(0, p11.closeSession(session).getValue());

        String[][] labels = {{"seven77", "seven77"}, {"x".repeat(40), "x".repeat(32)}, {"", ""}};
        for (String[] l : labels) {
            assertEquals(0, p11.initToken(SLOT, Mock.SO_PIN, l[0]).getValue());
            assertEquals("C_InitToken(slotID=1,pin=" + hex(Mock.SO_PIN) + ",pinLen=8,label="
                    + Mock.hex(Mock.padded(l[1], 32)) + ")", Mock.lastCall("C_InitToken"));
        }
        assertEquals(0xA0, p11.initToken(SLOT, "wrong-so", "label").getValue());
    }

    @Test
    void nullArgumentsCallNothing() {
        assertNull(p11.initToken(null, Mock.SO_PIN, "l"));
        assertNull(p11.initToken(SLOT, null, "l"));
        assertNull(p11.initToken(SLOT, Mock.SO_PIN, null));
        assertNull(p11.initPIN(null, "1234"));
        assertNull(p11.initPIN(session, null));
        assertNull(p11.setPIN(null, "1234", "5678"));
        assertNull(p11.setPIN(session, null, "5678"));
        assertNull(p11.setPIN(session, "1234", null));
        assertNull(p11.login(null, UserType.USER, "1234"));
        assertNull(p11.login(session, null, "1234"));
        assertNull(p11.login(session, UserType.USER, null));
        assertNull(p11.logout(null));
        assertEquals(0, Mock.calls().length);
    }
}
