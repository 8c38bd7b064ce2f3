package corvaletest.mock;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import corvaletest.Mock;
import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.Assumptions;

/**
 * Proves that the control API reaches the mock module inside a JVM of this
 * width: settings made through {@link Mock} are seen by calls into the
 * selected variant's exported C_ functions (made through the small probes of
 * libmockctl.so below, so that the library under test is not needed).
 */
class MockSelfTest {

    /** Test-only natives of libmockctl.so; each calls one C_ function of the selected variant. */
    static final class Probe {
        static native boolean hasSymbol(String name);
        static native long initialize(String reserved);  // null: C_Initialize(NULL)
        static native long finalizeModule();
        static native long[] functionList();             // {rv, list set, null entry indices...}
        static native long[] slotList(boolean present, int room, boolean query);  // {rv, count, guard ok, ids...}
        static native long[] tokenInfo(long slot, byte[] label32);  // {rv, flags, 10 counters, hw major, hw minor}
        static native long[] openSession(long slot, long flags, boolean notify);  // {rv, handle}
        static native long login(long session, long userType, byte[] pin);
        static native long init(String function, long session, long mechanism, long key);
        static native long[] output(String function, long session, byte[] in, int room, boolean query);
        static native long generateRandom(long session, byte[] buffer);
        static native long[] waitForSlotEvent(long flags);          // {rv, slot}
    }

    static final long CKR_OK = 0, CKR_NO_EVENT = 8, CKR_OPERATION_NOT_INITIALIZED = 0x91,
            CKR_PIN_INCORRECT = 0xA0, CKR_TOKEN_NOT_PRESENT = 0xE0, CKR_USER_ALREADY_LOGGED_IN = 0x100,
            CKR_BUFFER_TOO_SMALL = 0x150, CKR_CRYPTOKI_NOT_INITIALIZED = 0x190,
            CKR_CRYPTOKI_ALREADY_INITIALIZED = 0x191;
    static final long RW_SERIAL = 6, CKM_AES_CBC_PAD = 0x1085, CKM_SHA256 = 0x250, CKM_ECDSA = 0x1041;

    @BeforeEach
    void fresh() {
        Mock.resetAll();
    }

    @AfterAll
    static void leaveClean() {
        Mock.resetAll();
    }

    private static long session() {
        assertEquals(CKR_OK, Probe.initialize(null));
        long[] s = Probe.openSession(1, RW_SERIAL, false);
        assertEquals(CKR_OK, s[0]);
        return s[1];
    }

    private static byte[] bytes(long[] probe, int from) {
        byte[] out = new byte[probe.length - from];
        for (int i = from; i < probe.length; i++) {
            out[i - from] = (byte) probe[i];
        }
        return out;
    }

    private static byte[] ascii(String s) {
        return s.getBytes(StandardCharsets.US_ASCII);
    }

    @Test
    void eachVariantExportsExactlyItsFunctions() {
        assertEquals(68, Mock.functions().size());
        for (String variant : Mock.VARIANTS) {
            Mock.use(variant);
            for (String f : Mock.functions()) {
                boolean missing = (variant.equals("mock-nowait") && f.equals("C_WaitForSlotEvent"))
                        || (variant.equals("mock-nosign") && (f.equals("C_Sign") || f.equals("C_Verify")))
                        || (variant.equals("mock-nogfl") && f.equals("C_GetFunctionList"));
                assertEquals(!missing, Probe.hasSymbol(f), variant + " exports " + f);
            }
            assertTrue(Probe.hasSymbol("mock_control"), variant);
            assertFalse(Probe.hasSymbol("_ZN4mock1gE"), variant + " hides its state");
        }
    }

    @Test
    void variantsKeepSeparateStateAndLinksShareIt() {
        Mock.setRvAlways("C_Initialize", 0x80000001L);
        Mock.use("mock-nowait");
        assertEquals(CKR_OK, Probe.initialize(null));
        assertTrue(Mock.isInitialized());
        Mock.use("mock");
        assertEquals(0x80000001L, Probe.initialize(null), "vendor codes stay positive");
        assertFalse(Mock.isInitialized());
        assertEquals(1, Mock.callCount("C_Initialize"));

        // In the mock suite libkulm.so is a link to libmock.so: one instance.
        try {
            Mock.use("kulm");
        } catch (IllegalStateException notOnPath) {
            Assumptions.abort("libkulm.so is not on LD_LIBRARY_PATH");
        }
        Mock.setRvAlways("C_Finalize", 0x42);
        Mock.use("mock");
        assertEquals(0x42, Probe.finalizeModule());
    }

    @Test
    void initializeBehavesAsStandardAndLogsItsArguments() {
        assertEquals(CKR_CRYPTOKI_NOT_INITIALIZED, Probe.finalizeModule());
        assertEquals(CKR_OK, Probe.initialize(null));
        String params = "configdir=.softoken certPrefix= keyPrefix= secmod=secmod.db";
        assertEquals(CKR_CRYPTOKI_ALREADY_INITIALIZED, Probe.initialize(params));
        assertEquals(CKR_OK, Probe.finalizeModule());
        assertEquals(CKR_OK, Probe.initialize("a\"b\\c\u00e9"));
        assertArrayEquals(new String[] {
            "C_Finalize(reserved=null)",
            "C_Initialize(initArgs=null)",
            "C_Initialize(initArgs={createMutex=0,destroyMutex=0,lockMutex=0,unlockMutex=0,flags=0,"
                    + "reserved=\"" + params + "\",reserved2=0})",
            "C_Finalize(reserved=null)",
            "C_Initialize(initArgs={createMutex=0,destroyMutex=0,lockMutex=0,unlockMutex=0,flags=0,"
                    + "reserved=\"a\\x22b\\x5cc\\xc3\\xa9\",reserved2=0})"}, Mock.calls());
        assertEquals(3, Mock.callCount("C_Initialize"));
        assertEquals(2, Mock.calls("C_Finalize").length);
        Mock.clearCalls();
        assertEquals(0, Mock.calls().length);
        assertNull(Mock.lastCall("C_Login"));
    }

    @Test
    void scriptedCodesReplaceTheNthOrEveryCall() {
        Mock.setRv("C_Finalize", 2, 0x30);
        assertEquals(CKR_OK, Probe.initialize(null));
        assertEquals(CKR_OK, Probe.finalizeModule());
        assertEquals(CKR_OK, Probe.initialize(null));
        assertEquals(0x30, Probe.finalizeModule());
        assertTrue(Mock.isInitialized(), "a scripted call does nothing");
        assertEquals(CKR_OK, Probe.finalizeModule());

        long s = session();
        Mock.setRvAlways("C_Login", 0xFFFFFFFFL);
        Mock.setRv("C_Login", 2, 5);
        assertEquals(0xFFFFFFFFL, Probe.login(s, 1, ascii(Mock.USER_PIN)));
        assertEquals(5, Probe.login(s, 1, ascii(Mock.USER_PIN)));
        assertEquals(0xFFFFFFFFL, Probe.login(s, 1, ascii(Mock.USER_PIN)));

        assertThrows(IllegalArgumentException.class, () -> Mock.setRv("C_Nothing", 1, 0));
        assertThrows(IllegalArgumentException.class, () -> Mock.setRv("C_Login", 0, 0));
        assertThrows(IllegalArgumentException.class, () -> Mock.setOutputLength("C_Login", Mock.FILL, 1));
    }

    @Test
    void recordingOffKeepsNoLogAndCountsOnlyScriptedFunctions() {
        Mock.setRecording(false);
        assertEquals(CKR_OK, Probe.initialize(null));
        assertEquals(0, Mock.calls().length);
        assertEquals(0, Mock.callCount("C_Initialize"));
        Mock.setRv("C_Finalize", 1, 0x99);
        assertEquals(0x99, Probe.finalizeModule());
        assertEquals(1, Mock.callCount("C_Finalize"));
        assertEquals(0, Mock.calls().length);
        Mock.setRecording(true);
        assertEquals(CKR_OK, Probe.finalizeModule());
        assertArrayEquals(new String[] {"C_Finalize(reserved=null)"}, Mock.calls());
    }

    @Test
    void slotListsAnswerShortRoomAndLieOnRequest() {
        assertEquals(CKR_OK, Probe.initialize(null));
        assertArrayEquals(new long[] {CKR_OK, 2, 1, 1, 2}, Probe.slotList(false, 10, false));
        assertArrayEquals(new long[] {CKR_OK, 1, 1, 1}, Probe.slotList(true, 10, false));

        Mock.setSlots(11, true);
        assertArrayEquals(new long[] {CKR_BUFFER_TOO_SMALL, 11, 1}, Probe.slotList(false, 10, false));
        assertArrayEquals(new long[] {CKR_OK, 11, 1}, Probe.slotList(false, 10, true));
        String[] lines = Mock.calls("C_GetSlotList");
        assertEquals("C_GetSlotList(tokenPresent=0,slotList=ptr,count=10)", lines[2]);
        assertEquals("C_GetSlotList(tokenPresent=0,slotList=null,count=10)", lines[3]);

        Mock.setSlots(500, false);
        long[] many = Probe.slotList(false, 500, false);
        assertEquals(503, many.length);
        assertEquals(500, many[502]);
        assertArrayEquals(new long[] {CKR_OK, 0, 1}, Probe.slotList(true, 10, false));

        Mock.setSlots(new long[] {7, 8, 0xFFFFFFFFL}, new boolean[] {true, false, true});
        assertArrayEquals(new long[] {CKR_OK, 2, 1, 7, 0xFFFFFFFFL}, Probe.slotList(true, 10, false));
        Mock.setOutputLength("C_GetSlotList", Mock.FILL, 12);
        assertArrayEquals(new long[] {CKR_OK, 12, 1, 7, 8}, Probe.slotList(false, 2, false),
                "reports 12 but writes only the 2 it has room for");

        Mock.reset();
        assertEquals(CKR_OK, Probe.initialize(null));
        Mock.growAfterQuery("C_GetSlotList", 1);
        assertArrayEquals(new long[] {CKR_OK, 2, 1}, Probe.slotList(false, 0, true));
        assertArrayEquals(new long[] {CKR_BUFFER_TOO_SMALL, 3, 1}, Probe.slotList(false, 2, false));
        assertArrayEquals(new long[] {CKR_OK, 3, 1, 1, 2, 3}, Probe.slotList(false, 3, false));
    }

    @Test
    void tokenFieldsTakeRawBytesAndAllOnes() {
        assertEquals(CKR_OK, Probe.initialize(null));
        byte[] label = new byte[32];
        long[] info = Probe.tokenInfo(1, label);
        assertEquals(CKR_OK, info[0]);
        assertArrayEquals(Mock.padded("Mock Token", 32), label);
        assertEquals(32, info[6]);
        assertEquals(4, info[7]);

        byte[] raw = {(byte) 0xFF, 0, 'x', (byte) 0xF0, (byte) 0x9F, (byte) 0x98, (byte) 0x80};
        Mock.setField("token.label", raw);
        Mock.setField("token.ulMaxPinLen", -1);
        Mock.setField("token.ulFreePrivateMemory", 0xFFFFFFFFL);
        Mock.setField("token.hardwareVersion.major", 255);
        Mock.setField("token.flags", 0);
        info = Probe.tokenInfo(1, label);
        byte[] expected = Mock.padded("", 32);
        System.arraycopy(raw, 0, expected, 0, raw.length);
        assertArrayEquals(expected, label);
        assertEquals(Mock.ulongMax(), info[6]);
        assertEquals(0xFFFFFFFFL, info[11]);
        assertEquals(255, info[12]);
        assertEquals(0, info[1]);
        assertEquals(CKR_TOKEN_NOT_PRESENT, Probe.tokenInfo(2, label)[0]);

        assertThrows(IllegalArgumentException.class, () -> Mock.setField("token.nothing", 1));
        assertThrows(IllegalArgumentException.class, () -> Mock.setField("token.label", 1));
        assertThrows(IllegalArgumentException.class, () -> Mock.setField("token.flags", "x"));
    }

    @Test
    void functionListCanLackEntriesOrFail() {
        assertArrayEquals(new long[] {CKR_OK, 1}, Probe.functionList());
        Mock.setNullEntry("C_CancelFunction");
        Mock.setNullEntry("C_GetFunctionList");
        assertArrayEquals(new long[] {CKR_OK, 1, 3, 66}, Probe.functionList());
        Mock.setFunctionListNull();
        assertArrayEquals(new long[] {CKR_OK, 0}, Probe.functionList());
        Mock.reset();
        Mock.setRv("C_GetFunctionList", 1, 6);
        assertArrayEquals(new long[] {6, 0}, Probe.functionList());
        assertArrayEquals(new long[] {CKR_OK, 1}, Probe.functionList());
    }

    @Test
    void loginChecksPinsAndLogsWhatItReceived() {
        long s = session();
        assertEquals(1, s);
        assertEquals(CKR_PIN_INCORRECT, Probe.login(s, 1, ascii("0000")));
        assertEquals(CKR_OK, Probe.login(s, 1, ascii(Mock.USER_PIN)));
        assertEquals("C_Login(session=1,userType=1,pin=31323334,pinLen=4)", Mock.lastCall("C_Login"));
        assertEquals(CKR_USER_ALREADY_LOGGED_IN, Probe.login(s, 1, ascii(Mock.USER_PIN)));
        assertEquals(CKR_PIN_INCORRECT, Probe.login(s, 2, new byte[0]));
        assertEquals("C_Login(session=1,userType=2,pin=,pinLen=0)", Mock.lastCall("C_Login"));
        assertEquals(CKR_TOKEN_NOT_PRESENT, Probe.openSession(2, RW_SERIAL, false)[0]);
        assertArrayEquals(new long[0], Mock.notifySessions(0));

        assertArrayEquals(new long[] {CKR_OK, 2}, Probe.openSession(1, 4, true));
        assertEquals("C_OpenSession(slotID=1,flags=4,application=ptr,notify=ptr,session=ptr)",
                Mock.lastCall("C_OpenSession"));
        assertArrayEquals(new long[] {2003}, Mock.notifySessions(3),
                "the callback got its session, event and application pointer");

        Mock.setNextSessionHandle(0xFFFFFFF0L);
        assertArrayEquals(new long[] {CKR_OK, 0xFFFFFFF0L}, Probe.openSession(1, RW_SERIAL, false));
        assertEquals("C_OpenSession(slotID=1,flags=6,application=null,notify=null,session=ptr)",
                Mock.lastCall("C_OpenSession"));
    }

    @Test
    void outputsFollowTheLengthConventionAndLieOnRequest() {
        long s = session();
        byte[] abc = ascii("abc");
        assertEquals(CKR_OPERATION_NOT_INITIALIZED, Probe.output("C_Encrypt", s, abc, 8, false)[0]);
        assertEquals(CKR_OK, Probe.init("C_EncryptInit", s, CKM_AES_CBC_PAD, Mock.AES_KEY));
        assertEquals("C_EncryptInit(session=1,mechanism={mechanism=4229,parameter=null,parameterLen=0},key=1)",
                Mock.lastCall("C_EncryptInit"));
        assertArrayEquals(new long[] {CKR_OK, 3, 1}, Probe.output("C_Encrypt", s, abc, 0, true));
        assertArrayEquals(new long[] {CKR_BUFFER_TOO_SMALL, 3, 1}, Probe.output("C_Encrypt", s, abc, 1, false));
        long[] done = Probe.output("C_Encrypt", s, abc, 8, false);
        assertArrayEquals(new long[] {CKR_OK, 3, 1}, Arrays.copyOf(done, 3));
        assertArrayEquals(Mock.encrypted(abc), bytes(done, 3));
        assertEquals(CKR_OPERATION_NOT_INITIALIZED, Probe.output("C_Encrypt", s, abc, 8, false)[0],
                "a delivered output ends the operation");
        assertArrayEquals(new String[] {
            "C_Encrypt(session=1,data=616263,dataLen=3,encryptedData=null,encryptedDataLen=0)",
            "C_Encrypt(session=1,data=616263,dataLen=3,encryptedData=ptr,encryptedDataLen=1)",
            "C_Encrypt(session=1,data=616263,dataLen=3,encryptedData=ptr,encryptedDataLen=8)",
            "C_Encrypt(session=1,data=616263,dataLen=3,encryptedData=ptr,encryptedDataLen=8)"},
                Arrays.copyOfRange(Mock.calls("C_Encrypt"), 1, 5));

        assertEquals(CKR_OK, Probe.init("C_EncryptInit", s, CKM_AES_CBC_PAD, Mock.AES_KEY));
        Mock.setOutputLength("C_Encrypt", Mock.QUERY, 0);
        Mock.setOutputLength("C_Encrypt", Mock.FILL, 100);
        assertArrayEquals(new long[] {CKR_OK, 0, 1}, Probe.output("C_Encrypt", s, abc, 0, true));
        long[] lie = Probe.output("C_Encrypt", s, abc, 2, false);
        assertArrayEquals(new long[] {CKR_OK, 100, 1}, Arrays.copyOf(lie, 3), "no write past the room");
        assertArrayEquals(Arrays.copyOf(Mock.encrypted(abc), 2), bytes(lie, 3));

        byte[] hello = ascii("hello");
        assertEquals(CKR_OK, Probe.init("C_DigestInit", s, CKM_SHA256, 0));
        assertArrayEquals(Mock.digest(hello), bytes(Probe.output("C_Digest", s, hello, 32, false), 3));
        assertEquals(CKR_OK, Probe.init("C_SignInit", s, CKM_ECDSA, Mock.EC_PRIVATE_KEY));
        assertArrayEquals(Mock.signature(ascii("he"), ascii("llo")),
                bytes(Probe.output("C_Sign", s, hello, 32, false), 3));

        Mock.setOutput("C_Digest", new byte[] {1, 2, 3});
        assertEquals(CKR_OK, Probe.init("C_DigestInit", s, CKM_SHA256, 0));
        assertArrayEquals(new long[] {CKR_OK, 3, 1}, Probe.output("C_Digest", s, hello, 0, true));
        assertArrayEquals(new long[] {CKR_OK, 3, 1, 1, 2, 3}, Probe.output("C_Digest", s, hello, 3, false));
    }

    @Test
    void randomCountsPerSessionUnlessScripted() {
        long s = session();
        byte[] five = new byte[5];
        assertEquals(CKR_OK, Probe.generateRandom(s, five));
        assertArrayEquals(Mock.random(0, 5), five);
        byte[] three = new byte[3];
        assertEquals(CKR_OK, Probe.generateRandom(s, three));
        assertArrayEquals(Mock.random(5, 3), three);

        Mock.setOutput("C_GenerateRandom", new byte[] {9, 9});
        byte[] four = {0x77, 0x77, 0x77, 0x77};
        assertEquals(CKR_OK, Probe.generateRandom(s, four));
        assertArrayEquals(new byte[] {9, 9, 0x77, 0x77}, four);
        assertEquals("C_GenerateRandom(session=1,randomData=ptr,randomLen=4)",
                Mock.lastCall("C_GenerateRandom"));
    }

    @Test
    void slotEventsAreQueuedOrReportedAsNone() throws Exception {
        assertEquals(CKR_OK, Probe.initialize(null));
        assertEquals(CKR_NO_EVENT, Probe.waitForSlotEvent(1)[0]);
        Mock.addSlotEvent(2);
        assertArrayEquals(new long[] {CKR_OK, 2}, Probe.waitForSlotEvent(1));

        Thread later = new Thread(() -> {
            try {
                Thread.sleep(200);
            } catch (InterruptedException e) {
                return;
            }
            Mock.addSlotEvent(1);
        });
        later.start();
        assertArrayEquals(new long[] {CKR_OK, 1}, Probe.waitForSlotEvent(0), "a blocking wait wakes up");
        later.join();
    }
}
