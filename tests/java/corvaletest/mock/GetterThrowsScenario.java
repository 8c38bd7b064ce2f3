package corvaletest.mock;

import corvaletest.Mock;
import java.nio.charset.StandardCharsets;
import java.util.LinkedHashMap;
import java.util.Map;
import java.util.function.Consumer;
import quorvel.pkcs.pkcs11.*;
import quorvel.pkcs.pkcs11.jni.NativeCryptokiFunctions;

/**
 * Child of GetterThrowsTest, run with the getters-throw variant first on the
 * class path. Every native that reads a value object is called once per value
 * object it reads, with that one replaced by a double whose getter throws
 * (templates: getType, getValue or getCode of their last element). Prints
 * "ok SHAPE NATIVE GETTER" when that very exception reached the caller and the
 * module saw no call, "FAIL ..." otherwise; -Xcheck:jni reports any JNI call
 * made after the exception. A control call with sound arguments must reach the
 * module, so that "no call" means something.
 */
public final class GetterThrowsScenario {

    /** The arguments of one call; each is named by a letter in a case's kinds. */
    static final class Args {
        SessionHandle s;
        Handle h = new Handle(999), k = new Handle(998);
        SlotId l = new SlotId(1);
        MechanismType m = new MechanismType(0x1085);
        OpenSessionFlags f = new OpenSessionFlags(6);
        UserType u = new UserType(1, "User");
        TemplateAttribute[] t = template(), t2 = template();
    }

    interface Native {
        Object call(NativeCryptokiFunctions p11, Args a);
    }

    record Case(String shape, String name, String kinds, Native call) {}

    static final byte[] D = {1, 2, 3, 4};
    static final Case[] CASES = {
        new Case("slot", "getSlotInfo", "l", (p, a) -> p.getSlotInfo(a.l)),
        new Case("slot", "getTokenInfo", "l", (p, a) -> p.getTokenInfo(a.l)),
        new Case("slot", "getMechanismList", "l", (p, a) -> p.getMechanismList(a.l)),
        new Case("slot", "getMechanismInfo", "lm",
                (p, a) -> p.getMechanismInfo(a.l, a.m, new MechanismInformationFlags[1], new int[2])),
        new Case("slot", "closeAllSessions", "l", (p, a) -> p.closeAllSessions(a.l)),
        new Case("slot", "initToken", "l", (p, a) -> p.initToken(a.l, "0000", "label")),
        new Case("slot", "openSession", "lf", (p, a) -> p.openSession(a.l, a.f)),
        new Case("slot", "openSession(notify)", "lf", (p, a) -> p.openSession(a.l, a.f, (h, e) -> { })),
        new Case("session", "closeSession", "s", (p, a) -> p.closeSession(a.s)),
        new Case("session", "getSessionInfo", "s", (p, a) -> p.getSessionInfo(a.s)),
        new Case("session", "getOperationState", "s", (p, a) -> p.getOperationState(a.s)),
        new Case("session", "setOperationState", "shk", (p, a) -> p.setOperationState(a.s, D, a.h, a.k)),
        new Case("session", "initPIN", "s", (p, a) -> p.initPIN(a.s, "0000")),
        new Case("session", "setPIN", "s", (p, a) -> p.setPIN(a.s, "0000", "00000")),
        new Case("session", "login", "su", (p, a) -> p.login(a.s, a.u, "0000")),
        new Case("session", "logout", "s", (p, a) -> p.logout(a.s)),
        new Case("session", "findObjects", "s", (p, a) -> p.findObjects(a.s, new Handle[2])),
        new Case("session", "findObjectsFinal", "s", (p, a) -> p.findObjectsFinal(a.s)),
        new Case("session", "seedRandom", "s", (p, a) -> p.seedRandom(a.s, D)),
        new Case("session", "generateRandom", "s", (p, a) -> p.generateRandom(a.s, new byte[4])),
        new Case("object", "destroyObject", "sh", (p, a) -> p.destroyObject(a.s, a.h)),
        new Case("object", "getObjectSize", "sh", (p, a) -> p.getObjectSize(a.s, a.h)),
        new Case("object", "digestKey", "sh", (p, a) -> p.digestKey(a.s, a.h)),
        new Case("template", "createObjectNative", "st", (p, a) -> p.createObjectNative(a.s, a.t)),
        new Case("template", "copyObjectNative", "sht", (p, a) -> p.copyObjectNative(a.s, a.h, a.t)),
        new Case("template", "getAttributeValueNative", "sht", (p, a) -> p.getAttributeValueNative(a.s, a.h, a.t)),
        new Case("template", "setAttributeValueNative", "sht", (p, a) -> p.setAttributeValueNative(a.s, a.h, a.t)),
        new Case("template", "findObjectsInitNative", "st", (p, a) -> p.findObjectsInitNative(a.s, a.t)),
        new Case("init", "encryptInit", "smh", (p, a) -> p.encryptInit(a.s, a.m, D, a.h)),
        new Case("init", "decryptInit", "smh", (p, a) -> p.decryptInit(a.s, a.m, D, a.h)),
        new Case("init", "signInit", "smh", (p, a) -> p.signInit(a.s, a.m, null, a.h)),
        new Case("init", "signRecoverInit", "smh", (p, a) -> p.signRecoverInit(a.s, a.m, null, a.h)),
        new Case("init", "verifyInit", "smh", (p, a) -> p.verifyInit(a.s, a.m, null, a.h)),
        new Case("init", "verifyRecoverInit", "smh", (p, a) -> p.verifyRecoverInit(a.s, a.m, null, a.h)),
        new Case("init", "digestInit", "sm", (p, a) -> p.digestInit(a.s, a.m, D)),
        new Case("data", "encrypt", "s", (p, a) -> p.encrypt(a.s, D, 0, 4)),
        new Case("data", "decrypt", "s", (p, a) -> p.decrypt(a.s, D, 0, 4)),
        new Case("data", "digest", "s", (p, a) -> p.digest(a.s, D, 0, 4)),
        new Case("data", "sign", "s", (p, a) -> p.sign(a.s, D, 0, 4)),
        new Case("data", "signRecover", "s", (p, a) -> p.signRecover(a.s, D, 0, 4)),
        new Case("data", "encryptUpdate", "s", (p, a) -> p.encryptUpdate(a.s, D, 0, 4)),
        new Case("data", "decryptUpdate", "s", (p, a) -> p.decryptUpdate(a.s, D, 0, 4)),
        new Case("data", "digestEncryptUpdate", "s", (p, a) -> p.digestEncryptUpdate(a.s, D, 0, 4)),
        new Case("data", "decryptDigestUpdate", "s", (p, a) -> p.decryptDigestUpdate(a.s, D, 0, 4)),
        new Case("data", "signEncryptUpdate", "s", (p, a) -> p.signEncryptUpdate(a.s, D, 0, 4)),
        new Case("data", "decryptVerifyUpdate", "s", (p, a) -> p.decryptVerifyUpdate(a.s, D, 0, 4)),
        new Case("data", "verifyRecover", "s", (p, a) -> p.verifyRecover(a.s, D)),
        new Case("data", "encryptFinal", "s", (p, a) -> p.encryptFinal(a.s)),
        new Case("data", "decryptFinal", "s", (p, a) -> p.decryptFinal(a.s)),
        new Case("data", "digestFinal", "s", (p, a) -> p.digestFinal(a.s)),
        new Case("data", "signFinal", "s", (p, a) -> p.signFinal(a.s)),
        new Case("data", "digestUpdate", "s", (p, a) -> p.digestUpdate(a.s, D, 0, 4)),
        new Case("data", "signUpdate", "s", (p, a) -> p.signUpdate(a.s, D, 0, 4)),
        new Case("data", "verifyUpdate", "s", (p, a) -> p.verifyUpdate(a.s, D, 0, 4)),
        new Case("data", "verify", "s", (p, a) -> p.verify(a.s, D, 0, 4, D)),
        new Case("data", "verifyFinal", "s", (p, a) -> p.verifyFinal(a.s, D)),
        new Case("key", "generateKeyNative", "smt", (p, a) -> p.generateKeyNative(a.s, a.m, null, a.t)),
        new Case("key", "generateKeyPairNative", "smtT",
                (p, a) -> p.generateKeyPairNative(a.s, a.m, null, a.t, a.t2)),
        new Case("key", "wrapKey", "smhk", (p, a) -> p.wrapKey(a.s, a.m, null, a.h, a.k)),
        new Case("key", "unwrapKeyNative", "smht", (p, a) -> p.unwrapKeyNative(a.s, a.m, null, a.h, D, a.t)),
    };

    static TemplateAttribute[] template() {
        return new TemplateAttribute[] {
            new TemplateAttribute(new AttributeType(3), "label".getBytes(StandardCharsets.UTF_8)),
            new TemplateAttribute(new AttributeType(0x11), D),
        };
    }

    static Object refusal(String field) throws ReflectiveOperationException {
        return Class.forName("quorvel.pkcs.pkcs11.Refusal").getField(field).get(null);
    }

    /** For each kind letter: the getter that throws, and how the argument is made to throw. */
    static Map<Character, Map<String, Consumer<Args>>> refusals() throws ReflectiveOperationException {
        long v = (Long) refusal("VALUE");
        Object type = refusal("TYPE"), value = refusal("ATTRIBUTE_VALUE");
        Map<Character, Map<String, Consumer<Args>>> r = new LinkedHashMap<>();
        r.put('s', Map.of("SessionHandle.getHandle", a -> a.s = new SessionHandle(v)));
        r.put('h', Map.of("Handle.getValue", a -> a.h = new Handle(v)));
        r.put('k', Map.of("Handle.getValue", a -> a.k = new Handle(v)));
        r.put('l', Map.of("SlotId.getId", a -> a.l = new SlotId(v)));
        r.put('m', Map.of("MechanismType.getType", a -> a.m = new MechanismType(v)));
        r.put('f', Map.of("OpenSessionFlags.getFlags", a -> a.f = new OpenSessionFlags(v)));
        r.put('u', Map.of("UserType.getNum", a -> a.u = new UserType((int) v, "")));
        Map<String, TemplateAttribute> last = Map.of(
                "TemplateAttribute.getType", new TemplateAttribute(new AttributeType(0x11), type),
                "TemplateAttribute.getValue", new TemplateAttribute(new AttributeType(0x11), value),
                "AttributeType.getCode", new TemplateAttribute(new AttributeType(v), D));
        Map<String, Consumer<Args>> t = new LinkedHashMap<>(), t2 = new LinkedHashMap<>();
        last.forEach((getter, attribute) -> {
            t.put(getter, a -> a.t[1] = attribute);
            t2.put(getter, a -> a.t2[1] = attribute);
        });
        r.put('t', t);
        r.put('T', t2);
        return r;
    }

    public static void main(String[] args) throws Exception {
        Mock.use("mock");
        Mock.reset();
        NativeCryptokiFunctions p11 = new NativeCryptokiFunctions();
        if (p11.doInitialize("mock") != 1) throw new AssertionError("binding the mock");
        Map<Character, Map<String, Consumer<Args>>> refusals = refusals();
        int cases = 0;
        for (Case c : CASES) {
            Args sound = args(p11);
            Mock.clearCalls();
            c.call.call(p11, sound);
            if (Mock.calls().length == 0) System.out.println("FAIL " + c.shape + " " + c.name + " control: no module call");
            for (char kind : c.kinds.toCharArray()) {
                for (Map.Entry<String, Consumer<Args>> refusal : refusals.get(kind).entrySet()) {
                    Args a = args(p11);
                    refusal.getValue().accept(a);
                    String what = c.shape + " " + c.name + " " + kind + ":" + refusal.getKey();
                    Mock.clearCalls();
                    String outcome;
                    try {
                        outcome = "returned " + c.call.call(p11, a);
                    } catch (RuntimeException e) {
                        outcome = e != refusal("last") ? "threw another " + e
                                : !e.getMessage().equals(refusal.getKey() + " refused") ? "wrong getter: " + e.getMessage()
                                : Mock.calls().length > 0 ? "module called: " + String.join(" ", Mock.calls())
                                : null;
                    }
                    System.out.println(outcome == null ? "ok " + what : "FAIL " + what + ": " + outcome);
                    ++cases;
                }
            }
            p11.closeAllSessions(new SlotId(1));
        }
        System.out.println("cases " + cases);
        p11.finalize();
    }

    /** Sound arguments on a session of their own. */
    static Args args(NativeCryptokiFunctions p11) {
        Args a = new Args();
        a.s = p11.openSession(new SlotId(1), new OpenSessionFlags(6)).getHandle();
        return a;
    }
}
