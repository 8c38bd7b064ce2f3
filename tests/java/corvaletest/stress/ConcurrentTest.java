package corvaletest.stress;

import static org.junit.jupiter.api.Assertions.*;

import corvaletest.Child;
import org.junit.jupiter.api.Test;

/** Many threads on every native at once, from a JVM where nothing was called yet. */
class ConcurrentTest {

    private static final boolean SLOW = "1".equals(System.getProperty("corvale.m32"));

    @Test
    void threadsShareTheCachesAndTheModule() throws Exception {
        run(SLOW ? "30" : "300", "");
    }

    @Test
    void aModuleThatCannotLockIsCalledOneCallAtATime() throws Exception {
        run(SLOW ? "5" : "60", "cannot-lock");
    }

    private static void run(String rounds, String mode) throws Exception {
        long seed = System.nanoTime();
        Child.Result r = new Child().run(ConcurrentMain.class.getName(), "4", rounds, Long.toString(seed), mode);
        String all = r.stdout + r.err();
        assertFalse(all.matches("(?s).*(WARNING in native method|WARNING: JNI|FATAL ERROR|AddressSanitizer|runtime error:).*"),
                () -> "JNI or sanitizer report (seed " + seed + "):\n" + r);
        assertEquals(0, r.exit, () -> "seed " + seed + ":\n" + r);
        assertTrue(r.stdout.startsWith("concurrent: ok"), r::toString);
        System.out.println(r.stdout.trim());
    }
}
