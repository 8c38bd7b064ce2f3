package corvaletest.real;

import static corvaletest.real.Tokens.*;
import static org.junit.jupiter.api.Assertions.*;

import java.util.HashSet;
import java.util.Set;
import org.junit.jupiter.api.Test;
import quorvel.pkcs.pkcs11.*;
import quorvel.pkcs.pkcs11.jni.NativeCryptokiFunctions;

/** SoftHSM2's answers through the bridge agree with what it tells a plain C client. */
class QueriesTest {

    private static final long TOKEN_FLAG_BITS = TokenInformationFlags.fromBits(-1L).toBits();
    private static final long MECHANISM_FLAG_BITS = MechanismInformationFlags.fromBits(-1L).toBits();

    @Test
    void librarySlotsTokensAndMechanismsAgree() throws Exception {
        NativeCryptokiFunctions p11 = Tokens.bind("softhsm2");
        String label = uniqueLabel("queries");
        newSoftHsmToken(p11, label, "so-pin-q", "user-pin-q");
        // SoftHSM2 numbers a token's slot anew when it loads it: bind again
        // so that this process and the probe see the same numbering.
        p11.finalize();
        p11 = Tokens.bind("softhsm2");
        try {
            Probe probe = Probe.run(System.getProperty("corvale.softhsm"));
            compare(p11, probe, slotLabelled(p11, label));
        } finally {
            p11.finalize();
        }
    }

    private static void compare(NativeCryptokiFunctions p11, Probe probe, SlotId mine) {
        Probe.Record pi = probe.all("info").get(0);
        GetInfoResult ir = p11.getInfo();
        assertRv(CKR_OK, ir.getReturnValue(), "getInfo");
        assertEquals(pi.version("cryptoki"), ir.getInfo().getVersion().getMajor() + "." + ir.getInfo().getVersion().getMinor());
        assertEquals(pi.version("library"),
                ir.getInfo().getLibraryVersion().getMajor() + "." + ir.getInfo().getLibraryVersion().getMinor());
        assertEquals(pi.text("manufacturer"), ir.getInfo().getManufacturerID());
        assertEquals(pi.text("description"), ir.getInfo().getLibraryDescription());

        Set<Long> probed = new HashSet<>();
        for (Probe.Record s : probe.all("slot")) probed.add(s.number("id"));
        Set<Long> listed = new HashSet<>();
        for (SlotId s : slots(p11, false)) listed.add(s.getId());
        assertEquals(probed, listed, "slot list");
        for (SlotId slot : slots(p11, false)) {
            Probe.Record ps = probe.one("slot", "id", slot.getId());
            GetSlotInfoResult sr = p11.getSlotInfo(slot);
            assertRv(CKR_OK, sr.getResult(), "getSlotInfo");
            assertEquals(ps.text("description"), sr.getInfo().getSlotDescription());
            assertEquals(ps.text("manufacturer"), sr.getInfo().getManufacturerID());
            assertEquals(ps.number("flags") & 0x7, sr.getInfo().getFlags().toBits(), "slot flags");
            assertEquals(ps.version("fw"), sr.getInfo().getFirmwareVersion().getMajor() + "."
                    + sr.getInfo().getFirmwareVersion().getMinor());
        }

        Probe.Record pt = probe.one("token", "slot", mine.getId());
        TokenInformation t = token(p11, mine);
        assertEquals(pt.text("label"), t.getLabel());
        assertEquals(pt.text("manufacturer"), t.getManufacterID());
        assertEquals(pt.text("model"), t.getModel());
        assertEquals(pt.text("serial"), t.getSerialNumber());
        assertEquals(pt.number("flags") & TOKEN_FLAG_BITS, t.getFlags().toBits(), "token flags " + t.getFlags());
        assertTrue(t.getFlags().isTokenInitialized() && t.getFlags().isUserPinInitialized());
        assertEquals((int) pt.number("maxPin"), t.getMaxPinLen());
        assertEquals((int) pt.number("minPin"), t.getMinPinLen());
        assertEquals(pt.number("maxSessions"), t.getMaxSessionCount());
        // SoftHSM2 reports no memory sizes: all-ones, zero-extended on i386.
        assertEquals(pt.number("totalPrivate"), t.getTotalPrivateMemory());
        assertEquals(pt.version("hw"), t.getHardwareVersion().getMajor() + "." + t.getHardwareVersion().getMinor());

        MechanismType[] mechanisms = p11.getMechanismList(mine).getMechanisms();
        assertEquals(probe.all("mechanism").stream().filter(m -> m.number("slot") == mine.getId()).count(),
                mechanisms.length, "mechanism count");
        for (MechanismType m : mechanisms) {
            Probe.Record pm = probe.one("mechanism", "slot", mine.getId(), "type", m.getType());
            MechanismInformationFlags[] flags = new MechanismInformationFlags[1];
            int[] sizes = new int[2];
            assertRv(CKR_OK, p11.getMechanismInfo(mine, m, flags, sizes), "getMechanismInfo " + m);
            long max = pm.number("max");
            assertEquals((int) pm.number("min"), sizes[0], m + " minimum");
            assertEquals((int) (Long.compareUnsigned(max, 0x80000000L) > 0 ? 0x80000000L : max), sizes[1], m + " maximum");
            assertEquals(pm.number("flags") & MECHANISM_FLAG_BITS, flags[0].toBits(), m + " flags " + flags[0]);
        }
    }
}
