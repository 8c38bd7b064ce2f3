package corvaletest.stress;

import corvaletest.Mock;
import corvaletest.Natives;
import java.util.Map;
import java.util.Random;
import java.util.Set;
import java.util.function.Supplier;
import quorvel.pkcs.pkcs11.*;
import quorvel.pkcs.pkcs11.jni.NativeCryptokiFunctions;

/**
 * Calls every native of NativeCryptokiFunctions with random arguments, valid
 * and not, against the mock in hostile mode. One seed drives both the Java
 * arguments and the module's answers, so a run replays exactly.
 *
 * <p>What must hold whatever the module answers: no exception but the VM's
 * own OutOfMemoryError for an absurd length; a result whenever the required
 * arguments are present and valid; codes and handles zero-extended on i386;
 * no data beside a failed code.
 */
final class HostileDriver implements Natives.Args {

    /** Rebinding modes: the module name and the variant whose state it shares. */
    private static final String[][] MODULES = {
        {"mock", "mock"}, {"kulm", "mock"}, {"softoken", "mock"}, {"mock-nowait", "mock-nowait"},
    };
    /** The cases of the table, and one more: rebinding. */
    static final int NATIVES = Natives.ALL.size() + 1;
    /** The stubs call none of these. */
    static final Set<String> UNCALLED = Set.of("C_DeriveKey", "C_GetFunctionStatus", "C_CancelFunction");

    private final long seed;
    private final Random r;
    private final boolean is32 = Mock.is32Bit();
    private NativeCryptokiFunctions p11;
    private final NativeCryptokiFunctions unbound = new NativeCryptokiFunctions();
    private int round;
    private String variant;
    /** Calls that reached the module, per C_ function, over every binding so far. */
    final Map<String, Long> reached = new java.util.TreeMap<>();
    long outOfMemory;
    long nullResults;

    HostileDriver(long seed) {
        this.seed = seed;
        this.r = new Random(seed);
    }

    /** A driver on a binding other threads use too: it never rebinds. */
    HostileDriver(long seed, NativeCryptokiFunctions shared) {
        this(seed);
        this.p11 = shared;
        this.shared = true;
    }

    private boolean shared;

    /** Binds a module kind picked at random; the module is hostile from the first call. */
    void rebind() {
        if (p11 != null) p11.finalize();
        countReached();
        String[] m = MODULES[r.nextInt(MODULES.length)];
        variant = m[1];
        Mock.use(m[1]);
        Mock.reset();
        Mock.setRecording(false);
        // Only the optional entry may be null in a table the library keeps.
        if (!m[0].startsWith("mock") && r.nextInt(3) == 0) Mock.setNullEntry("C_WaitForSlotEvent");
        Mock.hostile(seed * 31 + round++);
        p11 = new NativeCryptokiFunctions();
        for (int tries = 0; p11.doInitialize(m[0]) != 1; tries++) {
            if (tries > 200) throw new AssertionError("C_Initialize never succeeded, seed " + seed);
        }
    }

    void finish() {
        if (p11 != null) p11.finalize();
        p11 = null;
        countReached();
        Mock.resetAll();
    }

    private void countReached() {
        if (variant == null) return;
        Mock.use(variant);
        for (String fn : Mock.functions()) reached.merge(fn, (long) Mock.callCount(fn), Long::sum);
    }

    /** One call of native {@code which}; throws AssertionError on a broken rule. */
    void call(int which) {
        if (which == Natives.ALL.size()) {  // rebinding is rare: it costs a module load
            if (!shared && r.nextInt(50) == 0) rebind();
            return;
        }
        Natives.Case k = Natives.ALL.get(which);
        if (k.lasting() && r.nextInt(20) != 0) return;
        NativeCryptokiFunctions f = r.nextInt(100) == 0 ? unbound : p11;
        valid = true;
        try {
            check(k, k.call(f, this));
        } catch (OutOfMemoryError e) {
            outOfMemory++;  // the VM refused an absurd output length (or the heap is small)
        }
    }

    // ---- arguments; each clears valid when the native may answer null ----------------

    private boolean valid;

    private <T> T orNull(int oneIn, Supplier<T> make) {
        if (r.nextInt(oneIn) != 0) return make.get();
        valid = false;
        return null;
    }

    @Override public SessionHandle session() { return orNull(20, () -> new SessionHandle(anyLong())); }
    @Override public Handle handle() { return orNull(20, () -> new Handle(anyLong())); }
    @Override public SlotId slot() { return orNull(20, () -> new SlotId(anyLong())); }
    @Override public MechanismType mechanism() { return orNull(20, () -> new MechanismType(anyLong())); }
    @Override public OpenSessionFlags flags() { return orNull(20, () -> new OpenSessionFlags(anyLong())); }
    @Override public UserType userType() { return orNull(20, () -> new UserType(r.nextInt(5) - 1, null)); }
    @Override public NotifyEventHandler handler() { return orNull(2, () -> (s, e) -> { }); }
    @Override public boolean bool() { return r.nextBoolean(); }
    @Override public long number() { return anyLong(); }
    @Override public byte[] parameter() { return bytes(); }
    @Override public byte[] data() { return bytes(); }

    @Override
    public byte[] array() {
        byte[] b = bytes();
        if (b == null) valid = false;
        return b;
    }

    /** A required array: null or empty ones make the native answer null. */
    @Override
    public byte[] required() {
        byte[] b = bytes();
        if (b == null || b.length == 0) valid = false;
        return b;
    }

    @Override
    public String text() {
        String s = anyText();
        if (s == null) valid = false;
        return s;
    }

    @Override
    public MechanismInformationFlags[] flagsOut() {
        return r.nextInt(8) == 0 ? null : new MechanismInformationFlags[r.nextInt(3)];
    }

    @Override
    public int[] keySizesOut() {
        return r.nextInt(8) == 0 ? null : new int[r.nextInt(4)];
    }

    /** Codec arguments: any array sizes, nulls, wrong dates. */
    @Override
    public byte[] encoded() {
        return r.nextInt(6) == 0 ? null : random(r.nextInt(12));
    }

    @Override
    public String[] date() {
        if (r.nextInt(4) == 0) return new String[] {"31", "12", "2026"};
        return new String[] {anyText(), anyText(), anyText()};
    }

    @Override
    public String[] dateOut() {
        return r.nextInt(3) == 0 ? new String[3] : r.nextInt(5) == 0 ? null : new String[r.nextInt(5)];
    }

    private long anyLong() {
        switch (r.nextInt(6)) {
            case 0: return 0;
            case 1: return -1;
            case 2: return 0xFFFFFFFFL;
            case 3: return 0x100000001L;
            case 4: return r.nextInt(8);
            default: return r.nextLong();
        }
    }

    private byte[] bytes() {
        switch (r.nextInt(10)) {
            case 0: return null;
            case 1: return new byte[0];
            case 2: return random(1 + r.nextInt(8192));
            default: return random(1 + r.nextInt(64));
        }
    }

    private byte[] random(int n) {
        byte[] b = new byte[n];
        r.nextBytes(b);
        return b;
    }

    /** Offset and length of a slice of b: inside, at and past the ends, negative, huge. */
    @Override
    public int[] slice(byte[] b) {
        int n = b == null ? 0 : b.length;
        int off, len;
        switch (r.nextInt(10)) {
            case 0: off = -1; len = 1; break;
            case 1: off = 0; len = -1; break;
            case 2: off = Integer.MAX_VALUE; len = 1; break;
            case 3: off = 1; len = Integer.MAX_VALUE; break;
            case 4: off = n; len = 1; break;
            case 5: off = 0; len = n + 1; break;
            case 6: off = n; len = 0; break;
            case 7: off = Integer.MIN_VALUE; len = Integer.MIN_VALUE; break;
            default:
                off = n == 0 ? 0 : r.nextInt(n);
                len = n - off == 0 ? 0 : 1 + r.nextInt(n - off);
        }
        if (b == null || off < 0 || len <= 0 || (long) off + len > n) valid = false;
        return new int[] {off, len};
    }

    private String anyText() {
        switch (r.nextInt(8)) {
            case 0: return null;
            case 1: return "";
            case 2: return "\uD800x\uDFFF\u0000\uFFFF";  // lone surrogates, NUL
            case 3: {
                StringBuilder sb = new StringBuilder();
                int n = 1 + r.nextInt(10000);
                for (int i = 0; i < n; i++) sb.append((char) r.nextInt(0x10000));
                return sb.toString();
            }
            case 4: return "12345678";
            default: return Mock.USER_PIN;
        }
    }

    @Override
    public TemplateAttribute[] template() {
        int kind = r.nextInt(30);
        if (kind == 0) {
            valid = false;
            return null;
        }
        int n = kind == 1 ? 2000 + r.nextInt(3000) : r.nextInt(6);
        TemplateAttribute[] t = new TemplateAttribute[n];
        for (int i = 0; i < n; i++) {
            int k = r.nextInt(40);
            if (k == 0) {
                valid = false;  // a null element
                continue;
            }
            AttributeType type = k == 1 ? null : new AttributeType(anyLong() & (r.nextBoolean() ? 0xFF : -1L));
            if (type == null) valid = false;
            Object value;
            switch (r.nextInt(12)) {
                case 0: value = "not bytes"; valid = false; break;
                case 1: value = new long[] {1}; valid = false; break;
                case 2: value = Integer.valueOf(7); valid = false; break;
                case 3: case 4: value = null; break;
                default: value = bytes(); if (value == null) value = new byte[0];
            }
            t[i] = new TemplateAttribute(type, value);
        }
        return t;
    }

    @Override
    public Handle[] handles() {
        int kind = r.nextInt(20);
        if (kind == 0) {
            valid = false;
            return null;
        }
        int n = kind == 1 ? 10000 : r.nextInt(9);
        Handle[] h = new Handle[n];
        for (int i = 0; i < n; i++) h[i] = r.nextInt(10) == 0 ? null : new Handle(anyLong());
        return h;
    }

    // ---- the rules ----------------------------------------------------------------------

    private void check(Natives.Case k, Object result) {
        switch (k.shape()) {
            case LIFECYCLE:
                if (!Integer.valueOf(0).equals(result)) fail(k, "doInitialize() answered " + result);
                return;
            case STUB:
                if (result != null && !Boolean.FALSE.equals(result)) fail(k, "a stub that answered " + result);
                return;
            case CODEC:
                if (result instanceof Integer size && size <= 0) fail(k, "a size of " + size);
                return;
            default:
        }
        if (result == null) {
            nullResults++;
            if (valid) fail(k, "null result for valid arguments");
            return;
        }
        ReturnValue rv = Natives.code(result);
        if (rv == null) fail(k, "result without a code: " + result);
        checkUlong(k, rv.getValue(), "code");
        for (Object part : Natives.parts(result)) {
            // Information records may carry undefined contents beside a failure;
            // byte and list data never do.
            if (part != null && part.getClass().isArray() && !rv.isOk()) fail(k, "data beside " + rv);
            if (part instanceof SlotId[] || part instanceof MechanismType[]) {
                for (Object o : (Object[]) part) {
                    if (o == null) fail(k, "null element in the list");
                    checkPart(k, o);
                }
            }
            checkPart(k, part);
        }
    }

    /** Handles, ids and sizes arrive zero-extended. */
    private void checkPart(Natives.Case k, Object part) {
        if (part instanceof Handle h) checkUlong(k, h.getValue(), "handle");
        if (part instanceof SessionHandle s) checkUlong(k, s.getHandle(), "session");
        if (part instanceof SlotId s) checkUlong(k, s.getId(), "slot");
        if (part instanceof MechanismType m) checkUlong(k, m.getType(), "mechanism");
        if (part instanceof Long size) checkUlong(k, size, "size");
    }

    private void checkUlong(Natives.Case k, long value, String what) {
        if (is32 && (value < 0 || value > 0xFFFFFFFFL)) fail(k, what + " not zero-extended: " + value);
    }

    private void fail(Natives.Case k, String why) {
        throw new AssertionError(k + ": " + why + " (seed " + seed + ")");
    }
}
