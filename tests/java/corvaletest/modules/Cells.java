package corvaletest.modules;

import java.util.LinkedHashMap;
import java.util.Map;
import quorvel.pkcs.pkcs11.ReturnValue;

/**
 * The cells of one module's row. Each ends as exactly one of: worked and
 * checked ("ok", with the oracle that checked it), not offered by the module
 * ("absent", with how that is known), or "failed". A cell that needs another
 * one inherits its absence or failure. Printed one line each:
 * {@code CELL|name|outcome|evidence|detail}.
 */
final class Cells {

    static final long CKR_FUNCTION_NOT_SUPPORTED = 0x54, CKR_MECHANISM_INVALID = 0x70;

    /** Ends a cell as not offered; evidence says how that is known (e.g. "list:EC_KEY_PAIR_GEN"). */
    static final class Absent extends RuntimeException {
        final String evidence;

        Absent(String evidence, String detail) {
            super(detail, null, false, false);
            this.evidence = evidence;
        }
    }

    /** Ends a cell as failed. */
    static final class Failed extends RuntimeException {
        final String evidence;

        Failed(String evidence, String detail) {
            super(detail, null, false, false);
            this.evidence = evidence;
        }
    }

    interface Body {
        /** Runs the cell; returns the oracle that checked it. */
        String run() throws Exception;
    }

    private final Map<String, String> outcomes = new LinkedHashMap<>();

    /** Runs a cell unless one it needs did not work; returns true when it worked. */
    boolean run(String name, String[] needs, Body body) {
        try {
            for (String need : needs) require(need);
            return report(name, "ok", body.run(), "");
        } catch (Absent a) {
            return report(name, "absent", a.evidence, a.getMessage());
        } catch (Failed f) {
            return report(name, "failed", f.evidence, f.getMessage());
        } catch (Throwable t) {
            t.printStackTrace();
            return report(name, "failed", "exception", t.toString());
        }
    }

    /** Ends the running cell as the cell it needs ended, unless that one worked. */
    void require(String need) {
        String o = outcomes.get(need);
        if ("absent".equals(o)) throw new Absent("needs:" + need, need + " not offered");
        if (!"ok".equals(o)) throw new Failed("needs:" + need, need + " did not work");
    }

    boolean ok(String name) {
        return "ok".equals(outcomes.get(name));
    }

    private boolean report(String name, String outcome, String evidence, String detail) {
        outcomes.put(name, outcome);
        String clean = detail == null ? "" : detail.replace('\n', ' ').replace('|', '/');
        System.out.println("CELL|" + name + "|" + outcome + "|" + evidence + "|" + clean);
        System.out.flush();
        return "ok".equals(outcome);
    }

    // Checks that end a cell

    /** A module answer that must be CKR_OK: "not supported" answers make the cell absent, others failed. */
    static void rv(ReturnValue rv, String call) {
        if (rv.isOk()) return;
        String evidence = String.format("rv:0x%X@%s", rv.getValue(), call);
        if (rv.getValue() == CKR_FUNCTION_NOT_SUPPORTED || rv.getValue() == CKR_MECHANISM_INVALID) {
            throw new Absent(evidence, call + ": " + rv);
        }
        throw new Failed(evidence, call + ": " + rv);
    }

    static void expectRv(long expected, ReturnValue rv, String call) {
        if (rv.getValue() != expected) {
            throw new Failed(String.format("rv:0x%X@%s", rv.getValue(), call),
                    call + ": " + rv + ", expected " + new ReturnValue(expected));
        }
    }

    static void check(boolean condition, String what) {
        if (!condition) throw new Failed("check", what);
    }

    static void same(Object expected, Object actual, String what) {
        if (!java.util.Objects.equals(expected, actual)) {
            throw new Failed("check", what + ": expected <" + expected + "> but was <" + actual + ">");
        }
    }
}
