package corvaletest.mock;

import static org.junit.jupiter.api.Assertions.*;

import corvaletest.Child;
import org.junit.jupiter.api.Test;

/**
 * A value object that cannot be made (its constructor throws, as an
 * OutOfMemoryError would) leaves its exception pending: the native makes no
 * JNI call after it and the exception reaches the caller.
 */
class PendingExceptionTest {

    private static Child.Result run(String variant, String scenario) throws Exception {
        Child.Result r = new Child().classpathFirst(Child.broken(variant))
                .run(PendingExceptionScenario.class.getName(), scenario);
        assertFalse(r.stdout.contains("WARNING") || r.err().contains("WARNING"), r.toString());
        assertEquals(0, r.exit, r.toString());
        assertTrue(r.stdout.endsWith("then rv=0\n"), r.toString());
        return r;
    }

    @Test
    void aFailedPartIsNotWrappedInItsRecord() throws Exception {
        Child.Result r = run("returnvalue-throws", "encrypt");
        assertTrue(r.stdout.startsWith("raised ReturnValue refused " + 0x87654321L + "\n"), r.toString());
        assertEquals("Error in cons quorvel.pkcs.pkcs11.ReturnValue\nError in cons quorvel.pkcs.pkcs11.CipherResult\n",
                r.err(), r.toString());
    }

    @Test
    void failedMechanismFlagsLeaveTheCallersArraysAlone() throws Exception {
        Child.Result r = run("mechanismflags-throws", "mechanism");
        assertTrue(r.stdout.startsWith("raised flags refused\n"), r.toString());
        assertEquals("Error in cons quorvel.pkcs.pkcs11.MechanismInformationFlags\n", r.err(), r.toString());
    }
}
