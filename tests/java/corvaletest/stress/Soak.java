package corvaletest.stress;

import corvaletest.Mock;
import corvaletest.Natives;
import java.nio.file.Files;
import java.nio.file.Path;
import quorvel.pkcs.pkcs11.Handle;
import quorvel.pkcs.pkcs11.OpenSessionFlags;
import quorvel.pkcs.pkcs11.OpenSessionResult;
import quorvel.pkcs.pkcs11.SlotId;
import quorvel.pkcs.pkcs11.jni.NativeCryptokiFunctions;

/**
 * A million mixed native calls against the mock, with the resident memory
 * read after a warm-up and at the end. Each round is one of MockOps (every
 * native with answers checked) and a sweep of the natives table on a binding
 * of its own, made and ended every round (every native but the notifying
 * openSession, whose global reference stays for the life of the process). Exits 1 when
 * it grew by 1 MiB or more. Run by scripts/soak.sh in the interpreter: the
 * JIT compilers grow and shrink the process by megabytes for several hundred
 * thousand calls, which would hide a leak. Arguments: measured calls
 * (default 1000000), warm-up calls (default 100000).
 */
public final class Soak {

    public static void main(String[] args) throws Exception {
        long measured = args.length > 0 ? Long.parseLong(args[0]) : 1_000_000L;
        long warmUp = args.length > 1 ? Long.parseLong(args[1]) : 100_000L;
        NativeCryptokiFunctions p11 = Mock.bound();
        Mock.setRecording(false);  // the log would grow with every call
        MockOps ops = new MockOps(p11, 42, "soak");
        ops.open(false);
        long start = System.nanoTime();
        long sweeps = 0;
        while (ops.calls + sweeps < warmUp) {
            ops.round(ops.shuffled());
            sweeps += sweep();
        }
        long before = settledRss();
        long warmCalls = ops.calls + sweeps;
        while (ops.calls + sweeps - warmCalls < measured) {
            ops.round(ops.shuffled());
            sweeps += sweep();
        }
        long after = settledRss();
        ops.close();
        p11.finalize();
        double seconds = (System.nanoTime() - start) / 1e9;
        long growth = after - before;
        System.out.printf("soak: %d calls in %.1f s; VmRSS after %d warm-up calls %d KiB, after %d more"
                + " %d KiB: growth %d KiB (limit 1024 KiB)%n", ops.calls + sweeps, seconds, warmCalls, before,
                ops.calls + sweeps - warmCalls, after, growth);
        System.exit(growth < 1024 ? 0 : 1);
    }

    /**
     * Every native of the table once, with plain arguments, on a fresh
     * binding of mock-nogfl (its own state, reset first); the calls made.
     */
    private static long sweep() {
        Mock.use("mock-nogfl");
        Mock.reset();
        Mock.setRecording(false);
        NativeCryptokiFunctions p11 = new NativeCryptokiFunctions();
        if (p11.doInitialize("mock-nogfl") != 1) throw new AssertionError("binding mock-nogfl");
        OpenSessionResult o = p11.openSession(new SlotId(1), OpenSessionFlags.readWrite());
        Natives.Plain args = new Natives.Plain(o.getHandle(), new Handle(Mock.AES_KEY));
        long calls = 3;
        for (Natives.Case k : Natives.ALL) {
            if (k.lasting()) continue;
            if (k.call(p11, args) == null && k.needsModule()) throw new AssertionError(k + ": null");
            calls++;
        }
        p11.finalize();
        return calls;
    }

    /** VmRSS in KiB after the collector had its chance (heap pages are pre-touched). */
    private static long settledRss() throws Exception {
        for (int i = 0; i < 3; i++) {
            System.gc();
            Thread.sleep(200);
        }
        for (String line : Files.readAllLines(Path.of("/proc/self/status"))) {
            if (line.startsWith("VmRSS:")) return Long.parseLong(line.replaceAll("[^0-9]", ""));
        }
        throw new AssertionError("no VmRSS in /proc/self/status");
    }
}
