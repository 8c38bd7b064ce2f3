package corvaletest.mock;

import static org.junit.jupiter.api.Assertions.*;

import corvaletest.Child;
import org.junit.jupiter.api.Test;

/**
 * A value class or DateHelper that exists but cannot be loaded (its
 * initialiser fails, as with a broken or mismatched jar): the library says
 * so, makes no JNI call with a null class, and the process goes on.
 */
class UnloadableClassTest {

    private static Child.Result tokenInfo(Child child, String brokenVariant) throws Exception {
        Child.Result r = child.classpathFirst(Child.broken(brokenVariant)).run("corvaletest.TokenInfoScenario", "mock");
        assertEquals(0, r.exit, r.toString());
        return r;
    }

    /** The VM's error stays pending for the caller, and no JNI call follows it. */
    @Test
    void anUnloadableValueClassFailsTheNativeWithTheVmsError() throws Exception {
        Child.Result r = tokenInfo(new Child(), "version-unloadable");
        assertFalse(r.stdout.contains("WARNING") || r.err().contains("WARNING"), r.toString());
        assertTrue(r.err().startsWith("Error getting class quorvel.pkcs.pkcs11.Version\n"), r.toString());
        assertTrue(r.stdout.startsWith("exception java.lang.ExceptionInInitializerError"), r.toString());
    }

    @Test
    void anUnloadableDateHelperGivesNullDatesAndItsMessageEachTime() throws Exception {
        Child.Result r = tokenInfo(new Child(), "datehelper-unloadable");
        assertFalse(r.stdout.contains("WARNING"), r.toString());
        assertEquals(2, r.stdout.split("token rv=0 label=\\[Mock Token[^\n]*clock=null\n", -1).length - 1,
                r.toString());
        assertEquals("Could not load DateHelper class\n".repeat(2), r.err(), "once per record, nothing else");
    }
}
