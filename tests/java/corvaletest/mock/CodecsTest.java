package corvaletest.mock;

import static org.junit.jupiter.api.Assertions.*;
import static quorvel.pkcs.pkcs11.jni.NativeCryptokiFunctions.*;

import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import org.junit.jupiter.api.Test;

/** The attribute value codecs: native widths, host byte order, and what short input does. */
class CodecsTest {

    private static final boolean M32 = "1".equals(System.getProperty("corvale.m32"));

    private static byte[] filled(int n) {
        byte[] a = new byte[n];
        Arrays.fill(a, (byte) 0x77);
        return a;
    }

    private static byte[] ascii(String s) {
        return s.getBytes(StandardCharsets.US_ASCII);
    }

    @Test
    void sizesFollowTheBuild() {
        assertEquals(M32 ? 4 : 8, getULongSize());
        assertEquals(1, getBoolSize());
        assertEquals(8, getDateSize());
    }

    @Test
    void ulongIsWrittenInHostOrderAndReadZeroExtended() {
        byte[] a = filled(12);
        encodeULong(0x1234567890L, a);
        byte[] expected = M32
                ? new byte[] {(byte) 0x90, 0x78, 0x56, 0x34, 0x77, 0x77, 0x77, 0x77, 0x77, 0x77, 0x77, 0x77}
                : new byte[] {(byte) 0x90, 0x78, 0x56, 0x34, 0x12, 0, 0, 0, 0x77, 0x77, 0x77, 0x77};
        assertArrayEquals(expected, a, "the bytes past the value are left alone");
        assertEquals(M32 ? 0x34567890L : 0x1234567890L, decodeULong(a));

        byte[] ones = new byte[getULongSize()];
        encodeULong(-1L, ones);
        byte[] allFf = new byte[getULongSize()];
        Arrays.fill(allFf, (byte) 0xFF);
        assertArrayEquals(allFf, ones);
        assertEquals(M32 ? 4294967295L : -1L, decodeULong(ones));

        byte[] vendor = new byte[getULongSize()];
        encodeULong(0x80000000L, vendor);
        assertEquals(0x80000000L, decodeULong(vendor), "vendor codes come back positive");
    }

    @Test
    void boolIsOneByte() {
        byte[] a = filled(3);
        encodeBool(true, a);
        assertArrayEquals(new byte[] {1, 0x77, 0x77}, a);
        assertTrue(decodeBool(a));
        encodeBool(false, a);
        assertArrayEquals(new byte[] {0, 0x77, 0x77}, a);
        assertFalse(decodeBool(a));
    }

    @Test
    void dateIsYearMonthDayAsciiAndRoundTrips() {
        byte[] a = filled(10);
        encodeDate("05", "11", "2024", a);
        assertArrayEquals(new byte[] {'2', '0', '2', '4', '1', '1', '0', '5', 0x77, 0x77}, a);
        String[] out = new String[3];
        decodeDate(a, out);
        assertArrayEquals(new String[] {"05", "11", "2024"}, out, "day, month, year");

        encodeDate("31", "12", "19999", a);  // only the field's first bytes are taken
        decodeDate(a, out);
        assertArrayEquals(new String[] {"31", "12", "1999"}, out);

        decodeDate(ascii("        "), out);
        assertArrayEquals(new String[] {"  ", "  ", "    "}, out);

        decodeDate(new byte[] {'2', '0', 0, '4', '1', '1', '0', 0}, out);
        assertArrayEquals(new String[] {"0", "11", "20"}, out, "a zero byte ends its field");

        decodeDate(new byte[] {'2', '0', '2', '4', (byte) 0xC3, (byte) 0xFF, '0', '1'}, out);
        assertEquals("\uFFFD\uFFFD", out[1], "bytes that are not UTF-8 do not reach the VM as they are");
    }

    @Test
    void nullArgumentsDoNothing() {
        encodeULong(5, null);
        encodeBool(true, null);
        byte[] a = filled(8);
        encodeDate(null, "11", "2024", a);
        encodeDate("05", null, "2024", a);
        encodeDate("05", "11", null, a);
        encodeDate("05", "11", "2024", null);
        assertArrayEquals(filled(8), a);
        assertEquals(0, decodeULong(null));
        assertFalse(decodeBool(null));
        String[] out = {"a", "b", "c"};
        decodeDate(null, out);
        decodeDate(ascii("20241105"), null);
        assertArrayEquals(new String[] {"a", "b", "c"}, out);
    }

    @Test
    void shortInputIsLikeMissingInput() {
        // Encoders write no byte, not even part of the value.
        byte[] shortUlong = filled(getULongSize() - 1);
        encodeULong(0x01020304L, shortUlong);
        assertArrayEquals(filled(getULongSize() - 1), shortUlong);
        byte[] empty = new byte[0];
        encodeBool(true, empty);
        byte[] shortDate = filled(7);
        encodeDate("05", "11", "2024", shortDate);
        assertArrayEquals(filled(7), shortDate);

        // Strings shorter than their field.
        byte[] a = filled(8);
        encodeDate("5", "11", "2024", a);
        encodeDate("05", "1", "2024", a);
        encodeDate("05", "11", "224", a);
        encodeDate("", "", "", a);
        assertArrayEquals(filled(8), a);

        // Decoders answer as for a null source.
        assertEquals(0, decodeULong(new byte[] {1, 2, 3}));
        assertFalse(decodeBool(empty));
        String[] out = {"a", "b", "c"};
        decodeDate(ascii("2024110"), out);
        assertArrayEquals(new String[] {"a", "b", "c"}, out);
    }

    @Test
    void decodeDateIntoAShortArrayStoresWhatFitsThenThrows() {
        String[] out = new String[2];
        assertThrows(ArrayIndexOutOfBoundsException.class, () -> decodeDate(ascii("20241105"), out));
        assertArrayEquals(new String[] {"05", "11"}, out);
    }
}
