package corvaletest.real;

import static org.junit.jupiter.api.Assertions.*;

import corvaletest.Child;
import org.junit.jupiter.api.Test;
import quorvel.pkcs.pkcs11.jni.NativeCryptokiFunctions;

/** Binding, initialising and finalising real modules: SoftHSM2, the same as "kulm", NSS softoken. */
class LifecycleTest {

    @Test
    void softhsmBindsAsGenericAndFinalizeUnbindsOnce() {
        NativeCryptokiFunctions p11 = new NativeCryptokiFunctions();
        assertEquals(1, p11.doInitialize("softhsm2"));
        assertEquals(NativeCryptokiFunctions.TOKEN_GENERIC, p11.getTokenType());
        assertNotEquals(0, p11.getFunctionsPtr());
        assertNotEquals(0, p11.getLibraryHandlePtr());
        assertTrue(p11.getUnsupported().isEmpty(), "SoftHSM2 has C_WaitForSlotEvent");

        p11.finalize();
        assertEquals(0, p11.getFunctionsPtr());
        assertEquals(0, p11.getLibraryHandlePtr());
        assertEquals(NativeCryptokiFunctions.TOKEN_GENERIC, p11.getTokenType(), "the kind is kept");
        p11.finalize();  // as the collector would: nothing left to do

        // Finalised for real: a new binding initialises afresh.
        NativeCryptokiFunctions again = new NativeCryptokiFunctions();
        assertEquals(1, again.doInitialize("softhsm2"));
        again.finalize();
    }

    @Test
    void secondGenericBindingIsRefusedAndItsFinalizeLeavesTheModuleAlone() {
        NativeCryptokiFunctions first = new NativeCryptokiFunctions();
        NativeCryptokiFunctions second = new NativeCryptokiFunctions();
        try {
            assertEquals(1, first.doInitialize("softhsm2"));
            assertEquals(0, second.doInitialize("softhsm2"), "CKR_CRYPTOKI_ALREADY_INITIALIZED refuses kind 0");
            assertEquals(0, second.getFunctionsPtr());
            assertEquals(0, second.getTokenType());
            assertNotEquals(0, second.getLibraryHandlePtr(), "the module stays loaded");

            second.finalize();  // must not C_Finalize the module the first object uses
            assertEquals(0, second.getLibraryHandlePtr());
            NativeCryptokiFunctions third = new NativeCryptokiFunctions();
            assertEquals(0, third.doInitialize("softhsm2"), "still initialised by the first binding");
            third.finalize();
        } finally {
            first.finalize();
        }
    }

    @Test
    void kulmIsKindOneAndAcceptsAnInitialisedModule() {
        NativeCryptokiFunctions first = new NativeCryptokiFunctions();
        NativeCryptokiFunctions second = new NativeCryptokiFunctions();
        assertEquals(1, first.doInitialize("kulm"));
        assertEquals(NativeCryptokiFunctions.TOKEN_KULM, first.getTokenType());
        assertEquals(1, second.doInitialize("kulm"), "401 from a second object is accepted");
        assertEquals(NativeCryptokiFunctions.TOKEN_KULM, second.getTokenType());
        assertNotEquals(first.getFunctionsPtr(), second.getFunctionsPtr(), "each binding owns its table");
        second.finalize();
        first.finalize();
    }

    @Test
    void nssSoftokenBindsAsKindTwo() {
        NativeCryptokiFunctions p11 = new NativeCryptokiFunctions();
        assertEquals(1, p11.doInitialize("softoken"));
        assertEquals(NativeCryptokiFunctions.TOKEN_SOFTOKEN, p11.getTokenType());
        assertNotEquals(0, p11.getFunctionsPtr());
        p11.finalize();
        assertEquals(0, p11.getFunctionsPtr());
    }

    @Test
    void argumentlessInitialiseAndStubsDoNothing() {
        NativeCryptokiFunctions p11 = new NativeCryptokiFunctions();
        assertEquals(0, p11.doInitialize());
        assertEquals(0, p11.getFunctionsPtr());
        assertEquals(0, p11.getLibraryHandlePtr());
        assertFalse(p11.check());
        assertNull(p11.deriveKeyNative(null, null, null, null, null));
        assertNull(p11.getFunctionStatus(null));
        assertNull(p11.cancelFunction(null));
        p11.finalize();
    }

    @Test
    void unloadableModuleEndsTheProcess() throws Exception {
        for (String[] args : new String[][] {{"init", "no-such-module"}, {"init-null"}}) {
            Child.Result r = new Child().run("corvaletest.Scenario", args);
            assertEquals(1, r.exit, r.toString());
            assertEquals("could not load library\n", r.err(), r.toString());
            assertEquals("", r.ownStdout(), r.toString());
        }
    }

    @Test
    void missingBindingFieldsEndTheProcessWithTheirMessage() throws Exception {
        String[][] cases = {
            {"no-library-handle", "Count not retrieve field ID for libraryHandlePtr\n"},
            {"no-functions-ptr", "Could not retrieve field id for functionsPtr\n"},
            {"no-token-type", "Could not retrieve field id for tokenType\n"},
        };
        for (String[] c : cases) {
            Child.Result r = new Child().classpathFirst(Child.broken(c[0])).withoutCheckJni()
                    .run("corvaletest.Scenario", "init", "softhsm2");
            assertEquals(1, r.exit, c[0] + ": " + r);
            assertEquals(c[1], r.err(), c[0] + ": " + r);
        }
    }
}
