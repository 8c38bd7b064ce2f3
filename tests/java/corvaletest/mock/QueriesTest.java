package corvaletest.mock;

import static org.junit.jupiter.api.Assertions.*;

import corvaletest.Mock;
import java.nio.charset.StandardCharsets;
import java.time.Instant;
import java.util.Arrays;
import org.junit.jupiter.api.Test;
import quorvel.pkcs.pkcs11.*;
import quorvel.pkcs.pkcs11.jni.NativeCryptokiFunctions;

/** Library, slot, token and mechanism queries against the mock module. */
class QueriesTest extends MockBound {

    private static final long CKR_GENERAL_ERROR = 0x5;
    private static final long CKR_BUFFER_TOO_SMALL = 0x150;

    private static long[] ids(SlotId[] slots) {
        return Arrays.stream(slots).mapToLong(SlotId::getId).toArray();
    }

    private TokenInformation token() {
        GetTokenInfoResult r = p11.getTokenInfo(SLOT);
        assertEquals(0, r.getResult().getValue());
        return r.getInfo();
    }

    private static String padded(String text, int width) {
        return new String(Mock.padded(text, width), StandardCharsets.ISO_8859_1);
    }

    @Test
    void libraryInformationAndReturnCodeWidths() {
        Mock.setField("info.flags", -1L);  // not carried
        Mock.setField("info.libraryVersion.major", 255);
        Mock.setField("info.libraryVersion.minor", 255);
        CryptokiInformation info = p11.getInfo().getInfo();
        assertEquals(new Version(2, 40), info.getVersion());
        assertEquals(new Version(255, 255), info.getLibraryVersion());
        assertEquals(padded("Mock PKCS#11 Module", 32), info.getLibraryDescription());
        assertNotNull(info.getFlags());

        // Vendor codes stay positive; all-ones is 4294967295 from 32 bits, -1 from 64.
        nextRv("C_GetInfo", 1, 0x80000001L);
        nextRv("C_GetInfo", 2, -1L);
        assertEquals(0x80000001L, p11.getInfo().getReturnValue().getValue());
        GetInfoResult failed = p11.getInfo();
        assertEquals(Mock.ulongMax(), failed.getReturnValue().getValue());
        assertEquals("", failed.getInfo().getManufacturerID(), "the structure was cleared before the call");
        assertEquals(new Version(0, 0), failed.getInfo().getVersion());
    }

    @Test
    void slotListsOfAnyLength() {
        assertArrayEquals(new long[] {1, 2}, ids(p11.getSlotList(false).getSlotIds()));
        assertArrayEquals(new long[] {1}, ids(p11.getSlotList(true).getSlotIds()));
        assertEquals("C_GetSlotList(tokenPresent=1,slotList=null,count=0)", Mock.calls("C_GetSlotList")[2]);
        for (int n : new int[] {0, 11, 40, 500}) {
            Mock.setSlots(n, true);
            SlotListResult r = Mock.withinLocalRoom(() -> p11.getSlotList(true));
            assertEquals(0, r.getReturnValue().getValue());
            assertEquals(n, r.getSlotIds().length, "the whole list, empty but not null for none");
            if (n > 0) assertEquals(n, r.getSlotIds()[n - 1].getId());
        }
        Mock.setSlots(new long[] {0xFFFFFFFFL, 0x80000000L, -1L}, new boolean[] {true, false, true});
        assertArrayEquals(new long[] {0xFFFFFFFFL, 0x80000000L, Mock.ulongMax()},
                ids(p11.getSlotList(false).getSlotIds()));
    }

    @Test
    void slotListAsksAgainWhenSlotsAppearAndTrustsNoCount() {
        nextRv("C_GetSlotList", 2, CKR_BUFFER_TOO_SMALL);  // a slot appeared after the length query
        SlotListResult r = p11.getSlotList(false);
        assertArrayEquals(new long[] {1, 2}, ids(r.getSlotIds()));
        assertEquals(4, Mock.calls("C_GetSlotList").length);

        nextRv("C_GetSlotList", 1, 0x30);
        Mock.clearCalls();
        r = p11.getSlotList(false);
        assertEquals(0x30, r.getReturnValue().getValue(), "a failed length query");
        assertNull(r.getSlotIds());
        assertEquals(1, Mock.calls("C_GetSlotList").length);

        Mock.setOutputLength("C_GetSlotList", Mock.FILL, 3);
        r = p11.getSlotList(false);
        assertEquals(CKR_GENERAL_ERROR, r.getReturnValue().getValue(), "more slots than room");
        assertNull(r.getSlotIds());

        Mock.setOutputLength("C_GetSlotList", Mock.QUERY, 0xFFFFFFFFL);
        Mock.clearCalls();
        assertEquals(CKR_GENERAL_ERROR, p11.getSlotList(false).getReturnValue().getValue(), "too long for Java");
        assertEquals(1, Mock.calls("C_GetSlotList").length, "and no room is made for it");
    }

    @Test
    void slotListGivesUpOnAListThatNeverSettles() {
        Mock.growAfterQuery("C_GetSlotList", 1);
        SlotListResult r = p11.getSlotList(false);
        assertEquals(CKR_BUFFER_TOO_SMALL, r.getReturnValue().getValue());
        assertNull(r.getSlotIds());
        assertTrue(Mock.callCount("C_GetSlotList") < 50, "bounded retries");
    }

    @Test
    void slotInformation() {
        Mock.setField("slot.slotDescription", new byte[] {'a', 'b', 0, 'c'});
        SlotInformation info = p11.getSlotInfo(SLOT).getInfo();
        assertEquals("ab", info.getSlotDescription(), "cut at the zero byte");
        assertEquals(padded("Mock Manufacturer", 32), info.getManufacturerID());
        GetSlotInfoResult unknown = p11.getSlotInfo(new SlotId(9));
        assertEquals(0x3, unknown.getResult().getValue());
        assertEquals("", unknown.getInfo().getSlotDescription(), "cleared before the call");
        assertEquals(0, unknown.getInfo().getFlags().toBits());
    }

    @Test
    void flagRecordsKeepTheirBitOrder() {
        long tokenBits = TokenInformationFlags.fromBits(-1L).toBits();
        long mechanismBits = MechanismInformationFlags.fromBits(-1L).toBits();
        MechanismInformationFlags[] flags = new MechanismInformationFlags[1];
        SessionHandle session = p11.openSession(SLOT, OpenSessionFlags.readOnly()).getHandle();
        for (int bit = 0; bit < 32; bit++) {
            long b = 1L << bit;
            for (String s : new String[] {"slot", "token", "session", "mechanism"}) Mock.setField(s + ".flags", b);
            assertEquals(b & 0x7, p11.getSlotInfo(SLOT).getInfo().getFlags().toBits(), "slot bit " + bit);
            assertEquals(b & tokenBits, token().getFlags().toBits(), "token bit " + bit);
            assertEquals(0, p11.getMechanismInfo(SLOT, MechanismType.CKM_SHA256, flags, new int[2]).getValue());
            assertEquals(b & mechanismBits, flags[0].toBits(), "mechanism bit " + bit);
            assertEquals(b & 0x6, p11.getSessionInfo(session).getInfo().getFlags().toBits(), "session bit " + bit);
        }
        Mock.setField("token.flags", 0xFFFFFFFFL);
        assertEquals(tokenBits, token().getFlags().toBits(), "all 18");
    }

    @Test
    void tokenInformationNumbersAndClock() {
        String[] fields = {"ulMaxSessionCount", "ulSessionCount", "ulMaxRwSessionCount", "ulRwSessionCount",
            "ulMaxPinLen", "ulMinPinLen", "ulTotalPublicMemory", "ulFreePublicMemory", "ulTotalPrivateMemory",
            "ulFreePrivateMemory"};
        for (int i = 0; i < fields.length; i++) Mock.setField("token." + fields[i], 0x80000000L + i);
        Mock.setField("token.hardwareVersion.major", 3);
        Mock.setField("token.firmwareVersion.minor", 9);
        TokenInformation t = token();
        assertArrayEquals(new long[] {0x80000000L, 0x80000001L, 0x80000002L, 0x80000003L, 0x80000006L, 0x80000007L,
            0x80000008L, 0x80000009L}, new long[] {t.getMaxSessionCount(), t.getSessionCount(),
                t.getMaxReadWriteSessionCount(), t.getReadWriteSessionCount(), t.getTotalPublicMemory(),
                t.getFreePublicMemory(), t.getTotalPrivateMemory(), t.getFreePrivateMemory()}, "unsigned, in order");
        assertArrayEquals(new int[] {0x80000004, 0x80000005}, new int[] {t.getMaxPinLen(), t.getMinPinLen()});
        assertEquals(new Version(3, 0), t.getHardwareVersion());
        assertEquals(new Version(1, 9), t.getFirmwareVersion());
        assertEquals(Instant.parse("2026-12-08T12:00:00Z"), t.getUTCTime().toInstant());
        assertEquals(padded("Mock Token", 32), t.getLabel());
        assertEquals(padded("MOCK0001", 16), t.getSerialNumber());

        Mock.setField("token.ulMaxSessionCount", -1L);
        Mock.setField("token.ulMaxPinLen", -1L);
        Mock.setField("token.utcTime", Mock.padded("", 16));
        t = token();
        assertEquals(Mock.ulongMax(), t.getMaxSessionCount(), "CK_UNAVAILABLE_INFORMATION");
        assertEquals(-1, t.getMaxPinLen());
        assertNull(t.getUTCTime(), "a blank clock");

        nextRv("C_GetTokenInfo", 1, 0xE0);
        GetTokenInfoResult failed = p11.getTokenInfo(SLOT);
        assertEquals(0xE0, failed.getResult().getValue());
        assertEquals("", failed.getInfo().getLabel(), "cleared before the call");
        assertNull(failed.getInfo().getUTCTime());
    }

    @Test
    void textFieldsAreDecodedAsUtf8() {
        Mock.setField("token.label", Mock.padded("", 32));
        assertEquals(" ".repeat(32), token().getLabel(), "32 blanks stay");
        // Valid UTF-8 (2 and 4 bytes) comes through; anything else becomes U+FFFD.
        byte[] raw = {(byte) 0xC3, (byte) 0xA9, (byte) 0xF0, (byte) 0x9F, (byte) 0x98, (byte) 0x80,
            (byte) 0xE9, 'x', (byte) 0xC0, (byte) 0x80, (byte) 0xED, (byte) 0xA0, (byte) 0x80, (byte) 0xE2,
            (byte) 0x82};
        Mock.setField("token.label", raw);
        assertEquals("\u00e9\ud83d\ude00\ufffdx\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd" + " ".repeat(17),
                token().getLabel());
        Mock.setField("token.model", "Z".repeat(16));
        assertEquals("Z".repeat(16), token().getModel(), "a field without blanks or zero");
    }

    @Test
    void mechanismListAndItsFailures() {
        GetMechanismListResult r = p11.getMechanismList(SLOT);
        assertEquals(6, r.getMechanisms().length);
        assertEquals(MechanismType.CKM_RSA_PKCS, r.getMechanisms()[0]);
        Mock.setMechanisms(0x80000000L, 0xFFFFFFFFL, -1L);
        assertArrayEquals(new long[] {0x80000000L, 0xFFFFFFFFL, Mock.ulongMax()},
                Arrays.stream(p11.getMechanismList(SLOT).getMechanisms()).mapToLong(MechanismType::getType).toArray());
        Mock.setMechanisms(java.util.stream.LongStream.range(0x100, 0x128).toArray());
        assertEquals(40, Mock.withinLocalRoom(() -> p11.getMechanismList(SLOT)).getMechanisms().length);
        Mock.setMechanisms();
        r = p11.getMechanismList(SLOT);
        assertEquals(0, r.getResult().getValue());
        assertEquals(0, r.getMechanisms().length, "an empty list, not null");
        assertEquals(0xE0, p11.getMechanismList(new SlotId(2)).getResult().getValue(), "no token");

        Mock.clearCalls();
        nextRv("C_GetMechanismList", 1, 0x30);
        r = p11.getMechanismList(SLOT);
        assertEquals(0x30, r.getResult().getValue());
        assertNull(r.getMechanisms());
        assertEquals(1, Mock.calls("C_GetMechanismList").length, "no second call after a failed query");

        Mock.growAfterQuery("C_GetMechanismList", 1);
        r = p11.getMechanismList(SLOT);
        assertEquals(CKR_BUFFER_TOO_SMALL, r.getResult().getValue(), "passed on, not retried");
        assertNull(r.getMechanisms());

        Mock.clearCalls();
        Mock.setOutputLength("C_GetMechanismList", Mock.QUERY, 0x80000000L);
        assertEquals(CKR_GENERAL_ERROR, p11.getMechanismList(SLOT).getResult().getValue(), "too long for Java");
        assertEquals(1, Mock.calls("C_GetMechanismList").length, "and not asked for");
        Mock.setOutputLength("C_GetMechanismList", Mock.QUERY, 1);
        Mock.setOutputLength("C_GetMechanismList", Mock.FILL, 7);
        r = p11.getMechanismList(SLOT);
        assertEquals(CKR_GENERAL_ERROR, r.getResult().getValue(), "more than the room");
        assertNull(r.getMechanisms());
    }

    @Test
    void mechanismInformationKeySizesAndArrays() {
        long sha = MechanismType.CKM_SHA256.getType();
        MechanismInformationFlags[] flags = new MechanismInformationFlags[1];
        long[][] cases = {{0xFFFFFFFFL, Integer.MIN_VALUE}, {0x80000000L, Integer.MIN_VALUE}, {4096, 4096},
            {0x7FFFFFFFL, Integer.MAX_VALUE}, {-1L, Integer.MIN_VALUE}};
        for (long[] c : cases) {
            Mock.setMechanismInfo(sha, 512, c[0], 0x400);
            int[] sizes = new int[3];
            assertEquals(0, p11.getMechanismInfo(SLOT, MechanismType.CKM_SHA256, flags, sizes).getValue());
            assertArrayEquals(new int[] {512, (int) c[1], 0}, sizes, "maximum " + Long.toHexString(c[0]));
            assertTrue(flags[0].isDigest());
        }
        // Only the type's low 32 bits reach an i386 module.
        MechanismType wide = new MechanismType(0x100000000L | sha);
        assertEquals(Mock.is32Bit() ? 0 : 0x70, p11.getMechanismInfo(SLOT, wide, flags, new int[2]).getValue());

        flags[0] = null;
        int[] sizes = {7, 7};
        assertEquals(0x70, p11.getMechanismInfo(SLOT, new MechanismType(0x9999), flags, sizes).getValue());
        assertNull(flags[0], "untouched on failure");
        assertArrayEquals(new int[] {7, 7}, sizes);

        Mock.clearCalls();
        MechanismType t = MechanismType.CKM_SHA256;
        assertEquals(0x7, p11.getMechanismInfo(SLOT, t, null, new int[2]).getValue());
        assertEquals(0x7, p11.getMechanismInfo(SLOT, t, flags, null).getValue());
        assertEquals(0x7, p11.getMechanismInfo(SLOT, t, flags, new int[1]).getValue());
        assertEquals(0x7, p11.getMechanismInfo(SLOT, t, new MechanismInformationFlags[0], new int[2]).getValue());
        assertNull(p11.getMechanismInfo(null, t, flags, new int[2]));
        assertNull(p11.getMechanismInfo(SLOT, null, flags, new int[2]));
        assertNull(p11.getSlotInfo(null));
        assertNull(p11.getTokenInfo(null));
        assertNull(p11.getMechanismList(null));
        assertEquals(0, Mock.calls().length, "the module was not asked");
    }

    @Test
    void waitForSlotEvent() throws Exception {
        WaitForSlotEventResult r = p11.waitForSlotEvent(false);
        assertEquals(0x8, r.getResult().getValue(), "CKR_NO_EVENT at once");
        assertEquals("C_WaitForSlotEvent(flags=1,slot=ptr,reserved=null)", Mock.lastCall("C_WaitForSlotEvent"));
        Mock.addSlotEvent(0xFFFFFFF7L);
        r = p11._waitForSlotEvent(false);
        assertEquals(0, r.getResult().getValue());
        assertEquals(0xFFFFFFF7L, r.getSlotId().getId());

        // A blocking wait returns with the event that ends it.
        WaitForSlotEventResult[] waited = new WaitForSlotEventResult[1];
        Thread t = new Thread(() -> waited[0] = p11.waitForSlotEvent(true));
        t.start();
        while (Mock.callCount("C_WaitForSlotEvent") < 3) Thread.sleep(5);
        Mock.addSlotEvent(5);
        t.join(60000);
        assertEquals(5, waited[0].getSlotId().getId());
        assertEquals("C_WaitForSlotEvent(flags=0,slot=ptr,reserved=null)", Mock.lastCall("C_WaitForSlotEvent"));

        // Without the function (missing, or a null entry in the module's own list).
        for (String module : new String[] {"mock-nowait", "kulm"}) {
            Mock.use(module);
            if (module.equals("kulm")) Mock.setNullEntry("C_WaitForSlotEvent");
            NativeCryptokiFunctions other = new NativeCryptokiFunctions();
            assertEquals(1, other.doInitialize(module));
            r = other.waitForSlotEvent(false);
            other.finalize();
            assertEquals(0x54, r.getResult().getValue(), module);
            assertNull(r.getSlotId(), module);
        }
    }
}
