package corvaletest.mock;

import static org.junit.jupiter.api.Assertions.*;

import corvaletest.Child;
import corvaletest.Mock;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Set;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import quorvel.pkcs.pkcs11.WaitForSlotEventResult;
import quorvel.pkcs.pkcs11.jni.NativeCryptokiFunctions;

/** Module kinds, the function table, initialisation arguments and the exit paths, on the mock module. */
class LifecycleTest {

    private static final String NO_ARGS = "C_Initialize(initArgs=null)";
    /** Kinds 0 and 1: the module is told to expect threads and to lock by itself. */
    private static final String LOCKING =
            "C_Initialize(initArgs={createMutex=0,destroyMutex=0,lockMutex=0,unlockMutex=0,flags=2,reserved=null})";

    @BeforeEach
    void reset() {
        Mock.resetAll();
        Mock.use("mock");
    }

    private static NativeCryptokiFunctions bind(String name, int expected) {
        NativeCryptokiFunctions p11 = new NativeCryptokiFunctions();
        assertEquals(expected, p11.doInitialize(name), name);
        return p11;
    }

    private static String softokenArgs(String parameters) {
        return "C_Initialize(initArgs={createMutex=0,destroyMutex=0,lockMutex=0,unlockMutex=0,flags=0,"
                + "reserved=\"" + parameters + "\",reserved2=0})";
    }

    @Test
    void softokenNamesGetTheParameterStringAndTheSevenFieldArguments() {
        String sixty = "softoken" + "x".repeat(52);
        String[][] cases = {
            {"softoken", "configdir=.softoken certPrefix= keyPrefix= secmod=secmod.db"},
            {"softoken/db", "configdir=.softoken/db certPrefix= keyPrefix= secmod=secmod.db"},
            // 11 + 60 + 40 characters, cut to the 99 that fit the buffer.
            {sixty, ("configdir=." + sixty + " certPrefix= keyPrefix= secmod=secmod.db").substring(0, 99)},
        };
        for (String[] c : cases) {
            Mock.clearCalls();
            NativeCryptokiFunctions p11 = bind(c[0], 1);
            assertEquals(NativeCryptokiFunctions.TOKEN_SOFTOKEN, p11.getTokenType(), c[0]);
            assertEquals(softokenArgs(c[1]), Mock.lastCall("C_Initialize"), c[0]);
            assertEquals(1, Mock.calls("C_GetFunctionList").length, "bound through the module's own list");
            p11.finalize();
        }
    }

    @Test
    void genericAndKulmKindsAndTheirTables() throws Exception {
        NativeCryptokiFunctions generic = bind("mock", 1);
        assertEquals(NativeCryptokiFunctions.TOKEN_GENERIC, generic.getTokenType());
        assertEquals(LOCKING, Mock.lastCall("C_Initialize"));
        assertEquals(0, Mock.callCount("C_GetFunctionList"), "kind 0 binds by symbol name");
        generic.finalize();
        assertEquals("C_Finalize(reserved=null)", Mock.calls()[Mock.calls().length - 1]);

        // A null C_GetFunctionList entry in the module's own list is accepted.
        Mock.setNullEntry("C_GetFunctionList");
        NativeCryptokiFunctions kulm = bind("kulm", 1);
        assertEquals(NativeCryptokiFunctions.TOKEN_KULM, kulm.getTokenType());
        assertEquals(LOCKING, Mock.lastCall("C_Initialize"));
        kulm.finalize();

        // Only the exact name "kulm" is kind 1 and only the prefix "softoken" kind 2;
        // these are all links to the mock here.
        String[] names = {"kulm2", "KULM", "kul", "mysoftoken", ""};
        Path libs = linkDir("names", names);
        java.util.List<String> steps = new java.util.ArrayList<>();
        for (String name : names) {
            steps.add("init");
            steps.add(name);
            steps.add("finalize");
        }
        Child.Result r = childWithLibs(libs).run("corvaletest.Scenario", steps.toArray(new String[0]));
        assertEquals(0, r.exit, r.toString());
        assertEquals(names.length, r.stdout.split("init 1 kind=0 table=true", -1).length - 1, r.stdout);
    }

    private static Path linkDir(String prefix, String... names) throws java.io.IOException {
        Path libs = Files.createTempDirectory(Path.of(System.getProperty("corvale.work")), prefix);
        Path mock = Path.of(System.getProperty("corvale.build"), "tests", "lib", "libmock.so");
        for (String name : names) {
            Files.createSymbolicLink(libs.resolve("lib" + name + ".so"), mock);
        }
        return libs;
    }

    private static Child childWithLibs(Path libs) {
        return new Child().env("LD_LIBRARY_PATH", libs + ":" + System.getenv("LD_LIBRARY_PATH"));
    }

    @Test
    void refusalLeavesTheFieldsAndKulmOnlyAcceptsAlreadyInitialised() {
        NativeCryptokiFunctions first = bind("mock", 1);
        long table = first.getFunctionsPtr();
        // A second doInitialize on a bound kind-0 object is refused and keeps the first table.
        assertEquals(0, first.doInitialize("mock"));
        assertEquals(table, first.getFunctionsPtr());
        assertEquals(0, new NativeCryptokiFunctions().doInitialize("softoken"), "kind 2 refuses 0x191 too");

        NativeCryptokiFunctions kulm = bind("kulm", 1);
        assertNotEquals(0, kulm.getFunctionsPtr());
        first.finalize();
        kulm.finalize();

        Mock.setRvAlways("C_Initialize", 0x5);
        NativeCryptokiFunctions refused = new NativeCryptokiFunctions();
        assertEquals(0, refused.doInitialize("kulm"), "kulm refuses other codes");
        assertEquals(0, refused.getFunctionsPtr());
        assertEquals(0, refused.getTokenType());
        assertNotEquals(0, refused.getLibraryHandlePtr());
        Mock.clearCalls();
        refused.finalize();
        assertEquals(0, Mock.calls("C_Finalize").length, "nothing was bound, nothing is finalised");
        assertEquals(0, refused.getLibraryHandlePtr());
    }

    @Test
    void aModuleThatCannotLockIsBoundAndCalledOneCallAtATime() throws Exception {
        for (String name : new String[] {"mock", "kulm"}) {
            Mock.reset();
            Mock.cannotLock();
            NativeCryptokiFunctions p11 = bind(name, 1);
            assertArrayEquals(new String[] {LOCKING, NO_ARGS}, Mock.calls("C_Initialize"), name);
            p11.finalize();
        }
        Mock.reset();
        Mock.cannotLock();
        Mock.setRv("C_Initialize", 2, 0x6);
        NativeCryptokiFunctions refused = bind("mock", 0);
        assertEquals(0, refused.getFunctionsPtr(), "refused after the plain C_Initialize too");
        refused.finalize();

        // A blocking wait asks without blocking, so that other calls go on meanwhile.
        Mock.reset();
        Mock.cannotLock();
        NativeCryptokiFunctions p11 = bind("mock", 1);
        WaitForSlotEventResult[] waited = new WaitForSlotEventResult[1];
        Thread t = new Thread(() -> waited[0] = p11.waitForSlotEvent(true));
        t.start();
        while (Mock.callCount("C_WaitForSlotEvent") < 2) Thread.sleep(5);
        for (int i = 0; i < 20; i++) assertTrue(p11.getSlotList(true).getReturnValue().isOk());
        Mock.addSlotEvent(7);
        t.join(10000);
        assertEquals(7, waited[0].getSlotId().getId());
        assertEquals(Set.of("C_WaitForSlotEvent(flags=1,slot=ptr,reserved=null)"), new java.util.HashSet<>(java.util.List.of(Mock.calls("C_WaitForSlotEvent"))));
        assertEquals(0, Mock.overlaps());
        p11.finalize();
    }

    @Test
    void missingWaitForSlotEventIsReportedAndBindingGoesOn() throws Exception {
        Mock.use("mock-nowait");
        Mock.reset();
        NativeCryptokiFunctions p11 = bind("mock-nowait", 1);
        assertEquals(Set.of("C_WaitForSlotEvent"), p11.getUnsupported());
        assertEquals(1, Mock.callCount("C_Initialize"));
        p11.finalize();

        Child.Result r = runChild("loud", "init", "mock-nowait");
        assertEquals(0, r.exit, r.toString());
        assertEquals("setUnsupported(C_WaitForSlotEvent)\nError: could not load address for C_WaitForSlotEvent\n",
                r.err(), "setUnsupported comes before the message");
        assertTrue(r.stdout.startsWith("init 1 kind=0 table=true"), r.stdout);
    }

    @Test
    void missingFunctionsEndTheProcessWithTheFirstOneInTableOrder() throws Exception {
        expectExit("Error: could not load address for C_Sign\n", "init", "mock-nosign");
        expectExit("Error: could not load address for C_CancelFunction\n",
                "use", "mock", "null-entry", "C_CancelFunction", "init", "softoken");
        expectExit("Error: could not load address for C_Initialize\n",
                "use", "mock", "null-entry", "C_Verify", "null-entry", "C_Initialize", "init", "kulm");
        expectExit("Error: could not load function list\n", "use", "mock", "rv", "C_GetFunctionList", "0x5", "init", "kulm");
        expectExit("Error: could not load function list\n", "use", "mock", "list-null", "init", "softoken");
    }

    @Test
    void namedKindsNeedTheirFunctionListSymbol() throws Exception {
        Path libs = Files.createTempDirectory(Path.of(System.getProperty("corvale.work")), "nogfl");
        Path testlib = Path.of(System.getProperty("corvale.build"), "tests", "lib");
        Files.createSymbolicLink(libs.resolve("libsoftoken.so"), testlib.resolve("libmock-nogfl.so"));
        Child.Result r = childWithLibs(libs).run("corvaletest.Scenario", "init", "softoken");
        assertEquals(1, r.exit, r.toString());
        assertEquals("Error: could not load address for C_GetFunctionList\n", r.err());

        // A generic module never looks the symbol up.
        Mock.use("mock-nogfl");
        Mock.reset();
        bind("mock-nogfl", 1).finalize();
    }

    @Test
    void aModuleThatLoadsAnotherIsNotCalledBackByIt() throws Exception {
        // As pkcs11-spy over SoftHSM2: were the chained mock opened into the
        // global scope, its inner one's list would lead back to it for ever.
        Child.Result r = runChild("use", "mock", "chain", "mock-inner", "init", "mock", "finalize");
        assertEquals(0, r.exit, r.toString());
        assertTrue(r.stdout.startsWith("init 1 kind=0 table=true"), r.toString());
    }

    @Test
    void missingSetUnsupportedEndsTheProcess() throws Exception {
        Child.Result r = new Child().classpathFirst(Child.broken("no-set-unsupported")).withoutCheckJni()
                .run("corvaletest.Scenario", "init", "mock-nowait");
        assertEquals(1, r.exit, r.toString());
        assertEquals("Could not find setUnsupported method\n", r.err());
    }

    @Test
    void aGetterTheClassLacksStopsTheNativeWithItsMessage() throws Exception {
        Child.Result r = new Child().classpathFirst(Child.broken("getter-missing"))
                .run("corvaletest.Scenario", "use", "mock", "init", "mock", "destroy-object");
        assertEquals(0, r.exit, r.toString());
        assertTrue(r.ownStdout().endsWith("destroyObject threw java.lang.NoSuchMethodError, module calls 0\n"), r.toString());
        assertEquals("Error retieving method id at class quorvel.pkcs.pkcs11.Handle met: getValue", r.err());
    }

    private static Child.Result runChild(String... steps) {
        try {
            return new Child().run("corvaletest.Scenario", steps);
        } catch (Exception e) {
            throw new AssertionError(e);
        }
    }

    private static void expectExit(String message, String... steps) {
        Child.Result r = runChild(steps);
        assertEquals(1, r.exit, String.join(" ", steps) + ": " + r);
        assertEquals(message, r.err(), String.join(" ", steps));
    }
}
