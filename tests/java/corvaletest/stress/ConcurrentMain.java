package corvaletest.stress;

import corvaletest.Mock;
import java.util.Queue;
import java.util.concurrent.ConcurrentLinkedQueue;
import java.util.concurrent.CyclicBarrier;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.concurrent.atomic.AtomicLong;
import java.util.concurrent.atomic.AtomicReference;
import quorvel.pkcs.pkcs11.jni.NativeCryptokiFunctions;

/**
 * Child JVM of ConcurrentTest: nothing of the library has run yet, so the
 * threads below race on the first use of every class, field and method
 * cache. All bind at once (one wins C_Initialize), then every thread runs
 * every native in the same order at the same moment, then in shuffled
 * orders. Prints "concurrent: ok ..." and exits 0 when every answer was right.
 * Arguments: threads, rounds, seed, and "cannot-lock" for a module that
 * cannot lock by itself: bound once before the threads start, and no call
 * may ever enter it while another is inside.
 */
public final class ConcurrentMain {

    public static void main(String[] args) throws Exception {
        int threads = Integer.parseInt(args[0]);
        int rounds = Integer.parseInt(args[1]);
        long seed = Long.parseLong(args[2]);
        boolean cannotLock = args.length > 3 && args[3].equals("cannot-lock");
        Mock.use("mock");
        Mock.reset();  // recording on: the mock locks on every call
        AtomicReference<NativeCryptokiFunctions> bound = new AtomicReference<>();
        if (cannotLock) {
            Mock.cannotLock();
            bound.set(new NativeCryptokiFunctions());
            if (bound.get().doInitialize("mock") != 1) throw new AssertionError("binding the mock");
        }
        CyclicBarrier barrier = new CyclicBarrier(threads);
        AtomicInteger winners = new AtomicInteger();
        AtomicLong calls = new AtomicLong();
        Queue<Throwable> errors = new ConcurrentLinkedQueue<>();
        Thread[] t = new Thread[threads];
        for (int i = 0; i < threads; i++) {
            final int id = i;
            t[i] = new Thread(() -> {
                try {
                    barrier.await();
                    if (!cannotLock) {
                        NativeCryptokiFunctions mine = new NativeCryptokiFunctions();
                        int rc = mine.doInitialize("mock");
                        if (rc == 1) {
                            winners.incrementAndGet();
                            bound.set(mine);
                        } else {
                            mine.finalize();  // refused: C_Initialize answered 0x191
                        }
                    }
                    barrier.await();
                    MockOps ops = new MockOps(bound.get(), seed + id, "t" + id);
                    ops.open(true);
                    barrier.await();
                    ops.round(null);  // same natives, same moment, empty caches
                    for (int k = 1; k < rounds; k++) {
                        if (k == rounds / 2 && id == 0) Mock.setRecording(false);
                        ops.round(ops.shuffled());
                    }
                    ops.close();
                    calls.addAndGet(ops.calls);
                } catch (Throwable e) {
                    errors.add(e);
                    barrier.reset();
                }
            }, "caller-" + i);
            t[i].start();
        }
        for (Thread x : t) x.join();
        if (!cannotLock && winners.get() != 1 && errors.isEmpty()) {
            errors.add(new AssertionError(winners.get() + " threads bound the module, expected 1"));
        }
        if (cannotLock && Mock.overlaps() != 0) {
            errors.add(new AssertionError(Mock.overlaps() + " calls entered the module while another was inside"));
        }
        if (bound.get() != null) bound.get().finalize();
        if (!errors.isEmpty()) {
            for (Throwable e : errors) e.printStackTrace();
            System.exit(1);
        }
        System.out.println("concurrent: ok, " + threads + " threads, " + calls.get() + " native calls"
                + (cannotLock ? ", one at a time" : ""));
    }
}
