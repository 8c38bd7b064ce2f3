import corvaletest.Mock;
import quorvel.pkcs.pkcs11.*;
import quorvel.pkcs.pkcs11.jni.NativeCryptokiFunctions;
import sun.security.pkcs11.wrapper.CK_ATTRIBUTE;
import sun.security.pkcs11.wrapper.CK_MECHANISM;
import sun.security.pkcs11.wrapper.PKCS11;

/**
 * The module calls each bridge makes for the benchmark's operations, read
 * from the mock module's call log: what bench/direct.c must repeat for the
 * "openjdk" and "corvale" call sequences.
 */
public final class CallLog {

    interface Op {
        void run() throws Exception;
    }

    static void show(String what, Op op) throws Exception {
        Mock.clearCalls();
        op.run();
        System.out.println(what);
        for (String line : Mock.calls()) {
            // Data bytes make long lines; the call shape is what matters.
            System.out.println("    " + line.replaceAll("=([0-9a-f]{16})[0-9a-f]+", "=$1..."));
        }
    }

    public static void main(String[] args) throws Exception {
        String module = args[0];  // path of libmock.so
        byte[] d64 = new byte[64], d4k = new byte[4096], d32 = new byte[32], out32 = new byte[32];
        byte[] out4k = new byte[4096 + 16], iv = new byte[16];

        Mock.resetAll();
        PKCS11 jdk = PKCS11.getInstance(module, "C_GetFunctionList", null, false);
        long s = jdk.C_OpenSession(1, 6, null, null);
        System.out.println("== OpenJDK (" + jdk.getClass().getName() + ")");
        show("generateRandom 32", () -> jdk.C_GenerateRandom(s, d32));
        show("digest 64 (C_DigestSingle)", () -> jdk.C_DigestSingle(s, new CK_MECHANISM(0x250), d64, 0, 64, out32, 0, 32));
        CK_ATTRIBUTE[] t = {new CK_ATTRIBUTE(0), new CK_ATTRIBUTE(1), new CK_ATTRIBUTE(0x11)};
        show("getAttributeValue x3", () -> jdk.C_GetAttributeValue(s, Mock.DATA_OBJECT, t));
        show("find 16", () -> {
            jdk.C_FindObjectsInit(s, new CK_ATTRIBUTE[0]);
            jdk.C_FindObjects(s, 16);
            jdk.C_FindObjectsFinal(s);
        });
        show("getTokenInfo", () -> jdk.C_GetTokenInfo(1));
        show("encrypt 4 KiB", () -> {
            jdk.C_EncryptInit(s, new CK_MECHANISM(0x1085, iv), Mock.AES_KEY);
            jdk.C_Encrypt(s, 0, d4k, 0, 4096, 0, out4k, 0, out4k.length);
        });
        show("sign 32", () -> {
            jdk.C_SignInit(s, new CK_MECHANISM(0x1041), Mock.EC_PRIVATE_KEY);
            jdk.C_Sign(s, d32);
        });
        jdk.C_Finalize(null);

        Mock.resetAll();
        NativeCryptokiFunctions p11 = new NativeCryptokiFunctions();
        p11.doInitialize("mock");
        SessionHandle h = p11.openSession(new SlotId(1), OpenSessionFlags.readWrite()).getHandle();
        MechanismType sha256 = new MechanismType(0x250);
        System.out.println("== libcorvale");
        show("generateRandom 32", () -> p11.generateRandom(h, d32));
        show("digestInit + digest 64", () -> {
            p11.digestInit(h, sha256, null);
            p11.digest(h, d64, 0, 64);
        });
        TemplateAttribute[] a = {new TemplateAttribute(new AttributeType(0)),
                new TemplateAttribute(new AttributeType(1)), new TemplateAttribute(new AttributeType(0x11))};
        show("getAttributeValue x3", () -> p11.getAttributeValueNative(h, new Handle(Mock.DATA_OBJECT), a));
        show("find 16", () -> {
            p11.findObjectsInitNative(h, new TemplateAttribute[0]);
            p11.findObjects(h, new Handle[16]);
            p11.findObjectsFinal(h);
        });
        show("getTokenInfo", () -> p11.getTokenInfo(new SlotId(1)));
        show("encrypt 4 KiB", () -> {
            p11.encryptInit(h, new MechanismType(0x1085), iv, new Handle(Mock.AES_KEY));
            p11.encrypt(h, d4k, 0, 4096);
        });
        show("sign 32", () -> {
            p11.signInit(h, new MechanismType(0x1041), null, new Handle(Mock.EC_PRIVATE_KEY));
            p11.sign(h, d32, 0, 32);
        });
        p11.finalize();
    }
}
