package corvaletest.stress;

import corvaletest.Mock;
import java.nio.file.Files;
import java.nio.file.Path;
import quorvel.pkcs.pkcs11.jni.NativeCryptokiFunctions;

/**
 * A million mixed native calls (every native but the notifying openSession,
 * whose global reference stays for the life of the process) against the mock,
 * with the resident memory read after a warm-up and at the end. Exits 1 when
 * it grew by 1 MiB or more. Run by scripts/soak.sh in the interpreter: the
 * JIT compilers grow and shrink the process by megabytes for several hundred
 * thousand calls, which would hide a leak. Arguments: measured calls
 * (default 1000000), warm-up calls (default 100000).
 */
public final class Soak {

    public static void main(String[] args) throws Exception {
        long measured = args.length > 0 ? Long.parseLong(args[0]) : 1_000_000L;
        long warmUp = args.length > 1 ? Long.parseLong(args[1]) : 100_000L;
        Mock.use("mock");
        Mock.reset();
        Mock.setRecording(false);  // the log would grow with every call
        NativeCryptokiFunctions p11 = new NativeCryptokiFunctions();
        if (p11.doInitialize("mock") != 1) throw new AssertionError("binding the mock");
        MockOps ops = new MockOps(p11, 42, "soak");
        ops.open(false);
        long start = System.nanoTime();
        while (ops.calls < warmUp) ops.round(ops.shuffled());
        long before = settledRss();
        long warmCalls = ops.calls;
        while (ops.calls - warmCalls < measured) ops.round(ops.shuffled());
        long after = settledRss();
        ops.close();
        p11.finalize();
        double seconds = (System.nanoTime() - start) / 1e9;
        long growth = after - before;
        System.out.printf("soak: %d calls in %.1f s; VmRSS after %d warm-up calls %d KiB, after %d more"
                + " %d KiB: growth %d KiB (limit 1024 KiB)%n", ops.calls, seconds, warmCalls, before,
                ops.calls - warmCalls, after, growth);
        System.exit(growth < 1024 ? 0 : 1);
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
