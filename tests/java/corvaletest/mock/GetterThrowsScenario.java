package corvaletest.mock;

import corvaletest.Mock;
import corvaletest.Natives;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import quorvel.pkcs.pkcs11.*;
import quorvel.pkcs.pkcs11.jni.NativeCryptokiFunctions;

/**
 * Child of GetterThrowsTest, run with the getters-throw variant first on the
 * class path, whose getters call {@link #refuse} first. Every native of the
 * natives table is called once per value object it reads, with that one
 * refusing one getter (templates: getType, getValue or getCode of their last
 * element). Prints "ok SHAPE NATIVE GETTER" when that very exception reached
 * the caller and the module saw no call, "FAIL ..." otherwise; -Xcheck:jni
 * reports any JNI call made after the exception. The same call with sound
 * arguments must reach the module, so that "no call" means something.
 */
public final class GetterThrowsScenario {

    static final long REFUSED = 0x5E971E1L;
    static RuntimeException last;

    /** Value getters: throw for REFUSED. */
    public static void refuse(long value, String getter) {
        if (value == REFUSED) throw last = new IllegalStateException(getter + " refused");
    }

    /** TemplateAttribute's getters: throw when the attribute's value names the getter. */
    public static void refuse(Object value, String getter) {
        if (getter.equals(value)) throw last = new IllegalStateException(getter + " refused");
    }

    /** The getters that can refuse, by the argument kind that carries them. */
    static final Map<String, List<String>> GETTERS = Map.of(
            "session", List.of("SessionHandle.getHandle"),
            "slot", List.of("SlotId.getId"),
            "handle", List.of("Handle.getValue"),
            "mechanism", List.of("MechanismType.getType"),
            "flags", List.of("OpenSessionFlags.getFlags"),
            "userType", List.of("UserType.getNum"),
            "template", List.of("TemplateAttribute.getType", "TemplateAttribute.getValue", "AttributeType.getCode"));

    /**
     * Plain arguments on a session of their own, except that the at-th
     * object of one kind refuses a getter; counts the objects of each kind
     * the case asks for.
     */
    static final class Refusing extends Natives.Plain {
        final String kind, getter;
        final int at;
        final Map<String, Integer> asked = new LinkedHashMap<>();

        Refusing(NativeCryptokiFunctions p11, String kind, int at, String getter) {
            super(p11.openSession(new SlotId(1), OpenSessionFlags.readWrite()).getHandle(), new Handle(999));
            this.kind = kind;
            this.at = at;
            this.getter = getter;
        }

        private boolean refuses(String k) {
            return asked.merge(k, 1, Integer::sum) == at + 1 && k.equals(kind);
        }

        @Override public SessionHandle session() { return refuses("session") ? new SessionHandle(REFUSED) : super.session(); }
        @Override public SlotId slot() { return refuses("slot") ? new SlotId(REFUSED) : super.slot(); }
        @Override public Handle handle() { return refuses("handle") ? new Handle(REFUSED) : super.handle(); }
        @Override public MechanismType mechanism() { return refuses("mechanism") ? new MechanismType(REFUSED) : super.mechanism(); }
        @Override public OpenSessionFlags flags() { return refuses("flags") ? new OpenSessionFlags(REFUSED) : super.flags(); }
        @Override public UserType userType() { return refuses("userType") ? new UserType((int) REFUSED, "") : super.userType(); }

        @Override
        public TemplateAttribute[] template() {
            TemplateAttribute[] t = super.template();
            if (!refuses("template")) return t;
            return new TemplateAttribute[] {t[0], getter.startsWith("AttributeType")
                    ? new TemplateAttribute(new AttributeType(REFUSED), t[0].getValue())
                    : new TemplateAttribute(AttributeType.CKA_VALUE, getter)};
        }
    }

    public static void main(String[] args) throws Exception {
        NativeCryptokiFunctions p11 = Mock.bound();
        int cases = 0;
        for (Natives.Case c : Natives.module()) {
            Refusing sound = new Refusing(p11, null, 0, null);
            Mock.clearCalls();
            c.call(p11, sound);
            if (Mock.calls().length == 0) System.out.println("FAIL " + c.shape() + " " + c + " control: no module call");
            for (Map.Entry<String, Integer> kind : sound.asked.entrySet()) {
                for (int at = 0; at < kind.getValue(); ++at) {
                    for (String getter : GETTERS.get(kind.getKey())) {
                        Refusing a = new Refusing(p11, kind.getKey(), at, getter);
                        String what = c.shape() + " " + c + " " + kind.getKey() + at + ":" + getter;
                        Mock.clearCalls();
                        String outcome;
                        try {
                            outcome = "returned " + c.call(p11, a);
                        } catch (RuntimeException e) {
                            outcome = e != last ? "threw another " + e
                                    : !e.getMessage().equals(getter + " refused") ? "wrong getter: " + e.getMessage()
                                    : Mock.calls().length > 0 ? "module called: " + String.join(" ", Mock.calls())
                                    : null;
                        }
                        System.out.println(outcome == null ? "ok " + what : "FAIL " + what + ": " + outcome);
                        ++cases;
                    }
                }
            }
            p11.closeAllSessions(new SlotId(1));
        }
        System.out.println("cases " + cases);
        p11.finalize();
    }
}
