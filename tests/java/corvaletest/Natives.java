package corvaletest;

import static corvaletest.Natives.Shape.*;

import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.Objects;
import java.util.concurrent.ConcurrentHashMap;
import quorvel.pkcs.pkcs11.*;
import quorvel.pkcs.pkcs11.jni.NativeCryptokiFunctions;

/**
 * Every native of NativeCryptokiFunctions once, as a table of cases tagged
 * by shape, in the order a session would use them (queries, objects,
 * operations, then the calls that end things). A case takes each argument
 * from an {@link Args}, so a test picks the arguments (fixed ones, random
 * ones, values whose getters misbehave) and judges the answers by the shape;
 * {@link #code} and {@link #parts} read any answer record.
 */
public final class Natives {

    /** What a native takes and answers. */
    public enum Shape {
        /** Binds or unbinds a fresh object; calls no module function of ours. */
        LIFECYCLE,
        /** Answers zero (false, null) and calls nothing. */
        STUB,
        /** Static attribute codecs: no module. */
        CODEC,
        /** Library, slot, token, mechanism and session information: a record. */
        QUERY,
        /** A slot or a session, maybe texts: a code. */
        CALL,
        /** Session, mechanism, parameter (and a key): a code. */
        KEYED_INIT,
        /** Session, mechanism, parameter and two keys in, the wrapped key out. */
        KEYED_OUT,
        /** Session and a slice of data in, data out. */
        SLICE_OUT,
        /** Session and a slice of data in: a code. */
        SLICE_IN,
        /** Session in, the last data out. */
        FINAL_OUT,
        /** Data or a signature in whole, data out or a code. */
        BYTES_IN,
        /** A signature to check: a code. */
        VERIFY,
        /** A template in: a code or new handles. */
        TEMPLATE,
        /** A session and a handle array or state: a count or a record. */
        SESSION_OUT,
    }

    /** Where a case takes its arguments from; one call per argument, in order. */
    public interface Args {
        SessionHandle session();
        SlotId slot();
        Handle handle();
        MechanismType mechanism();
        OpenSessionFlags flags();
        UserType userType();
        NotifyEventHandler handler();
        boolean bool();
        /** A mechanism parameter: null is a valid one. */
        byte[] parameter();
        /** An array the native takes whole (a state, a seed, a buffer to fill, a signature): not null. */
        byte[] array();
        /** An array that must hold something (a signature to recover, a wrapped key). */
        byte[] required();
        /** Data to pass a slice of. */
        byte[] data();
        /** {offset, length} of the slice of data. */
        int[] slice(byte[] data);
        /** A PIN or a label. */
        String text();
        TemplateAttribute[] template();
        Handle[] handles();
        MechanismInformationFlags[] flagsOut();
        int[] keySizesOut();
        long number();
        /** An encoded attribute value, or room for one. */
        byte[] encoded();
        /** {day, month, year}. */
        String[] date();
        /** Room for {day, month, year}. */
        String[] dateOut();
    }

    @FunctionalInterface
    public interface Call {
        Object on(NativeCryptokiFunctions p11, Args a);
    }

    /**
     * One native. {@code lasting}: each successful call keeps a reference for
     * good (the notifying openSession), so loops call it rarely.
     */
    public record Case(String name, Shape shape, boolean lasting, Call call) {
        public Object call(NativeCryptokiFunctions p11, Args a) {
            return call.on(p11, a);
        }

        /** All but lifecycle, stubs and codecs need a bound module. */
        public boolean needsModule() {
            return shape.compareTo(CODEC) > 0;
        }

        @Override
        public String toString() {
            return name;
        }
    }

    /** The answer of a native without one. */
    public static final Object VOID = "void";

    public static final List<Case> ALL = List.of(
        // Lifecycle on a fresh object: a missing module would end the process by design.
        c("doInitialize()/finalize", LIFECYCLE, (p, a) -> {
            NativeCryptokiFunctions other = new NativeCryptokiFunctions();
            int rc = other.doInitialize();
            other.finalize();
            other.finalize();
            return rc;
        }),
        c("check", STUB, (p, a) -> p.check()),
        c("deriveKeyNative", STUB,
                (p, a) -> p.deriveKeyNative(a.session(), a.mechanism(), a.parameter(), a.handle(),
                        a.template())),
        c("getFunctionStatus", STUB, (p, a) -> p.getFunctionStatus(a.session())),
        c("cancelFunction", STUB, (p, a) -> p.cancelFunction(a.session())),

        c("getULongSize", CODEC, (p, a) -> NativeCryptokiFunctions.getULongSize()),
        c("getBoolSize", CODEC, (p, a) -> NativeCryptokiFunctions.getBoolSize()),
        c("getDateSize", CODEC, (p, a) -> NativeCryptokiFunctions.getDateSize()),
        c("encodeULong", CODEC, (p, a) -> {
            NativeCryptokiFunctions.encodeULong(a.number(), a.encoded());
            return VOID;
        }),
        c("decodeULong", CODEC, (p, a) -> NativeCryptokiFunctions.decodeULong(a.encoded())),
        c("encodeBool", CODEC, (p, a) -> {
            NativeCryptokiFunctions.encodeBool(a.bool(), a.encoded());
            return VOID;
        }),
        c("decodeBool", CODEC, (p, a) -> NativeCryptokiFunctions.decodeBool(a.encoded())),
        c("encodeDate", CODEC, (p, a) -> {
            String[] d = a.date();
            NativeCryptokiFunctions.encodeDate(d[0], d[1], d[2], a.encoded());
            return VOID;
        }),
        c("decodeDate", CODEC, (p, a) -> {
            byte[] b = a.encoded();
            String[] dmy = a.dateOut();
            try {
                NativeCryptokiFunctions.decodeDate(b, dmy);
            } catch (ArrayIndexOutOfBoundsException e) {
                // by design for an output of fewer than three elements
                if (dmy == null || dmy.length >= 3) throw e;
            }
            return VOID;
        }),

        c("getInfo", QUERY, (p, a) -> p.getInfo()),
        c("getSlotList", QUERY, (p, a) -> p.getSlotList(a.bool())),
        c("getSlotInfo", QUERY, (p, a) -> p.getSlotInfo(a.slot())),
        c("getTokenInfo", QUERY, (p, a) -> p.getTokenInfo(a.slot())),
        c("getMechanismList", QUERY, (p, a) -> p.getMechanismList(a.slot())),
        c("getMechanismInfo", QUERY,
                (p, a) -> p.getMechanismInfo(a.slot(), a.mechanism(), a.flagsOut(), a.keySizesOut())),
        c("waitForSlotEvent", QUERY, (p, a) -> p._waitForSlotEvent(a.bool())),
        c("openSession", QUERY, (p, a) -> p.openSession(a.slot(), a.flags())),
        new Case("openSession(handler)", QUERY, true,
                (p, a) -> p.openSession(a.slot(), a.flags(), a.handler())),
        c("getSessionInfo", QUERY, (p, a) -> p.getSessionInfo(a.session())),

        c("initToken", CALL, (p, a) -> p.initToken(a.slot(), a.text(), a.text())),
        c("initPIN", CALL, (p, a) -> p.initPIN(a.session(), a.text())),
        c("setPIN", CALL, (p, a) -> p.setPIN(a.session(), a.text(), a.text())),
        c("login", CALL, (p, a) -> p.login(a.session(), a.userType(), a.text())),

        c("createObjectNative", TEMPLATE, (p, a) -> p.createObjectNative(a.session(), a.template())),
        c("copyObjectNative", TEMPLATE, (p, a) -> p.copyObjectNative(a.session(), a.handle(), a.template())),
        c("getAttributeValueNative", TEMPLATE,
                (p, a) -> p.getAttributeValueNative(a.session(), a.handle(), a.template())),
        c("setAttributeValueNative", TEMPLATE,
                (p, a) -> p.setAttributeValueNative(a.session(), a.handle(), a.template())),
        c("findObjectsInitNative", TEMPLATE, (p, a) -> p.findObjectsInitNative(a.session(), a.template())),
        c("findObjects", SESSION_OUT, (p, a) -> p.findObjects(a.session(), a.handles())),
        c("findObjectsFinal", CALL, (p, a) -> p.findObjectsFinal(a.session())),
        c("getObjectSize", SESSION_OUT, (p, a) -> p.getObjectSize(a.session(), a.handle())),
        c("generateKeyNative", TEMPLATE,
                (p, a) -> p.generateKeyNative(a.session(), a.mechanism(), a.parameter(), a.template())),
        c("generateKeyPairNative", TEMPLATE, (p, a) -> p.generateKeyPairNative(a.session(), a.mechanism(),
                a.parameter(), a.template(), a.template())),
        c("unwrapKeyNative", TEMPLATE, (p, a) -> p.unwrapKeyNative(a.session(), a.mechanism(), a.parameter(),
                a.handle(), a.required(), a.template())),

        keyed("encryptInit", NativeCryptokiFunctions::encryptInit),
        keyed("decryptInit", NativeCryptokiFunctions::decryptInit),
        c("digestInit", KEYED_INIT, (p, a) -> p.digestInit(a.session(), a.mechanism(), a.parameter())),
        keyed("signInit", NativeCryptokiFunctions::signInit),
        keyed("signRecoverInit", NativeCryptokiFunctions::signRecoverInit),
        keyed("verifyInit", NativeCryptokiFunctions::verifyInit),
        keyed("verifyRecoverInit", NativeCryptokiFunctions::verifyRecoverInit),
        c("wrapKey", KEYED_OUT,
                (p, a) -> p.wrapKey(a.session(), a.mechanism(), a.parameter(), a.handle(), a.handle())),

        c("getOperationState", SESSION_OUT, (p, a) -> p.getOperationState(a.session())),
        c("setOperationState", CALL,
                (p, a) -> p.setOperationState(a.session(), a.array(), a.handle(), a.handle())),
        c("seedRandom", CALL, (p, a) -> p.seedRandom(a.session(), a.array())),
        c("generateRandom", CALL, (p, a) -> p.generateRandom(a.session(), a.array())),

        slice("encryptUpdate", SLICE_OUT, NativeCryptokiFunctions::encryptUpdate),
        slice("decryptUpdate", SLICE_OUT, NativeCryptokiFunctions::decryptUpdate),
        slice("digestEncryptUpdate", SLICE_OUT, NativeCryptokiFunctions::digestEncryptUpdate),
        slice("decryptDigestUpdate", SLICE_OUT, NativeCryptokiFunctions::decryptDigestUpdate),
        slice("signEncryptUpdate", SLICE_OUT, NativeCryptokiFunctions::signEncryptUpdate),
        slice("decryptVerifyUpdate", SLICE_OUT, NativeCryptokiFunctions::decryptVerifyUpdate),
        slice("digestUpdate", SLICE_IN, NativeCryptokiFunctions::digestUpdate),
        slice("signUpdate", SLICE_IN, NativeCryptokiFunctions::signUpdate),
        slice("verifyUpdate", SLICE_IN, NativeCryptokiFunctions::verifyUpdate),
        c("digestKey", CALL, (p, a) -> p.digestKey(a.session(), a.handle())),

        c("encryptFinal", FINAL_OUT, (p, a) -> p.encryptFinal(a.session())),
        c("decryptFinal", FINAL_OUT, (p, a) -> p.decryptFinal(a.session())),
        c("digestFinal", FINAL_OUT, (p, a) -> p.digestFinal(a.session())),
        c("signFinal", FINAL_OUT, (p, a) -> p.signFinal(a.session())),
        c("verifyFinal", VERIFY, (p, a) -> p.verifyFinal(a.session(), a.array())),

        slice("encrypt", SLICE_OUT, NativeCryptokiFunctions::encrypt),
        slice("decrypt", SLICE_OUT, NativeCryptokiFunctions::decrypt),
        slice("digest", SLICE_OUT, NativeCryptokiFunctions::digest),
        slice("sign", SLICE_OUT, NativeCryptokiFunctions::sign),
        slice("signRecover", SLICE_OUT, NativeCryptokiFunctions::signRecover),
        c("verifyRecover", BYTES_IN, (p, a) -> p.verifyRecover(a.session(), a.required())),
        c("verify", VERIFY, (p, a) -> {
            SessionHandle s = a.session();
            byte[] d = a.data();
            int[] sl = a.slice(d);
            return p.verify(s, d, sl[0], sl[1], a.required());
        }),

        c("logout", CALL, (p, a) -> p.logout(a.session())),
        c("destroyObject", CALL, (p, a) -> p.destroyObject(a.session(), a.handle())),
        c("closeSession", CALL, (p, a) -> p.closeSession(a.session())),
        c("closeAllSessions", CALL, (p, a) -> p.closeAllSessions(a.slot())));

    /** The cases that need a bound module. */
    public static List<Case> module() {
        return ALL.stream().filter(Case::needsModule).toList();
    }

    /** The code of an answer: the answer itself or its ReturnValue part; null when it has none. */
    public static ReturnValue code(Object answer) {
        if (answer instanceof ReturnValue rv) return rv;
        Method[] m = getters(answer);
        boolean has = m.length > 0 && m[0].getReturnType() == ReturnValue.class;
        return has ? (ReturnValue) value(m[0], answer) : null;
    }

    /** What an answer record holds beside its code, getter by getter. */
    public static List<Object> parts(Object answer) {
        List<Object> out = new ArrayList<>();
        if (answer instanceof ReturnValue) return out;
        for (Method m : getters(answer)) {
            if (m.getReturnType() != ReturnValue.class) out.add(value(m, answer));
        }
        return out;
    }

    /**
     * Plain valid arguments around one session and one key; remembers every
     * array it hands out, with a copy, for {@link #untouched}.
     */
    public static class Plain implements Args {
        private final SessionHandle session;
        private final Handle key;
        private final List<Object[]> handed = new ArrayList<>();

        public Plain(SessionHandle session, Handle key) {
            this.session = session;
            this.key = key;
        }

        /** Whether every array handed out still holds what it held. */
        public boolean untouched() {
            for (Object[] h : handed) {
                if (!Objects.deepEquals(h[0], h[1])) return false;
            }
            return true;
        }

        private <T> T keep(T array, T copy) {
            handed.add(new Object[] {array, copy});
            return array;
        }

        private byte[] bytes() {
            return keep(new byte[] {1, 2, 3}, new byte[] {1, 2, 3});
        }

        @Override public SessionHandle session() { return session; }
        @Override public SlotId slot() { return new SlotId(1); }
        @Override public Handle handle() { return key; }
        @Override public MechanismType mechanism() { return MechanismType.CKM_AES_CBC_PAD; }
        @Override public OpenSessionFlags flags() { return OpenSessionFlags.readWrite(); }
        @Override public UserType userType() { return UserType.USER; }
        @Override public NotifyEventHandler handler() { return (h, e) -> { }; }
        @Override public boolean bool() { return false; }  // no blocking wait
        @Override public byte[] parameter() { return bytes(); }
        @Override public byte[] array() { return bytes(); }
        @Override public byte[] required() { return bytes(); }
        @Override public byte[] data() { return bytes(); }
        @Override public int[] slice(byte[] data) { return new int[] {1, data.length - 1}; }
        @Override public String text() { return Mock.USER_PIN; }
        @Override public long number() { return 1; }
        @Override public byte[] encoded() { return bytes(); }
        @Override public String[] date() { return new String[] {"31", "12", "2026"}; }
        @Override public String[] dateOut() { return new String[3]; }

        @Override
        public TemplateAttribute[] template() {
            return new TemplateAttribute[] {new TemplateAttribute(AttributeType.CKA_LABEL, bytes())};
        }

        @Override
        public Handle[] handles() {
            return keep(new Handle[2], new Handle[2]);
        }

        @Override
        public MechanismInformationFlags[] flagsOut() {
            return keep(new MechanismInformationFlags[1], new MechanismInformationFlags[1]);
        }

        @Override
        public int[] keySizesOut() {
            return keep(new int[] {7, 7}, new int[] {7, 7});
        }
    }

    private interface SliceNative {
        Object on(NativeCryptokiFunctions p11, SessionHandle s, byte[] data, int offset, int length);
    }

    private interface KeyedNative {
        ReturnValue on(NativeCryptokiFunctions p11, SessionHandle s, MechanismType m, byte[] parameter,
                Handle key);
    }

    private static Case keyed(String name, KeyedNative n) {
        return c(name, KEYED_INIT, (p, a) -> n.on(p, a.session(), a.mechanism(), a.parameter(), a.handle()));
    }

    private static Case c(String name, Shape shape, Call call) {
        return new Case(name, shape, false, call);
    }

    private static Case slice(String name, Shape shape, SliceNative n) {
        return c(name, shape, (p, a) -> {
            SessionHandle s = a.session();
            byte[] d = a.data();
            int[] sl = a.slice(d);
            return n.on(p, s, d, sl[0], sl[1]);
        });
    }

    private static final Map<Class<?>, Method[]> GETTERS = new ConcurrentHashMap<>();

    /** The getters of a record class, the code first. */
    private static Method[] getters(Object answer) {
        return GETTERS.computeIfAbsent(answer.getClass(), c -> {
            List<Method> out = new ArrayList<>();
            for (Method m : c.getMethods()) {
                if (m.getParameterCount() == 0 && m.getDeclaringClass() == c
                        && m.getName().startsWith("get")) {
                    if (m.getReturnType() == ReturnValue.class) out.add(0, m);
                    else out.add(m);
                }
            }
            return out.toArray(new Method[0]);
        });
    }

    private static Object value(Method m, Object answer) {
        try {
            return m.invoke(answer);
        } catch (InvocationTargetException e) {
            if (e.getCause() instanceof Error err) throw err;  // an OutOfMemoryError copying the data
            throw new AssertionError(e.getCause());
        } catch (ReflectiveOperationException e) {
            throw new AssertionError(e);
        }
    }

    private Natives() {
    }
}
