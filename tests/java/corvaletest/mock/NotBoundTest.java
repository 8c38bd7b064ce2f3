package corvaletest.mock;

import static org.junit.jupiter.api.Assertions.*;

import corvaletest.Mock;
import corvaletest.Natives;
import org.junit.jupiter.api.Test;
import quorvel.pkcs.pkcs11.*;
import quorvel.pkcs.pkcs11.jni.NativeCryptokiFunctions;

/** Natives of an object without a bound module (new, refused, finalised) call nothing. */
class NotBoundTest {

    private static final long NOT_INITIALIZED = 0x190;

    @Test
    void everyNativeAnswersNotInitializedWithoutData() {
        Mock.resetAll();
        NativeCryptokiFunctions bound = new NativeCryptokiFunctions();
        assertEquals(1, bound.doInitialize("mock"));
        bound.finalize();  // once bound and now finalised: as unbound as a new one
        checkAll(new NativeCryptokiFunctions(), bound);
        assertEquals(0, Mock.calls().length - Mock.calls("C_Initialize").length - Mock.calls("C_Finalize").length,
                String.join("\n", Mock.calls()));
    }

    @Test
    void queryLoginAndSessionNativesAnswerNotInitializedToo() {
        Mock.resetAll();
        NativeCryptokiFunctions bound = new NativeCryptokiFunctions();
        assertEquals(1, bound.doInitialize("mock"));
        NativeCryptokiFunctions refused = new NativeCryptokiFunctions();
        assertEquals(0, refused.doInitialize("mock"));
        Mock.clearCalls();
        checkAll(new NativeCryptokiFunctions(), refused);
        assertEquals(0, Mock.calls().length, String.join("\n", Mock.calls()));
        refused.finalize();
        bound.finalize();
    }

    /** Every native that needs a module: the code alone, no data, the caller's arrays untouched. */
    private static void checkAll(NativeCryptokiFunctions... unbound) {
        for (NativeCryptokiFunctions p11 : unbound) {
            for (Natives.Case k : Natives.module()) {
                Natives.Plain args = new Natives.Plain(new SessionHandle(1), new Handle(1));
                Object answer = k.call(p11, args);
                assertNotNull(answer, k.name());
                assertEquals(NOT_INITIALIZED, Natives.code(answer).getValue(), k.name());
                for (Object part : Natives.parts(answer)) {
                    assertTrue(part == null || part.equals(0) || part.equals(0L), k + " answered " + part);
                }
                assertTrue(args.untouched(), k + " wrote into an array");
            }
        }
    }
}
