package corvaletest.mock;

import static org.junit.jupiter.api.Assertions.*;

import corvaletest.Child;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import org.junit.jupiter.api.Test;
import quorvel.pkcs.pkcs11.jni.NativeCryptokiFunctions;

/** The exported dumps, byte for byte, as a child JVM writes them to stderr (see DumpProbe). */
class DumpsTest {

    @Test
    void everyDumpWritesExactlyItsFormToStderr() throws Exception {
        Child.Result child = new Child().run(DumpProbe.class.getName());
        assertEquals(0, child.exit, child::toString);

        String unavailable = NativeCryptokiFunctions.getULongSize() == 8 ? "18446744073709551615" : "4294967295";
        String expected = ""
                + "<print>Template (size:5) {\n"
                + "\tattrType : 0 size : 3 value : 80 00 7f \n"
                + "\tattrType : 17 size : 0 value : \n"
                + "\tattrType : 2147483649 size : 0 value : \n"
                + "\tattrType : 3 size : " + unavailable + " value : \n"
                + "\tattrType : 2 size : 1 value : 09 \n"
                + "}\n</print>\n"
                + "<print-empty>Template (size:0) {\n}\n</print-empty>\n"
                + "<dump>Dumping template len=5\n"
                + "\ttype:0 80007f\n"
                + "\ttype:17 \n"
                + "\ttype:2147483649 \n"
                + "\ttype:3 \n"
                + "\ttype:2 09\n"
                + "Finished dumping template\n</dump>\n"
                + "<dump-empty>Dumping template len=0\nFinished dumping template\n</dump-empty>\n"
                + "<chars>[41(A),42(B),141(A)]</chars>\n"
                + "<chars-empty>[]</chars-empty>\n"
                + "<chars-null>null</chars-null>\n"
                + "<char-arrays>[[78(x)],null,[]]</char-arrays>\n"
                + "<char-arrays-one-null>[null]</char-arrays-one-null>\n"
                + "<char-arrays-null>null</char-arrays-null>\n"
                + "<bytes>[ff,00,10]</bytes>\n"
                + "<bytes-null>null</bytes-null>\n"
                + "<ints>[-7,0,2147483647]</ints>\n"
                + "<ints-empty>[]</ints-empty>\n"
                + "<ints-null>null</ints-null>\n"
                + "<objects>@</objects>\n"
                + "<objects-null>null</objects-null>\n";

        // Reference values differ from run to run: only their form is fixed.
        String err = child.err();
        Matcher objects = Pattern.compile("<objects>(.*?)</objects>").matcher(err);
        assertTrue(objects.find(), err);
        assertTrue(objects.group(1).matches("\\[[0-9a-f]+,0,[0-9a-f]+\\]"), objects.group(1));
        assertEquals(expected, objects.replaceFirst("<objects>@</objects>"));
    }

    @Test
    void throwExceptionRaisesTheNamedClassWithAMessageCutTo199Characters() {
        IllegalStateException e = assertThrows(IllegalStateException.class,
                () -> DumpProbe.throwException("java/lang/IllegalStateException", "slot", 7));
        assertEquals("slot #7", e.getMessage());

        String longText = "x".repeat(300);
        IllegalArgumentException cut = assertThrows(IllegalArgumentException.class,
                () -> DumpProbe.throwException("java/lang/IllegalArgumentException", longText, 1));
        assertEquals(longText.substring(0, 199), cut.getMessage());

        // A missing class: 0, and the VM's own lookup error is what the caller sees.
        assertThrows(NoClassDefFoundError.class, () -> DumpProbe.throwException("no/such/Thing", "x", 0));
    }
}
