package corvaletest.mock;

import static org.junit.jupiter.api.Assertions.*;

import corvaletest.Child;
import org.junit.jupiter.api.Test;

/** The token clock through DateHelper.toDate, and what a missing or throwing toDate leaves. */
class DateHelperTest {

    // The mock's clock, 2026-12-08 12:00:00 UTC.
    private static final String CLOCK = "clock=" + java.time.Instant.parse("2026-12-08T12:00:00Z").toEpochMilli();
    private static final String MISSING =
            "Error retrieving method id for method DateHelper.toDate(JNIString,int)\n";

    private static Child.Result run(String brokenVariant) throws Exception {
        Child child = new Child();
        if (brokenVariant != null) child.classpathFirst(Child.broken(brokenVariant));
        Child.Result r = child.run("corvaletest.TokenInfoScenario", "mock");
        assertEquals(0, r.exit, r.toString());
        assertFalse(r.stdout.contains("exception") || r.stdout.contains("label=[null]"), r.toString());
        assertEquals(2, r.stdout.split("token rv=0 label=\\[Mock Token", -1).length - 1, r.toString());
        assertFalse(r.err().contains("WARNING"), r.toString());
        return r;
    }

    @Test
    void theHelperMakesTheClock() throws Exception {
        Child.Result r = run(null);
        assertEquals(2, r.stdout.split(CLOCK, -1).length - 1, r.toString());
        assertEquals("", r.err());
    }

    @Test
    void missingToDateGivesNullDatesAndItsMessageEachTime() throws Exception {
        Child.Result r = run("datehelper-missing");
        assertFalse(r.stdout.contains(CLOCK), r.toString());
        assertEquals(MISSING + MISSING, r.err(), "once per record, nothing else");
    }

    @Test
    void throwingToDateIsDescribedAndCleared() throws Exception {
        Child.Result r = run("datehelper-throws");
        assertFalse(r.stdout.contains(CLOCK), r.toString());
        assertTrue(r.err().startsWith("Exception ocurred\n"), r.toString());
        assertTrue(r.err().contains("java.lang.IllegalStateException: toDate refused \"2026120812000000\""),
                r.toString());
    }
}
