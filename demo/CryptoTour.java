import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.List;

import quorvel.pkcs.pkcs11.*;
import quorvel.pkcs.pkcs11.jni.NativeCryptokiFunctions;

/**
 * Keys, ciphers, digests and signatures on a logged-in session: everything is
 * a session object labelled {@value #LABEL}, and everything made is destroyed
 * at the end. Every step shows the module's answer; a failed step skips only
 * what depends on it, and what the token's mechanism list lacks is shown as
 * not offered.
 */
public final class CryptoTour {

    static final String LABEL = "corvale-demo";

    private static final long CKO_CERTIFICATE = 1, CKO_PUBLIC_KEY = 2, CKO_PRIVATE_KEY = 3, CKO_SECRET_KEY = 4;
    private static final AttributeType CKA_ALWAYS_AUTHENTICATE = new AttributeType(0x202);
    private static final MechanismType CKM_ECDSA_SHA256 = new MechanismType(0x1044);
    private static final long CKK_AES = 0x1F;
    /** DER of the OID of the curve P-256. */
    private static final byte[] P256 = {0x06, 0x08, 0x2A, (byte) 0x86, 0x48, (byte) 0xCE, 0x3D, 0x03, 0x01, 0x07};
    private static final byte[] MESSAGE =
            "Attack at dawn; bring the PKCS#11 token and sixteen blocks of AES.".getBytes(StandardCharsets.UTF_8);

    private final NativeCryptokiFunctions p11;
    private final SessionHandle session;
    private final List<Handle> made = new ArrayList<>();
    private final java.util.Set<MechanismType> offered = new java.util.HashSet<>();
    /** Session objects unless the token keeps none (tpm2-pkcs11): then token objects, destroyed at the end too. */
    private boolean tokenObjects;

    private CryptoTour(NativeCryptokiFunctions p11, SlotId slot, SessionHandle session) {
        this.p11 = p11;
        this.session = session;
        GetMechanismListResult list = p11.getMechanismList(slot);
        if (list.getResult().isOk()) offered.addAll(java.util.Arrays.asList(list.getMechanisms()));
    }

    /**
     * On a token used as it is (a card, which cannot make keys): signs with
     * each of the token's own private keys that may sign, and checks each
     * signature against the key's certificate (the certificate of the same
     * CKA_ID) in Java. A key that wants the PIN for every signature gets it
     * (a context-specific login). Returns false when the token holds no
     * such key.
     */
    public static boolean runWithOwnKeys(NativeCryptokiFunctions p11, SlotId slot, SessionHandle session, String pin) {
        return new CryptoTour(p11, slot, session).ownKeys(pin);
    }

    /** Runs the tour on a bound module and an open, logged-in read-write session on that slot's token. */
    public static void run(NativeCryptokiFunctions p11, SlotId slot, SessionHandle session) {
        CryptoTour tour = new CryptoTour(p11, slot, session);
        try {
            tour.tour();
        } finally {
            tour.cleanUp();
        }
    }

    private void tour() {
        heading("Keys");
        Handle aes = generateAes();
        Handle[] ec = generatePair("EC P-256 key pair", MechanismType.CKM_EC_KEY_PAIR_GEN,
                template().add(AttributeType.CKA_EC_PARAMS, P256), template());
        Handle[] rsa = generatePair("RSA-2048 key pair", MechanismType.CKM_RSA_PKCS_KEY_PAIR_GEN,
                template().ulong(AttributeType.CKA_MODULUS_BITS, 2048)
                        .add(AttributeType.CKA_PUBLIC_EXPONENT, new byte[] {1, 0, 1}).bool(AttributeType.CKA_WRAP, true),
                template().bool(AttributeType.CKA_UNWRAP, true));

        heading("AES-CBC-PAD on a " + MESSAGE.length + "-byte message");
        byte[] iv = new byte[16];
        if (step(p11.generateRandom(session, iv), "draw a random IV")) row("IV", hex(iv));
        byte[] ciphertext = null;
        if (aes != null && offers("AES-CBC-PAD", MechanismType.CKM_AES_CBC_PAD)) {
            ciphertext = encryptOnePart(aes, iv);
            encryptInParts(aes, iv, ciphertext);
            decrypt(aes, iv, ciphertext);
        }

        heading("SHA-256");
        byte[] digest = digest();

        heading("Signatures");
        if (ec != null && digest != null && offers("ECDSA", MechanismType.CKM_ECDSA)) {
            signAndVerify("ECDSA", MechanismType.CKM_ECDSA, ec, digest);
        }
        if (rsa != null && offers("RSA with SHA-256", MechanismType.CKM_SHA256_RSA_PKCS)) {
            signAndVerify("RSA and SHA-256", MechanismType.CKM_SHA256_RSA_PKCS, rsa, MESSAGE);
        }

        heading("Wrapping");
        if (aes != null && rsa != null && ciphertext != null && offers("wrapping with RSA", MechanismType.CKM_RSA_PKCS)) {
            wrapAndUnwrap(aes, rsa, iv, ciphertext);
        }

        heading("Objects labelled \"" + LABEL + "\"");
        find();
    }

    /**
     * A refused template on the first key of the tour: try again with token
     * objects (tpm2-pkcs11 keeps no session keys), and say so.
     */
    private boolean keepsNoSessionKeys(ReturnValue rv) {
        long v = rv.getValue();
        if (tokenObjects || (v != 0x13 && v != 0xD1)) return false;
        System.out.printf("    %-40s %s%n", "session objects refused (" + rv.getName() + ")", "token objects from here on");
        tokenObjects = true;
        return true;
    }

    /** True when the token lists all those mechanisms; otherwise the step is shown as not offered. */
    private boolean offers(String what, MechanismType... mechanisms) {
        for (MechanismType m : mechanisms) {
            if (!offered.contains(m)) {
                CorvaleDemo.notOffered(what + " (no " + m.getName() + ")");
                return false;
            }
        }
        return true;
    }

    // The token's own keys

    private boolean ownKeys(String pin) {
        List<Handle> certificates = search(new TemplateAttribute(AttributeType.CKA_CLASS, ulong(CKO_CERTIFICATE)));
        boolean any = false;
        for (Handle certificate : certificates) {
            TemplateAttribute[] t = {new TemplateAttribute(AttributeType.CKA_ID), new TemplateAttribute(AttributeType.CKA_VALUE)};
            if (!p11.getAttributeValueNative(session, certificate, t).isOk()) continue;
            List<Handle> keys = search(new TemplateAttribute(AttributeType.CKA_CLASS, ulong(CKO_PRIVATE_KEY)),
                    new TemplateAttribute(AttributeType.CKA_ID, t[0].getValue()));
            TemplateAttribute[] k = {new TemplateAttribute(AttributeType.CKA_SIGN), new TemplateAttribute(CKA_ALWAYS_AUTHENTICATE)};
            if (keys.size() != 1 || !p11.getAttributeValueNative(session, keys.get(0), k).isOk()
                    || !NativeCryptokiFunctions.decodeBool((byte[]) k[0].getValue())) {
                continue;
            }
            java.security.cert.X509Certificate x509;
            try {
                x509 = (java.security.cert.X509Certificate) java.security.cert.CertificateFactory.getInstance("X.509")
                        .generateCertificate(new java.io.ByteArrayInputStream((byte[]) t[1].getValue()));
            } catch (java.security.GeneralSecurityException e) {
                continue;
            }
            if (!any) {
                heading("The token's own keys (it is used as it is: the tour makes no keys on it)");
                System.out.println("      each key signs; Java checks the signature against the key's certificate");
                any = true;
            }
            System.out.println();
            row("key", keys.get(0) + ", CKA_ID " + hex((byte[]) t[0].getValue()));
            row("certificate", x509.getSubjectX500Principal().getName());
            boolean always = NativeCryptokiFunctions.decodeBool((byte[]) k[1].getValue());
            signWithOwnKey(keys.get(0), x509.getPublicKey(), always ? pin : null);
        }
        return any;
    }

    /** One signature of MESSAGE with SHA-256 (RSA PKCS #1 v1.5 or ECDSA), checked in Java. */
    private void signWithOwnKey(Handle key, java.security.PublicKey certified, String pinEachTime) {
        boolean rsa = certified.getAlgorithm().equals("RSA");
        MechanismType mechanism = rsa ? MechanismType.CKM_SHA256_RSA_PKCS : CKM_ECDSA_SHA256;
        String name = rsa ? "RSA and SHA-256" : "ECDSA and SHA-256";
        if (!offers(name, mechanism)) return;
        if (!step(p11.signInit(session, mechanism, null, key), "start signing with " + name)) return;
        if (pinEachTime != null
                && !step(p11.login(session, UserType.CONTEXT_SPECIFIC, pinEachTime), "the PIN again (this key wants it each time)")) {
            return;
        }
        SignResult s = p11.sign(session, MESSAGE, 0, MESSAGE.length);
        if (!step(s.getResult(), "sign")) return;
        row("signature", s.getData().length + " bytes, " + hex(s.getData()));
        boolean good;
        try {
            java.security.Signature v = java.security.Signature.getInstance(rsa ? "SHA256withRSA" : "SHA256withECDSAinP1363Format");
            v.initVerify(certified);
            v.update(MESSAGE);
            good = v.verify(s.getData());
        } catch (java.security.GeneralSecurityException e) {
            good = false;
        }
        CorvaleDemo.check(good, "Java verifies it with the certificate", good ? "ok" : "refused");
    }

    private List<Handle> search(TemplateAttribute... template) {
        List<Handle> found = new ArrayList<>();
        if (!p11.findObjectsInitNative(session, template).isOk()) return found;
        Handle[] batch = new Handle[8];
        FindObjectsResult r;
        while ((r = p11.findObjects(session, batch)).getResult().isOk() && r.getNumObjects() > 0) {
            for (int i = 0; i < r.getNumObjects(); i++) found.add(batch[i]);
        }
        p11.findObjectsFinal(session);
        return found;
    }

    private static byte[] ulong(long value) {
        byte[] b = new byte[NativeCryptokiFunctions.getULongSize()];
        NativeCryptokiFunctions.encodeULong(value, b);
        return b;
    }

    // Keys

    private Handle generateAes() {
        if (!offers("generate an AES-256 key", MechanismType.CKM_AES_KEY_GEN)) return null;
        Template t = template().ulong(AttributeType.CKA_VALUE_LEN, 32).bool(AttributeType.CKA_ENCRYPT, true)
                .bool(AttributeType.CKA_DECRYPT, true).bool(AttributeType.CKA_SENSITIVE, true)
                .bool(AttributeType.CKA_EXTRACTABLE, true);
        GenerateKeyResult r = p11.generateKeyNative(session, MechanismType.CKM_AES_KEY_GEN, null, t.array());
        if (keepsNoSessionKeys(r.getResult())) {
            r = p11.generateKeyNative(session, MechanismType.CKM_AES_KEY_GEN, null, t.token(true).array());
        }
        if (!step(r.getResult(), "generate an AES-256 key")) return null;
        made.add(r.getKeyHandle());
        row("key", r.getKeyHandle().toString());
        return r.getKeyHandle();
    }

    /** {private, public}, or null. */
    private Handle[] generatePair(String what, MechanismType mechanism, Template publicKey, Template privateKey) {
        if (!offers("generate an " + what, mechanism)) return null;
        publicKey.bool(AttributeType.CKA_VERIFY, true);
        privateKey.bool(AttributeType.CKA_SIGN, true).bool(AttributeType.CKA_SENSITIVE, true).bool(AttributeType.CKA_PRIVATE, true);
        GenerateKeyPairResult r = p11.generateKeyPairNative(session, mechanism, null, publicKey.array(), privateKey.array());
        if (keepsNoSessionKeys(r.getResult())) {
            r = p11.generateKeyPairNative(session, mechanism, null, publicKey.token(true).array(),
                    privateKey.token(true).array());
        }
        if (!step(r.getResult(), "generate an " + what)) return null;
        made.add(r.getPrivateKeyHandle());
        made.add(r.getPublicKeyHandle());
        row("private key", r.getPrivateKeyHandle().toString());
        row("public key", r.getPublicKeyHandle().toString());
        return new Handle[] {r.getPrivateKeyHandle(), r.getPublicKeyHandle()};
    }

    // Ciphers and digests

    private byte[] encryptOnePart(Handle key, byte[] iv) {
        if (!step(p11.encryptInit(session, MechanismType.CKM_AES_CBC_PAD, iv, key), "start encrypting")) return null;
        CipherResult r = p11.encrypt(session, MESSAGE, 0, MESSAGE.length);
        if (!step(r.getResult(), "encrypt in one part")) return null;
        row("ciphertext", r.getData().length + " bytes, " + hex(r.getData()));
        return r.getData();
    }

    private void encryptInParts(Handle key, byte[] iv, byte[] expected) {
        if (!step(p11.encryptInit(session, MechanismType.CKM_AES_CBC_PAD, iv, key), "start encrypting again")) return;
        java.io.ByteArrayOutputStream out = new java.io.ByteArrayOutputStream();
        int[] cuts = {0, 7, 40, MESSAGE.length};
        for (int i = 0; i + 1 < cuts.length; i++) {
            CipherResult part = p11.encryptUpdate(session, MESSAGE, cuts[i], cuts[i + 1] - cuts[i]);
            if (!step(part.getResult(), "encrypt bytes " + cuts[i] + " to " + (cuts[i + 1] - 1))) return;
            row("out", part.getData().length + " bytes");
            out.writeBytes(part.getData());
        }
        CipherResult last = p11.encryptFinal(session);
        if (!step(last.getResult(), "finish encrypting")) return;
        row("out", last.getData().length + " bytes");
        out.writeBytes(last.getData());
        boolean same = java.util.Arrays.equals(out.toByteArray(), expected);
        CorvaleDemo.check(same, "same as in one part", String.valueOf(same));
    }

    private void decrypt(Handle key, byte[] iv, byte[] ciphertext) {
        if (ciphertext == null) return;
        if (!step(p11.decryptInit(session, MechanismType.CKM_AES_CBC_PAD, iv, key), "start decrypting")) return;
        CipherResult r = p11.decrypt(session, ciphertext, 0, ciphertext.length);
        if (step(r.getResult(), "decrypt")) {
            row("plaintext", "\"" + new String(r.getData(), StandardCharsets.UTF_8) + "\"");
            CorvaleDemo.check(java.util.Arrays.equals(r.getData(), MESSAGE), "the message is back", "ok");
        }
    }

    private byte[] digest() {
        if (!offers("SHA-256", MechanismType.CKM_SHA256)) return null;
        if (!step(p11.digestInit(session, MechanismType.CKM_SHA256, null), "start a SHA-256 digest")) return null;
        DigestResult r = p11.digest(session, MESSAGE, 0, MESSAGE.length);
        if (!step(r.getResult(), "digest the message")) return null;
        row("digest", hex(r.getData()));
        return r.getData();
    }

    // Signatures

    private void signAndVerify(String name, MechanismType mechanism, Handle[] pair, byte[] data) {
        if (!step(p11.signInit(session, mechanism, null, pair[0]), "start signing with " + name)) return;
        SignResult s = p11.sign(session, data, 0, data.length);
        if (!step(s.getResult(), "sign")) return;
        row("signature", s.getData().length + " bytes, " + hex(s.getData()));
        if (step(p11.verifyInit(session, mechanism, null, pair[1]), "start verifying")) {
            step(p11.verify(session, data, 0, data.length, s.getData()), "verify the signature");
        }
        byte[] changed = data.clone();
        changed[changed.length / 2] ^= 0x01;
        if (p11.verifyInit(session, mechanism, null, pair[1]).isOk()) {
            ReturnValue rv = p11.verify(session, changed, 0, changed.length, s.getData());
            CorvaleDemo.check(!rv.isOk(), "verify after changing one byte", rv.isOk() ? "ok (unexpected!)" : rv.toString());
        }
    }

    // Wrapping

    private void wrapAndUnwrap(Handle aes, Handle[] rsa, byte[] iv, byte[] ciphertext) {
        WrapKeyResult w = p11.wrapKey(session, MechanismType.CKM_RSA_PKCS, null, rsa[1], aes);
        if (!step(w.getResult(), "wrap the AES key with the RSA public key")) return;
        row("wrapped", w.getData().length + " bytes");
        GenerateKeyResult u = p11.unwrapKeyNative(session, MechanismType.CKM_RSA_PKCS, null, rsa[0], w.getData(),
                template().ulong(AttributeType.CKA_CLASS, CKO_SECRET_KEY).ulong(AttributeType.CKA_KEY_TYPE, CKK_AES)
                        .bool(AttributeType.CKA_DECRYPT, true).bool(AttributeType.CKA_SENSITIVE, true).array());
        if (!step(u.getResult(), "unwrap it with the RSA private key")) return;
        made.add(u.getKeyHandle());
        row("unwrapped key", u.getKeyHandle().toString());
        if (!p11.decryptInit(session, MechanismType.CKM_AES_CBC_PAD, iv, u.getKeyHandle()).isOk()) return;
        CipherResult r = p11.decrypt(session, ciphertext, 0, ciphertext.length);
        if (step(r.getResult(), "decrypt with the unwrapped key")) {
            boolean same = java.util.Arrays.equals(r.getData(), MESSAGE);
            CorvaleDemo.check(same, "the same message", String.valueOf(same));
        }
    }

    // Finding

    private void find() {
        if (!step(p11.findObjectsInitNative(session, template().array()), "search by label")) return;
        List<Handle> found = new ArrayList<>();
        Handle[] batch = new Handle[4];
        while (true) {
            FindObjectsResult r = p11.findObjects(session, batch);
            if (!r.getResult().isOk()) {
                step(r.getResult(), "find objects");
                break;
            }
            if (r.getNumObjects() == 0) break;
            for (int i = 0; i < r.getNumObjects(); i++) found.add(batch[i]);
        }
        step(p11.findObjectsFinal(session), "end the search (" + found.size() + " found)");
        for (Handle h : found) {
            TemplateAttribute[] t = {
                new TemplateAttribute(AttributeType.CKA_CLASS), new TemplateAttribute(AttributeType.CKA_KEY_TYPE),
                new TemplateAttribute(AttributeType.CKA_TOKEN), new TemplateAttribute(AttributeType.CKA_PRIVATE),
                new TemplateAttribute(AttributeType.CKA_LABEL),
            };
            ReturnValue rv = p11.getAttributeValueNative(session, h, t);
            if (!rv.isOk()) {
                System.out.printf("      %-18s %s%n", h, rv);
                continue;
            }
            long cls = NativeCryptokiFunctions.decodeULong((byte[]) t[0].getValue());
            long type = NativeCryptokiFunctions.decodeULong((byte[]) t[1].getValue());
            byte[] label = (byte[]) t[4].getValue();
            System.out.printf("      %-18s %s, %s, token %b, private %b, label \"%s\"%n", h, className(cls),
                    new KeyType((int) type).getName(), NativeCryptokiFunctions.decodeBool((byte[]) t[2].getValue()),
                    NativeCryptokiFunctions.decodeBool((byte[]) t[3].getValue()),
                    label == null ? "" : new String(label, StandardCharsets.UTF_8));
        }
    }

    private void cleanUp() {
        if (made.isEmpty()) return;
        heading("Cleaning up");
        int destroyed = 0;
        for (Handle h : made) {
            if (p11.destroyObject(session, h).isOk()) destroyed++;
        }
        CorvaleDemo.check(destroyed == made.size(), "destroy what the tour made", destroyed + " of " + made.size());
    }

    // Templates and formatting

    /** Attributes every object of the tour has: a session object with the tour's label. */
    private Template template() {
        return new Template().bool(AttributeType.CKA_TOKEN, tokenObjects)
                .add(AttributeType.CKA_LABEL, LABEL.getBytes(StandardCharsets.UTF_8));
    }

    private static final class Template {
        private final List<TemplateAttribute> list = new ArrayList<>();

        Template add(AttributeType type, byte[] value) {
            list.add(new TemplateAttribute(type, value));
            return this;
        }

        Template bool(AttributeType type, boolean value) {
            byte[] b = new byte[NativeCryptokiFunctions.getBoolSize()];
            NativeCryptokiFunctions.encodeBool(value, b);
            return add(type, b);
        }

        /** CKA_TOKEN set anew. */
        Template token(boolean value) {
            list.removeIf(a -> a.getType().equals(AttributeType.CKA_TOKEN));
            return bool(AttributeType.CKA_TOKEN, value);
        }

        Template ulong(AttributeType type, long value) {
            byte[] b = new byte[NativeCryptokiFunctions.getULongSize()];
            NativeCryptokiFunctions.encodeULong(value, b);
            return add(type, b);
        }

        TemplateAttribute[] array() {
            return list.toArray(new TemplateAttribute[0]);
        }
    }

    private static String className(long cls) {
        if (cls == CKO_PUBLIC_KEY) return "public key";
        if (cls == CKO_PRIVATE_KEY) return "private key";
        if (cls == CKO_SECRET_KEY) return "secret key";
        return "class " + cls;
    }

    private static String hex(byte[] b) {
        StringBuilder s = new StringBuilder();
        for (int i = 0; i < b.length && i < 24; i++) s.append(String.format("%02x", b[i] & 0xFF));
        return b.length > 24 ? s + "..." : s.toString();
    }

    private static void heading(String text) {
        System.out.println();
        System.out.println("== " + text);
    }

    private static void row(String name, String value) {
        System.out.printf("      %-18s %s%n", name, value);
    }

    private static boolean step(ReturnValue rv, String what) {
        return CorvaleDemo.step(rv, what);
    }
}
