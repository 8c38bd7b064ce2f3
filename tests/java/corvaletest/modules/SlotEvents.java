package corvaletest.modules;

import static corvaletest.modules.Cells.check;
import static corvaletest.modules.Cells.same;

import java.io.File;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import quorvel.pkcs.pkcs11.*;
import quorvel.pkcs.pkcs11.jni.NativeCryptokiFunctions;

/**
 * A virtual card put in and taken out of a reader (a card emulator process
 * started and stopped by its own handle) while Java waits for the module's
 * slot events, blocking on another thread and polling without blocking, and
 * watches the list of slots with a token follow the card. A module without
 * slot events (C_WaitForSlotEvent not supported) still has its slot list
 * follow the card in and out; the cell is then not offered.
 */
final class SlotEvents {

    private static final long CKR_NO_EVENT = 0x8;
    private static final long SECONDS = 60;

    private final List<String> command;
    private final ExecutorService waiter = Executors.newSingleThreadExecutor(r -> {
        Thread t = new Thread(r, "slot-event-waiter");
        t.setDaemon(true);
        return t;
    });
    private Process card;
    private SlotId cardSlot;
    private RuntimeException beginning;
    /** The module's answer when it has no slot events, else null. */
    private Cells.Absent noEvents;

    SlotEvents(String[] command) {
        this.command = Arrays.asList(command);
    }

    /** Modules with fixed slots: a wait that does not block reports no event, or that the module has no such thing. */
    static String fixed(NativeCryptokiFunctions p11) {
        ReturnValue rv = p11._waitForSlotEvent(false).getResult();
        if (rv.getValue() == CKR_NO_EVENT) throw new Cells.Absent("fixed-slots", "no removable slot; no event pending");
        Cells.rv(rv, "C_WaitForSlotEvent");
        throw new Cells.Failed("check", "an event on fixed slots");
    }

    /** Before the queries: the card goes in while another thread waits for it. */
    void begin(NativeCryptokiFunctions p11) {
        try {
            ReturnValue rv = p11._waitForSlotEvent(false).getResult();
            if (rv.getValue() == Cells.CKR_FUNCTION_NOT_SUPPORTED) {
                noEvents = new Cells.Absent("rv:0x54@C_WaitForSlotEvent", "C_WaitForSlotEvent: " + rv);
                check(p11.getSlotList(true).getSlotIds().length == 0, "no card before the card goes in");
                insert();
                cardSlot = listed(p11, true);
                return;
            }
            if (rv.getValue() != CKR_NO_EVENT) drain(p11);
            check(p11.getSlotList(true).getSlotIds().length == 0, "no card before the card goes in");
            Future<WaitForSlotEventResult> wait = waiter.submit(() -> p11._waitForSlotEvent(true));
            Thread.sleep(300);
            insert();
            WaitForSlotEventResult r = wait.get(SECONDS, TimeUnit.SECONDS);
            Cells.rv(r.getResult(), "C_WaitForSlotEvent(blocking)");
            cardSlot = r.getSlotId();
            followed(p11, true, "after the blocking wait for the card");
        } catch (RuntimeException e) {
            beginning = e;
        } catch (Exception e) {
            beginning = new Cells.Failed("exception", "inserting the card: " + e);
        }
    }

    /** After the sessions are closed: out without blocking, in without blocking, out while blocked. */
    String end(NativeCryptokiFunctions p11) throws Exception {
        if (beginning != null) throw beginning;
        if (noEvents != null) {
            for (boolean in : new boolean[] {false, true, false}) {
                if (in) insert(); else remove();
                same(cardSlot, listed(p11, in), "the card's slot " + (in ? "listed again" : "gone from the list"));
                followed(p11, in, in ? "after the card went in" : "after the card went out");
            }
            throw noEvents;
        }
        remove();
        same(cardSlot, poll(p11), "slot of the removal seen without blocking");
        followed(p11, false, "after the removal seen without blocking");
        insert();
        same(cardSlot, poll(p11), "slot of the insertion seen without blocking");
        followed(p11, true, "after the insertion seen without blocking");
        drain(p11);
        Future<WaitForSlotEventResult> wait = waiter.submit(() -> p11._waitForSlotEvent(true));
        Thread.sleep(300);
        remove();
        WaitForSlotEventResult r = wait.get(SECONDS, TimeUnit.SECONDS);
        Cells.rv(r.getResult(), "C_WaitForSlotEvent(blocking)");
        same(cardSlot, r.getSlotId(), "slot of the removal seen while blocked");
        followed(p11, false, "after the removal seen while blocked");
        drain(p11);
        return "slot-list";
    }

    void stop() {
        if (card != null) card.destroy();
    }

    private void insert() throws Exception {
        card = new ProcessBuilder(command).redirectErrorStream(true)
                .redirectOutput(new File(System.getProperty("corvale.work", "/tmp"), "card.log")).start();
    }

    private void remove() throws Exception {
        card.destroy();
        check(card.waitFor(SECONDS, TimeUnit.SECONDS), "the card emulator stops");
        card = null;
    }

    private void followed(NativeCryptokiFunctions p11, boolean present, String when) {
        SlotListResult r = p11.getSlotList(true);
        Cells.rv(r.getReturnValue(), "C_GetSlotList");
        same(present, Arrays.asList(r.getSlotIds()).contains(cardSlot), "card's slot listed with a token " + when);
        same(present, p11.getSlotInfo(cardSlot).getInfo().getFlags().isTokenPresent(), "token-present flag " + when);
    }

    /** Lists the slots with a token every 100 ms until the card's is there (or gone); returns that slot. */
    private SlotId listed(NativeCryptokiFunctions p11, boolean present) throws InterruptedException {
        long end = System.nanoTime() + TimeUnit.SECONDS.toNanos(SECONDS);
        while (System.nanoTime() < end) {
            SlotListResult r = p11.getSlotList(true);
            Cells.rv(r.getReturnValue(), "C_GetSlotList");
            SlotId[] ids = r.getSlotIds();
            if (present && ids.length == 1) return ids[0];
            if (!present && !Arrays.asList(ids).contains(cardSlot)) return cardSlot;
            Thread.sleep(100);
        }
        throw new Cells.Failed("timeout", "the slot list did not follow the card within " + SECONDS + " s");
    }

    /** Waits without blocking, a call every 100 ms, until the module reports an event. */
    private static SlotId poll(NativeCryptokiFunctions p11) throws InterruptedException {
        long end = System.nanoTime() + TimeUnit.SECONDS.toNanos(SECONDS);
        while (System.nanoTime() < end) {
            WaitForSlotEventResult r = p11._waitForSlotEvent(false);
            if (r.getResult().isOk()) return r.getSlotId();
            if (r.getResult().getValue() != CKR_NO_EVENT) Cells.rv(r.getResult(), "C_WaitForSlotEvent");
            Thread.sleep(100);
        }
        throw new Cells.Failed("timeout", "no slot event within " + SECONDS + " s");
    }

    /** Takes the events already pending; the last answer must be CKR_NO_EVENT. */
    private static void drain(NativeCryptokiFunctions p11) {
        for (int i = 0; i < 20; i++) {
            ReturnValue rv = p11._waitForSlotEvent(false).getResult();
            if (rv.getValue() == CKR_NO_EVENT) return;
            Cells.rv(rv, "C_WaitForSlotEvent");
        }
        throw new Cells.Failed("check", "events keep coming without a change");
    }
}
