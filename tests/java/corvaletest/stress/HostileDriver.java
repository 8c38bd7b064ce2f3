package corvaletest.stress;

import corvaletest.Mock;
import java.lang.reflect.Method;
import java.util.Map;
import java.util.Random;
import java.util.concurrent.ConcurrentHashMap;
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
final class HostileDriver {

    /** Rebinding modes: the module name and the variant whose state it shares. */
    private static final String[][] MODULES = {
        {"mock", "mock"}, {"kulm", "mock"}, {"softoken", "mock"}, {"mock-nowait", "mock-nowait"},
    };
    static final int NATIVES = 76;

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
        for (String fn : FUNCTIONS) reached.merge(fn, (long) Mock.callCount(fn), Long::sum);
    }

    /** Every C_ function of the list; the stubs call none of the last three. */
    static final String[] FUNCTIONS = {
        "C_Initialize", "C_Finalize", "C_GetInfo", "C_GetFunctionList", "C_GetSlotList", "C_GetSlotInfo",
        "C_GetTokenInfo", "C_GetMechanismList", "C_GetMechanismInfo", "C_InitToken", "C_InitPIN", "C_SetPIN",
        "C_OpenSession", "C_CloseSession", "C_CloseAllSessions", "C_GetSessionInfo", "C_GetOperationState",
        "C_SetOperationState", "C_Login", "C_Logout", "C_CreateObject", "C_CopyObject", "C_DestroyObject",
        "C_GetObjectSize", "C_GetAttributeValue", "C_SetAttributeValue", "C_FindObjectsInit", "C_FindObjects",
        "C_FindObjectsFinal", "C_EncryptInit", "C_Encrypt", "C_EncryptUpdate", "C_EncryptFinal",
        "C_DecryptInit", "C_Decrypt", "C_DecryptUpdate", "C_DecryptFinal", "C_DigestInit", "C_Digest",
        "C_DigestUpdate", "C_DigestKey", "C_DigestFinal", "C_SignInit", "C_Sign", "C_SignUpdate",
        "C_SignFinal", "C_SignRecoverInit", "C_SignRecover", "C_VerifyInit", "C_Verify", "C_VerifyUpdate",
        "C_VerifyFinal", "C_VerifyRecoverInit", "C_VerifyRecover", "C_DigestEncryptUpdate",
        "C_DecryptDigestUpdate", "C_SignEncryptUpdate", "C_DecryptVerifyUpdate", "C_GenerateKey",
        "C_GenerateKeyPair", "C_WrapKey", "C_UnwrapKey", "C_SeedRandom", "C_GenerateRandom",
        "C_WaitForSlotEvent", "C_DeriveKey", "C_GetFunctionStatus", "C_CancelFunction",
    };

    /** One call of native {@code which}; throws AssertionError on a broken rule. */
    void call(int which) {
        NativeCryptokiFunctions f = r.nextInt(100) == 0 ? unbound : p11;
        boolean[] valid = {true};
        try {
            check(which, invoke(f, which, valid), valid[0]);
        } catch (OutOfMemoryError e) {
            outOfMemory++;  // the VM refused an absurd output length (or the heap is small)
        }
    }

    // ---- argument makers; each clears valid[0] when the native may answer null ----

    private SessionHandle session(boolean[] v) {
        if (r.nextInt(20) == 0) {
            v[0] = false;
            return null;
        }
        return new SessionHandle(anyLong());
    }

    private Handle handle(boolean[] v) {
        if (r.nextInt(20) == 0) {
            v[0] = false;
            return null;
        }
        return new Handle(anyLong());
    }

    private SlotId slot(boolean[] v) {
        if (r.nextInt(20) == 0) {
            v[0] = false;
            return null;
        }
        return new SlotId(anyLong());
    }

    private MechanismType mechanism(boolean[] v) {
        if (r.nextInt(20) == 0) {
            v[0] = false;
            return null;
        }
        return new MechanismType(anyLong());
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

    /** A required array: null or empty ones make the native answer null. */
    private byte[] required(boolean[] v) {
        byte[] b = bytes();
        if (b == null || b.length == 0) v[0] = false;
        return b;
    }

    private byte[] random(int n) {
        byte[] b = new byte[n];
        r.nextBytes(b);
        return b;
    }

    /** Offset and length of a slice of b: inside, at and past the ends, negative, huge. */
    private int[] slice(byte[] b, boolean[] v) {
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
        if (b == null || off < 0 || len <= 0 || (long) off + len > n) v[0] = false;
        return new int[] {off, len};
    }

    private String text() {
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

    private String requiredText(boolean[] v) {
        String s = text();
        if (s == null) v[0] = false;
        return s;
    }

    private TemplateAttribute[] template(boolean[] v) {
        int kind = r.nextInt(30);
        if (kind == 0) {
            v[0] = false;
            return null;
        }
        int n = kind == 1 ? 2000 + r.nextInt(3000) : r.nextInt(6);
        TemplateAttribute[] t = new TemplateAttribute[n];
        for (int i = 0; i < n; i++) {
            int k = r.nextInt(40);
            if (k == 0) {
                v[0] = false;  // a null element
                continue;
            }
            AttributeType type = k == 1 ? null : new AttributeType(anyLong() & (r.nextBoolean() ? 0xFF : -1L));
            if (type == null) v[0] = false;
            Object value;
            switch (r.nextInt(12)) {
                case 0: value = "not bytes"; v[0] = false; break;
                case 1: value = new long[] {1}; v[0] = false; break;
                case 2: value = Integer.valueOf(7); v[0] = false; break;
                case 3: case 4: value = null; break;
                default: value = bytes(); if (value == null) value = new byte[0];
            }
            t[i] = new TemplateAttribute(type, value);
        }
        return t;
    }

    private Handle[] handles(boolean[] v) {
        int kind = r.nextInt(20);
        if (kind == 0) {
            v[0] = false;
            return null;
        }
        int n = kind == 1 ? 10000 : r.nextInt(9);
        Handle[] h = new Handle[n];
        for (int i = 0; i < n; i++) h[i] = r.nextInt(10) == 0 ? null : new Handle(anyLong());
        return h;
    }

    // ---- the natives --------------------------------------------------------------------

    private Object invoke(NativeCryptokiFunctions f, int which, boolean[] v) {
        switch (which) {
            case 0: {  // rebinding is rare: it costs a module load
                if (!shared && r.nextInt(50) == 0) rebind();
                return "skip";
            }
            // Stubs: they answer zero (false, null) and call nothing.
            case 1: return f.check() ? null : "skip";
            case 2: return f.deriveKeyNative(session(v), mechanism(v), bytes(), handle(v), template(v)) == null
                    ? "skip" : null;
            case 3: return f.getFunctionStatus(session(v)) == null ? "skip" : null;
            case 4: return f.cancelFunction(session(v)) == null ? "skip" : null;
            case 5: return codecs(v);
            case 6: return f.getInfo();
            case 7: return f.getSlotList(r.nextBoolean());
            case 8: return f.getSlotInfo(slot(v));
            case 9: return f.getTokenInfo(slot(v));
            case 10: return f.getMechanismList(slot(v));
            case 11: {
                MechanismInformationFlags[] flags = r.nextInt(8) == 0 ? null
                        : new MechanismInformationFlags[r.nextInt(3)];
                int[] sizes = r.nextInt(8) == 0 ? null : new int[r.nextInt(4)];
                return f.getMechanismInfo(slot(v), mechanism(v), flags, sizes);
            }
            case 12: return f._waitForSlotEvent(r.nextBoolean());
            case 13: return f.initToken(slot(v), requiredText(v), requiredText(v));
            case 14: return f.initPIN(session(v), requiredText(v));
            case 15: return f.setPIN(session(v), requiredText(v), requiredText(v));
            case 16: {
                UserType u = r.nextInt(20) == 0 ? null : new UserType(r.nextInt(5) - 1, null);
                if (u == null) v[0] = false;
                return f.login(session(v), u, requiredText(v));
            }
            case 17: return f.logout(session(v));
            case 18: return f.openSession(slot(v), flags(v));
            case 19: {
                // Each notifying session keeps one global reference for good: rare.
                if (r.nextInt(20) != 0) return "skip";
                NotifyEventHandler h = null;
                if (r.nextBoolean()) h = (s, e) -> { };
                else v[0] = false;
                return f.openSession(slot(v), flags(v), h);
            }
            case 20: return f.closeSession(session(v));
            case 21: return f.closeAllSessions(slot(v));
            case 22: return f.getSessionInfo(session(v));
            case 23: return f.getOperationState(session(v));
            case 24: {
                byte[] state = bytes();
                if (state == null) v[0] = false;
                return f.setOperationState(session(v), state, handle(v), handle(v));
            }
            case 25: return f.createObjectNative(session(v), template(v));
            case 26: return f.copyObjectNative(session(v), handle(v), template(v));
            case 27: return f.destroyObject(session(v), handle(v));
            case 28: return f.getObjectSize(session(v), handle(v));
            case 29: return f.getAttributeValueNative(session(v), handle(v), template(v));
            case 30: return f.setAttributeValueNative(session(v), handle(v), template(v));
            case 31: return f.findObjectsInitNative(session(v), template(v));
            case 32: return f.findObjects(session(v), handles(v));
            case 33: return f.findObjectsFinal(session(v));
            case 34: return f.encryptInit(session(v), mechanism(v), bytes(), handle(v));
            case 35: return f.decryptInit(session(v), mechanism(v), bytes(), handle(v));
            case 36: return f.digestInit(session(v), mechanism(v), bytes());
            case 37: return f.signInit(session(v), mechanism(v), bytes(), handle(v));
            case 38: return f.signRecoverInit(session(v), mechanism(v), bytes(), handle(v));
            case 39: return f.verifyInit(session(v), mechanism(v), bytes(), handle(v));
            case 40: return f.verifyRecoverInit(session(v), mechanism(v), bytes(), handle(v));
            case 41: case 42: case 43: case 44: case 45: case 46: case 47: case 48: case 49: case 50:
            case 51: case 52: case 53: case 54: {
                SessionHandle s = session(v);
                byte[] b = bytes();
                int[] sl = slice(b, v);
                switch (which) {
                    case 41: return f.encrypt(s, b, sl[0], sl[1]);
                    case 42: return f.decrypt(s, b, sl[0], sl[1]);
                    case 43: return f.digest(s, b, sl[0], sl[1]);
                    case 44: return f.sign(s, b, sl[0], sl[1]);
                    case 45: return f.signRecover(s, b, sl[0], sl[1]);
                    case 46: return f.encryptUpdate(s, b, sl[0], sl[1]);
                    case 47: return f.decryptUpdate(s, b, sl[0], sl[1]);
                    case 48: return f.digestEncryptUpdate(s, b, sl[0], sl[1]);
                    case 49: return f.decryptDigestUpdate(s, b, sl[0], sl[1]);
                    case 50: return f.signEncryptUpdate(s, b, sl[0], sl[1]);
                    case 51: return f.decryptVerifyUpdate(s, b, sl[0], sl[1]);
                    case 52: return f.digestUpdate(s, b, sl[0], sl[1]);
                    case 53: return f.signUpdate(s, b, sl[0], sl[1]);
                    default: return f.verifyUpdate(s, b, sl[0], sl[1]);
                }
            }
            case 55: return f.verifyRecover(session(v), required(v));
            case 56: return f.encryptFinal(session(v));
            case 57: return f.decryptFinal(session(v));
            case 58: return f.digestFinal(session(v));
            case 59: return f.signFinal(session(v));
            case 60: return f.digestKey(session(v), handle(v));
            case 61: {
                SessionHandle s = session(v);
                byte[] b = bytes();
                int[] sl = slice(b, v);
                return f.verify(s, b, sl[0], sl[1], required(v));
            }
            case 62: {
                byte[] sig = bytes();
                if (sig == null) v[0] = false;
                return f.verifyFinal(session(v), sig);
            }
            case 63: return f.generateKeyNative(session(v), mechanism(v), bytes(), template(v));
            case 64: return f.generateKeyPairNative(session(v), mechanism(v), bytes(), template(v), template(v));
            case 65: return f.wrapKey(session(v), mechanism(v), bytes(), handle(v), handle(v));
            case 66: return f.unwrapKeyNative(session(v), mechanism(v), bytes(), handle(v), required(v), template(v));
            case 67: {
                byte[] seedBytes = bytes();
                if (seedBytes == null) v[0] = false;
                return f.seedRandom(session(v), seedBytes);
            }
            case 68: {
                byte[] buf = bytes();
                if (buf == null) v[0] = false;
                return f.generateRandom(session(v), buf);
            }
            case 69: {  // lifecycle natives on a fresh object (a missing module ends the process by design)
                NativeCryptokiFunctions other = new NativeCryptokiFunctions();
                if (other.doInitialize() != 0) return null;
                other.finalize();
                other.finalize();
                return "skip";
            }
            default: return codecs(v);
        }
    }

    private OpenSessionFlags flags(boolean[] v) {
        if (r.nextInt(20) == 0) {
            v[0] = false;
            return null;
        }
        return new OpenSessionFlags(anyLong());
    }

    /** The static codecs: any array sizes, nulls, wrong dates. */
    private Object codecs(boolean[] v) {
        byte[] b = r.nextInt(6) == 0 ? null : new byte[r.nextInt(12)];
        if (b != null) r.nextBytes(b);
        switch (r.nextInt(9)) {
            case 0: return NativeCryptokiFunctions.getULongSize() + NativeCryptokiFunctions.getBoolSize()
                    + NativeCryptokiFunctions.getDateSize() > 0 ? "skip" : null;
            case 1: NativeCryptokiFunctions.encodeULong(anyLong(), b); return "skip";
            case 2: NativeCryptokiFunctions.decodeULong(b); return "skip";
            case 3: NativeCryptokiFunctions.encodeBool(r.nextBoolean(), b); return "skip";
            case 4: NativeCryptokiFunctions.decodeBool(b); return "skip";
            case 5: NativeCryptokiFunctions.encodeDate(text(), text(), text(), b); return "skip";
            case 6: {
                String[] dmy = r.nextInt(5) == 0 ? null : new String[r.nextInt(5)];
                try {
                    NativeCryptokiFunctions.decodeDate(b, dmy);
                } catch (ArrayIndexOutOfBoundsException e) {
                    // by design for an output of fewer than three elements
                    if (dmy == null || dmy.length >= 3) throw e;
                }
                return "skip";
            }
            case 7: NativeCryptokiFunctions.encodeDate("31", "12", "2026", b); return "skip";
            default: NativeCryptokiFunctions.decodeDate(b, new String[3]); return "skip";
        }
    }

    // ---- the rules ----------------------------------------------------------------------

    private static final Map<Class<?>, Method[]> ACCESSORS = new ConcurrentHashMap<>();

    private void check(int which, Object result, boolean valid) {
        if (result == null) {
            nullResults++;
            if (valid || which <= 4) fail(which, "null result for valid arguments, or a stub that answered");
            return;
        }
        if (result instanceof String) return;
        ReturnValue rv = result instanceof ReturnValue ? (ReturnValue) result : (ReturnValue) get(result, "rv");
        if (rv == null) fail(which, "result without a code: " + result);
        checkUlong(which, rv.getValue(), "code");
        Object data = get(result, "data");
        // Information records may carry undefined contents beside a failure;
        // byte and list data never do.
        if (data != null && data.getClass().isArray() && !rv.isOk()) fail(which, "data beside " + rv);
        if (data instanceof Handle) checkUlong(which, ((Handle) data).getValue(), "handle");
        if (data instanceof SessionHandle) checkUlong(which, ((SessionHandle) data).getHandle(), "session");
        if (data instanceof SlotId) checkUlong(which, ((SlotId) data).getId(), "slot");
        if (data instanceof SlotId[]) {
            for (SlotId s : (SlotId[]) data) {
                if (s == null) fail(which, "null slot id in the list");
                checkUlong(which, s.getId(), "slot");
            }
        }
        if (data instanceof MechanismType[]) {
            for (MechanismType m : (MechanismType[]) data) {
                if (m == null) fail(which, "null mechanism in the list");
                checkUlong(which, m.getType(), "mechanism");
            }
        }
        if (result instanceof GenerateKeyPairResult) {
            GenerateKeyPairResult k = (GenerateKeyPairResult) result;
            if (k.getPublicKeyHandle() != null) checkUlong(which, k.getPublicKeyHandle().getValue(), "public key");
            if (k.getPrivateKeyHandle() != null) checkUlong(which, k.getPrivateKeyHandle().getValue(), "private key");
        }
        Handle made = result instanceof GenerateKeyResult ? ((GenerateKeyResult) result).getKeyHandle()
                : result instanceof CreateObjectResult ? ((CreateObjectResult) result).getObjectHandle()
                : result instanceof CopyObjectResult ? ((CopyObjectResult) result).getObjectHandle() : null;
        if (made != null) checkUlong(which, made.getValue(), "object handle");
        if (result instanceof GetObjectSizeResult) checkUlong(which, ((GetObjectSizeResult) result).getSize(), "size");
    }

    private void checkUlong(int which, long value, String what) {
        if (is32 && (value < 0 || value > 0xFFFFFFFFL)) fail(which, what + " not zero-extended: " + value);
    }

    private void fail(int which, String why) {
        throw new AssertionError("native #" + which + ": " + why + " (seed " + seed + ")");
    }

    /** The code ("rv") or the payload ("data") of a result record, by its getters. */
    private static Object get(Object result, String part) {
        Method[] m = ACCESSORS.computeIfAbsent(result.getClass(), HostileDriver::accessors);
        Method which = part.equals("rv") ? m[0] : m[1];
        if (which == null) return null;
        try {
            return which.invoke(result);
        } catch (java.lang.reflect.InvocationTargetException e) {
            if (e.getCause() instanceof OutOfMemoryError) throw (OutOfMemoryError) e.getCause();
            throw new AssertionError(e);
        } catch (ReflectiveOperationException e) {
            throw new AssertionError(e);
        }
    }

    private static Method[] accessors(Class<?> c) {
        Method rv = null, data = null;
        for (Method m : c.getMethods()) {
            if (m.getParameterCount() != 0 || m.getDeclaringClass() == Object.class) continue;
            if (m.getReturnType() == ReturnValue.class) rv = m;
            else if (m.getName().startsWith("get") && data == null && m.getReturnType() != int.class
                    && m.getReturnType() != long.class && m.getReturnType() != Handle.class) data = m;
        }
        return new Method[] {rv, data};
    }
}
