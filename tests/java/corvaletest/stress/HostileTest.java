package corvaletest.stress;

import static org.junit.jupiter.api.Assertions.*;

import corvaletest.Mock;
import java.util.Queue;
import java.util.Random;
import java.util.concurrent.ConcurrentLinkedQueue;
import org.junit.jupiter.api.Test;
import quorvel.pkcs.pkcs11.jni.NativeCryptokiFunctions;

/**
 * Every native, random arguments, a module that lies in every answer. The
 * seed is printed; replay with -Dcorvale.hostile.seed=N (and
 * -Dcorvale.hostile.calls=N, default 100000).
 */
class HostileTest {

    @Test
    void everyNativeSurvivesAHostileModule() {
        long seed = Long.getLong("corvale.hostile.seed", new Random().nextLong());
        int calls = Integer.getInteger("corvale.hostile.calls", 100_000);
        System.out.println("hostile module: seed " + seed + ", " + calls + " calls"
                + " (replay with -Dcorvale.hostile.seed=" + seed + ")");
        System.out.flush();
        HostileDriver d = new HostileDriver(seed);
        Random pick = new Random(seed ^ 0x5DEECE66DL);
        long start = System.nanoTime();
        int[] perNative = new int[HostileDriver.NATIVES];
        try {
            d.rebind();
            for (int i = 0; i < calls; i++) {
                int which = pick.nextInt(HostileDriver.NATIVES);
                perNative[which]++;
                d.call(which);
            }
        } finally {
            d.finish();
        }
        long ms = (System.nanoTime() - start) / 1_000_000;
        System.out.println("hostile module: " + calls + " calls in " + ms + " ms; " + d.nullResults
                + " null results, " + d.outOfMemory + " refused arrays (seed " + seed + ")");
        for (int n : perNative) assertTrue(calls < 10_000 || n > 0, "every native was called");
        System.out.println("hostile module: calls that reached the module " + d.reached);
        // Arguments that never got past the library's checks would test nothing.
        for (String fn : Mock.functions()) {
            long n = d.reached.get(fn);
            assertTrue(calls < 10_000 || HostileDriver.UNCALLED.contains(fn) || n >= 10,
                    fn + " reached the module " + n + " times (seed " + seed + ")");
        }
    }

    /**
     * Four threads on one hostile binding. The threads share the module's
     * stream, so a seed replays the arguments but not the interleaving.
     */
    @Test
    void fourThreadsSurviveAHostileModule() throws Exception {
        long seed = Long.getLong("corvale.hostile.seed", new Random().nextLong());
        int calls = Integer.getInteger("corvale.hostile.calls", 100_000) / 10;
        System.out.println("hostile module, four threads: seed " + seed + ", " + calls + " calls each");
        Mock.use("mock");
        Mock.reset();
        Mock.setRecording(false);
        Mock.hostile(seed);
        NativeCryptokiFunctions p11 = new NativeCryptokiFunctions();
        while (p11.doInitialize("mock") != 1) {
            // C_Initialize answers at random too
        }
        Queue<Throwable> errors = new ConcurrentLinkedQueue<>();
        Thread[] t = new Thread[4];
        for (int i = 0; i < t.length; i++) {
            long mine = seed + i;
            t[i] = new Thread(() -> {
                try {
                    HostileDriver d = new HostileDriver(mine, p11);
                    Random pick = new Random(mine ^ 0x5DEECE66DL);
                    for (int k = 0; k < calls; k++) d.call(pick.nextInt(HostileDriver.NATIVES));
                } catch (OutOfMemoryError e) {
                    // only with a deliberately small heap: the other threads hold it all
                } catch (Throwable e) {
                    errors.add(e);
                }
            });
            t[i].start();
        }
        for (Thread x : t) x.join();
        p11.finalize();
        Mock.resetAll();
        for (Throwable e : errors) e.printStackTrace();
        assertTrue(errors.isEmpty(), () -> "seed " + seed + ": " + errors.peek());
    }
}
