package corvaletest.mock;

import static org.junit.jupiter.api.Assertions.*;

import corvaletest.Mock;
import java.util.ArrayList;
import java.util.HashSet;
import java.util.List;
import java.util.Set;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Test;
import quorvel.pkcs.pkcs11.*;
import quorvel.pkcs.pkcs11.jni.NativeCryptokiFunctions;

/** The mock's hostile mode: replayable, lying in every way it promises, ended by reset. */
class HostileModeTest {

    private NativeCryptokiFunctions p11;

    @AfterEach
    void unbind() {
        if (p11 != null) p11.finalize();
        Mock.resetAll();
    }

    private void bindHostile(long seed) {
        if (p11 != null) p11.finalize();
        Mock.resetAll();
        Mock.setRecording(false);
        Mock.hostile(seed);
        p11 = new NativeCryptokiFunctions();
        while (p11.doInitialize("mock") != 1) {
            // C_Initialize answers at random too
        }
    }

    /**
     * What 300 encrypt and getSlotList calls answered, as codes and lengths:
     * where the module reports more bytes than it wrote, the rest of the
     * buffer is whatever the library's memory held.
     */
    private List<String> answers() {
        List<String> out = new ArrayList<>();
        SessionHandle s = new SessionHandle(1);
        byte[] data = {1, 2, 3, 4, 5, 6, 7, 8};
        for (int i = 0; i < 300; i++) {
            CipherResult c = p11.encrypt(s, data, 0, data.length);
            out.add(c.getResult().getValue() + ":" + (c.getData() == null ? "null" : c.getData().length));
            SlotListResult l = p11.getSlotList(true);
            out.add(l.getReturnValue().getValue() + ":" + (l.getSlotIds() == null ? "null" : l.getSlotIds().length));
        }
        return out;
    }

    @Test
    void theSameSeedReplaysTheSameAnswers() {
        bindHostile(1234);
        List<String> first = answers();
        bindHostile(1234);
        assertEquals(first, answers());
        bindHostile(1235);
        assertNotEquals(first, answers());
    }

    @Test
    void answersLieInEveryPromisedWay() {
        bindHostile(99);
        Set<Long> codes = new HashSet<>();
        int withData = 0;
        for (String a : answers()) {
            String[] p = a.split(":", -1);
            codes.add(Long.parseLong(p[0]));
            if (a.startsWith("0:") && !p[1].equals("null")) withData++;
        }
        assertTrue(codes.contains(0L), "CKR_OK");
        assertTrue(codes.contains(0x150L), "CKR_BUFFER_TOO_SMALL");
        // A reported length above the room: the library's answer to the lie.
        assertTrue(codes.contains(0x5L), "CKR_GENERAL_ERROR from a count above the room");
        assertTrue(codes.stream().anyMatch(c -> c >= 0x80000000L), "vendor codes");
        assertTrue(withData > 0, "some outputs delivered");
        GetTokenInfoResult t = p11.getTokenInfo(new SlotId(1));
        for (int i = 0; i < 20 && t.getResult().getValue() != 0; i++) t = p11.getTokenInfo(new SlotId(1));
        assertNotEquals("Mock Token" + " ".repeat(22), t.getInfo().getLabel(), "garbage text");
    }

    @Test
    void resetEndsHostileMode() {
        bindHostile(7);
        p11.finalize();
        p11 = null;
        Mock.resetAll();
        p11 = new NativeCryptokiFunctions();
        assertEquals(1, p11.doInitialize("mock"));
        GetInfoResult i = p11.getInfo();
        assertEquals(0, i.getReturnValue().getValue());
        assertEquals(Mock.padded("Mock PKCS#11 Module", 32).length, i.getInfo().getLibraryDescription().length());
        assertTrue(i.getInfo().getLibraryDescription().startsWith("Mock PKCS#11 Module"));
    }
}
