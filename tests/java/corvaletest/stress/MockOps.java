package corvaletest.stress;

import corvaletest.Mock;
import java.util.Arrays;
import java.util.Random;
import quorvel.pkcs.pkcs11.*;
import quorvel.pkcs.pkcs11.jni.NativeCryptokiFunctions;

/**
 * Every native with valid arguments against the mock in its normal mode, each
 * answer checked against what the mock computes. One instance per thread,
 * each with its own read-write session; state the threads share (login,
 * token) is checked for the answers any interleaving allows. Everything a
 * round creates it destroys again, so that rounds can run for ever.
 */
final class MockOps {

    static final long OK = 0, NO_EVENT = 0x8, NOT_LOGGED_IN = 0x101, ALREADY_LOGGED_IN = 0x100;
    static final long SESSION_EXISTS = 0xB6;
    static final SlotId SLOT = new SlotId(1);
    static final Handle AES_KEY = new Handle(Mock.AES_KEY);
    static final MechanismType CBC = MechanismType.CKM_AES_CBC_PAD;
    static final AttributeType CKA_CLASS = AttributeType.CKA_CLASS;
    static final long CKO_DATA = 0, CKO_SECRET_KEY = 4;

    private final NativeCryptokiFunctions p;
    private final Random r;
    private final String name;
    private SessionHandle s;
    private long round;
    long calls;

    MockOps(NativeCryptokiFunctions p, long seed, String name) {
        this.p = p;
        this.r = new Random(seed);
        this.name = name;
    }

    /** Opens this thread's read-write session (and, once, a notifying one). */
    void open(boolean notifying) {
        OpenSessionResult o = p.openSession(SLOT, OpenSessionFlags.readWrite());
        rv(OK, o.getResult(), "openSession");
        s = o.getHandle();
        if (notifying) {
            OpenSessionResult n = p.openSession(SLOT, OpenSessionFlags.readWrite(), (h, e) -> { });
            rv(OK, n.getResult(), "openSession with a handler");
            rv(OK, p.closeSession(n.getHandle()), "closeSession");
            calls += 2;
        }
        calls++;
    }

    void close() {
        rv(OK, p.closeSession(s), "closeSession");
        calls++;
    }

    /** One round: every native once, in the order given (null: the natural order). */
    void round(int[] order) {
        round++;
        int n = STEPS;
        for (int i = 0; i < n; i++) step(order == null ? i : order[i]);
    }

    static final int STEPS = 20;

    /** A shuffled order of the steps. */
    int[] shuffled() {
        int[] o = new int[STEPS];
        for (int i = 0; i < STEPS; i++) o[i] = i;
        for (int i = STEPS - 1; i > 0; i--) {
            int j = r.nextInt(i + 1);
            int t = o[i];
            o[i] = o[j];
            o[j] = t;
        }
        return o;
    }

    void step(int which) {
        switch (which) {
            case 0: queries(); break;
            case 1: mechanisms(); break;
            case 2: login(); break;
            case 3: pins(); break;
            case 4: sessionQueries(); break;
            case 5: objects(); break;
            case 6: singlePart(); break;
            case 7: multiPart(); break;
            case 8: digests(); break;
            case 9: signatures(); break;
            case 10: recover(); break;
            case 11: dual(); break;
            case 12: keys(); break;
            case 13: keyPair(); break;
            case 14: random(); break;
            case 15: operationState(); break;
            case 16: codecs(); break;
            case 17: stubs(); break;
            case 18: find(); break;
            default: slots(); break;
        }
    }

    // ---- steps ---------------------------------------------------------------------------

    private void queries() {
        GetInfoResult i = p.getInfo();
        rv(OK, i.getReturnValue(), "getInfo");
        eq(Mock.padded("Mock PKCS#11 Module", 32), bytesOf(i.getInfo().getLibraryDescription()), "library");
        GetTokenInfoResult t = p.getTokenInfo(SLOT);
        rv(OK, t.getResult(), "getTokenInfo");
        eq(Mock.padded("Mock Token", 32), bytesOf(t.getInfo().getLabel()), "label");
        GetSlotInfoResult si = p.getSlotInfo(SLOT);
        rv(OK, si.getResult(), "getSlotInfo");
        eq(Mock.padded("Mock Slot 1", 64), bytesOf(si.getInfo().getSlotDescription()), "slot");
        calls += 3;
    }

    private void slots() {
        SlotListResult a = p.getSlotList(true);
        rv(OK, a.getReturnValue(), "getSlotList(true)");
        check(a.getSlotIds().length == 1 && a.getSlotIds()[0].getId() == 1, "slots with a token");
        SlotListResult b = p.getSlotList(false);
        rv(OK, b.getReturnValue(), "getSlotList(false)");
        check(b.getSlotIds().length == 2 && b.getSlotIds()[1].getId() == 2, "all slots");
        rv(OK, p.closeAllSessions(new SlotId(2)), "closeAllSessions on the empty slot");
        WaitForSlotEventResult w = p._waitForSlotEvent(false);
        rv(NO_EVENT, w.getResult(), "waitForSlotEvent");
        calls += 4;
    }

    private void mechanisms() {
        GetMechanismListResult l = p.getMechanismList(SLOT);
        rv(OK, l.getResult(), "getMechanismList");
        check(l.getMechanisms().length == 6 && l.getMechanisms()[1].getType() == 0x250, "mechanism list");
        MechanismInformationFlags[] flags = new MechanismInformationFlags[1];
        int[] sizes = new int[2];
        rv(OK, p.getMechanismInfo(SLOT, MechanismType.CKM_AES_CBC_PAD, flags, sizes), "getMechanismInfo");
        check(flags[0].isEncrypt() && !flags[0].isDigest() && sizes[0] == 16 && sizes[1] == 32, "mechanism info");
        calls += 2;
    }

    private void login() {
        ReturnValue in = p.login(s, UserType.USER, Mock.USER_PIN);
        check(in.getValue() == OK || in.getValue() == ALREADY_LOGGED_IN, "login: " + in);
        ReturnValue out = p.logout(s);
        check(out.getValue() == OK || out.getValue() == NOT_LOGGED_IN, "logout: " + out);
        calls += 2;
    }

    private void pins() {
        rv(SESSION_EXISTS, p.initToken(SLOT, Mock.SO_PIN, "x"), "initToken with sessions open");
        rv(NOT_LOGGED_IN, p.initPIN(s, "99999"), "initPIN without the SO");
        rv(OK, p.setPIN(s, Mock.USER_PIN, Mock.USER_PIN), "setPIN");
        calls += 3;
    }

    private void sessionQueries() {
        GetSessionInfoResult i = p.getSessionInfo(s);
        rv(OK, i.getResult(), "getSessionInfo");
        long state = i.getInfo().getState().getValue();
        check(state == SessionState.CKS_RW_PUBLIC_SESSION || state == SessionState.CKS_RW_USER_FUNCTIONS,
                "session state " + state);
        check(i.getInfo().getSlotId().getId() == 1, "session slot");
        calls++;
    }

    private void objects() {
        byte[] value = data(1 + r.nextInt(40));
        TemplateAttribute[] t = {
            new TemplateAttribute(CKA_CLASS, ulong(CKO_DATA)),
            new TemplateAttribute(AttributeType.CKA_TOKEN, new byte[] {0}),
            new TemplateAttribute(AttributeType.CKA_VALUE, value),
        };
        CreateObjectResult c = p.createObjectNative(s, t);
        rv(OK, c.getResult(), "createObject");
        Handle h = c.getObjectHandle();
        rv(OK, p.setAttributeValueNative(s, h, new TemplateAttribute[] {
            new TemplateAttribute(AttributeType.CKA_LABEL, label())}), "setAttributeValue");
        CopyObjectResult k = p.copyObjectNative(s, h, new TemplateAttribute[0]);
        rv(OK, k.getResult(), "copyObject");
        check(!k.getObjectHandle().equals(h), "copy has a handle of its own");
        TemplateAttribute[] read = {new TemplateAttribute(AttributeType.CKA_VALUE),
                                    new TemplateAttribute(AttributeType.CKA_LABEL)};
        rv(OK, p.getAttributeValueNative(s, k.getObjectHandle(), read), "getAttributeValue");
        eq(value, (byte[]) read[0].getValue(), "copied value");
        eq(label(), (byte[]) read[1].getValue(), "copied label");
        GetObjectSizeResult size = p.getObjectSize(s, h);
        rv(OK, size.getResult(), "getObjectSize");
        check(size.getSize() == Mock.ulongSize() + 1 + value.length + label().length, "object size " + size.getSize());
        rv(OK, p.destroyObject(s, h), "destroyObject");
        rv(OK, p.destroyObject(s, k.getObjectHandle()), "destroyObject (copy)");
        calls += 7;
    }

    private void find() {
        TemplateAttribute[] t = {
            new TemplateAttribute(CKA_CLASS, ulong(CKO_DATA)),
            new TemplateAttribute(AttributeType.CKA_TOKEN, new byte[] {0}),
            new TemplateAttribute(AttributeType.CKA_LABEL, label()),
        };
        CreateObjectResult c = p.createObjectNative(s, t);
        rv(OK, c.getResult(), "createObject");
        rv(OK, p.findObjectsInitNative(s, new TemplateAttribute[] {
            new TemplateAttribute(AttributeType.CKA_LABEL, label())}), "findObjectsInit");
        Handle[] found = new Handle[4];
        FindObjectsResult f = p.findObjects(s, found);
        rv(OK, f.getResult(), "findObjects");
        check(f.getNumObjects() == 1 && c.getObjectHandle().equals(found[0]), "found " + Arrays.toString(found));
        rv(OK, p.findObjectsFinal(s), "findObjectsFinal");
        rv(OK, p.destroyObject(s, c.getObjectHandle()), "destroyObject");
        calls += 5;
    }

    private void singlePart() {
        byte[] d = data(1 + r.nextInt(100));
        int off = r.nextInt(d.length);
        byte[] slice = Arrays.copyOfRange(d, off, d.length);
        rv(OK, p.encryptInit(s, CBC, data(16), AES_KEY), "encryptInit");
        CipherResult e = p.encrypt(s, d, off, slice.length);
        rv(OK, e.getResult(), "encrypt");
        eq(Mock.encrypted(slice), e.getData(), "ciphertext");
        rv(OK, p.decryptInit(s, CBC, data(16), AES_KEY), "decryptInit");
        CipherResult dd = p.decrypt(s, e.getData(), 0, e.getData().length);
        rv(OK, dd.getResult(), "decrypt");
        eq(slice, dd.getData(), "plaintext");
        calls += 4;
    }

    private void multiPart() {
        byte[] a = data(1 + r.nextInt(50)), b = data(1 + r.nextInt(50));
        rv(OK, p.encryptInit(s, CBC, null, AES_KEY), "encryptInit");
        CipherResult e1 = p.encryptUpdate(s, a, 0, a.length);
        rv(OK, e1.getResult(), "encryptUpdate");
        eq(Mock.encrypted(a), e1.getData(), "first part");
        CipherResult ef = p.encryptFinal(s);
        rv(OK, ef.getResult(), "encryptFinal");
        eq(new byte[0], ef.getData(), "empty last part");
        rv(OK, p.decryptInit(s, CBC, new byte[0], AES_KEY), "decryptInit");
        CipherResult d1 = p.decryptUpdate(s, b, 0, b.length);
        rv(OK, d1.getResult(), "decryptUpdate");
        eq(Mock.encrypted(b), d1.getData(), "decrypted part");
        CipherResult df = p.decryptFinal(s);
        rv(OK, df.getResult(), "decryptFinal");
        eq(new byte[0], df.getData(), "empty last part");
        calls += 6;
    }

    private void digests() {
        byte[] a = data(1 + r.nextInt(80));
        rv(OK, p.digestInit(s, MechanismType.CKM_SHA256, null), "digestInit");
        DigestResult one = p.digest(s, a, 0, a.length);
        rv(OK, one.getResult(), "digest");
        eq(Mock.digest(a), one.getData(), "digest");
        rv(OK, p.digestInit(s, MechanismType.CKM_SHA256, null), "digestInit");
        rv(OK, p.digestUpdate(s, a, 0, a.length), "digestUpdate");
        rv(OK, p.digestKey(s, AES_KEY), "digestKey");
        DigestResult fin = p.digestFinal(s);
        rv(OK, fin.getResult(), "digestFinal");
        eq(Mock.digest(a, Mock.random(0, 16)), fin.getData(), "digest of data and key");
        calls += 6;
    }

    private void signatures() {
        byte[] a = data(1 + r.nextInt(80)), b = data(1 + r.nextInt(80));
        rv(OK, p.signInit(s, MechanismType.CKM_ECDSA, null, new Handle(Mock.EC_PRIVATE_KEY)), "signInit");
        SignResult sig = p.sign(s, a, 0, a.length);
        rv(OK, sig.getResult(), "sign");
        eq(Mock.signature(a), sig.getData(), "signature");
        rv(OK, p.verifyInit(s, MechanismType.CKM_ECDSA, null, new Handle(Mock.EC_PUBLIC_KEY)), "verifyInit");
        rv(OK, p.verify(s, a, 0, a.length, sig.getData()), "verify");
        rv(OK, p.signInit(s, MechanismType.CKM_ECDSA, null, new Handle(Mock.EC_PRIVATE_KEY)), "signInit");
        rv(OK, p.signUpdate(s, a, 0, a.length), "signUpdate");
        rv(OK, p.signUpdate(s, b, 0, b.length), "signUpdate");
        SignResult fin = p.signFinal(s);
        rv(OK, fin.getResult(), "signFinal");
        eq(Mock.signature(a, b), fin.getData(), "multi-part signature");
        rv(OK, p.verifyInit(s, MechanismType.CKM_ECDSA, null, new Handle(Mock.EC_PUBLIC_KEY)), "verifyInit");
        rv(OK, p.verifyUpdate(s, a, 0, a.length), "verifyUpdate");
        rv(OK, p.verifyUpdate(s, b, 0, b.length), "verifyUpdate");
        rv(OK, p.verifyFinal(s, fin.getData()), "verifyFinal");
        calls += 11;
    }

    private void recover() {
        byte[] a = data(1 + r.nextInt(60));
        rv(OK, p.signRecoverInit(s, MechanismType.CKM_RSA_PKCS, null, AES_KEY), "signRecoverInit");
        CipherResult sr = p.signRecover(s, a, 0, a.length);
        rv(OK, sr.getResult(), "signRecover");
        eq(Mock.recovered(a), sr.getData(), "recoverable signature");
        rv(OK, p.verifyRecoverInit(s, MechanismType.CKM_RSA_PKCS, null, AES_KEY), "verifyRecoverInit");
        CipherResult vr = p.verifyRecover(s, sr.getData());
        rv(OK, vr.getResult(), "verifyRecover");
        eq(a, vr.getData(), "recovered data");
        calls += 4;
    }

    private void dual() {
        byte[] a = data(1 + r.nextInt(60));
        rv(OK, p.digestInit(s, MechanismType.CKM_SHA256, null), "digestInit");
        rv(OK, p.encryptInit(s, CBC, null, AES_KEY), "encryptInit");
        CipherResult de = p.digestEncryptUpdate(s, a, 0, a.length);
        rv(OK, de.getResult(), "digestEncryptUpdate");
        eq(Mock.encrypted(a), de.getData(), "digest-encrypted part");
        rv(OK, p.encryptFinal(s).getResult(), "encryptFinal");
        eq(Mock.digest(a), p.digestFinal(s).getData(), "digest beside encryption");

        rv(OK, p.decryptInit(s, CBC, null, AES_KEY), "decryptInit");
        rv(OK, p.digestInit(s, MechanismType.CKM_SHA256, null), "digestInit");
        CipherResult dd = p.decryptDigestUpdate(s, de.getData(), 0, a.length);
        rv(OK, dd.getResult(), "decryptDigestUpdate");
        eq(a, dd.getData(), "decrypt-digested part");
        rv(OK, p.decryptFinal(s).getResult(), "decryptFinal");
        eq(Mock.digest(a), p.digestFinal(s).getData(), "digest beside decryption");

        rv(OK, p.signInit(s, MechanismType.CKM_ECDSA, null, AES_KEY), "signInit");
        rv(OK, p.encryptInit(s, CBC, null, AES_KEY), "encryptInit");
        CipherResult se = p.signEncryptUpdate(s, a, 0, a.length);
        rv(OK, se.getResult(), "signEncryptUpdate");
        eq(Mock.encrypted(a), se.getData(), "sign-encrypted part");
        rv(OK, p.encryptFinal(s).getResult(), "encryptFinal");
        SignResult sig = p.signFinal(s);
        eq(Mock.signature(a), sig.getData(), "signature beside encryption");

        rv(OK, p.decryptInit(s, CBC, null, AES_KEY), "decryptInit");
        rv(OK, p.verifyInit(s, MechanismType.CKM_ECDSA, null, AES_KEY), "verifyInit");
        CipherResult dv = p.decryptVerifyUpdate(s, se.getData(), 0, a.length);
        rv(OK, dv.getResult(), "decryptVerifyUpdate");
        eq(a, dv.getData(), "decrypt-verified part");
        rv(OK, p.decryptFinal(s).getResult(), "decryptFinal");
        rv(OK, p.verifyFinal(s, sig.getData()), "verifyFinal beside decryption");
        calls += 24;
    }

    private void keys() {
        GenerateKeyResult g = p.generateKeyNative(s, MechanismType.CKM_AES_KEY_GEN, null, new TemplateAttribute[] {
            new TemplateAttribute(AttributeType.CKA_VALUE_LEN, ulong(16))});
        rv(OK, g.getResult(), "generateKey");
        WrapKeyResult w = p.wrapKey(s, CBC, data(16), AES_KEY, g.getKeyHandle());
        rv(OK, w.getResult(), "wrapKey");
        eq(Mock.encrypted(Mock.random(0, 16)), w.getData(), "wrapped key");
        GenerateKeyResult u = p.unwrapKeyNative(s, CBC, data(16), AES_KEY, w.getData(), new TemplateAttribute[] {
            new TemplateAttribute(AttributeType.CKA_LABEL, label())});
        rv(OK, u.getResult(), "unwrapKey");
        TemplateAttribute[] read = {new TemplateAttribute(AttributeType.CKA_VALUE)};
        rv(OK, p.getAttributeValueNative(s, u.getKeyHandle(), read), "getAttributeValue of the unwrapped key");
        eq(Mock.random(0, 16), (byte[]) read[0].getValue(), "unwrapped key");
        rv(OK, p.destroyObject(s, g.getKeyHandle()), "destroyObject");
        rv(OK, p.destroyObject(s, u.getKeyHandle()), "destroyObject");
        calls += 6;
    }

    private void keyPair() {
        GenerateKeyPairResult k = p.generateKeyPairNative(s, MechanismType.CKM_EC_KEY_PAIR_GEN, null,
                new TemplateAttribute[] {new TemplateAttribute(AttributeType.CKA_VERIFY, new byte[] {1})},
                new TemplateAttribute[] {new TemplateAttribute(AttributeType.CKA_SIGN, new byte[] {1})});
        rv(OK, k.getResult(), "generateKeyPair");
        // The mock stores both under one lock: public n, private n + 1.
        check(k.getPrivateKeyHandle().getValue() == k.getPublicKeyHandle().getValue() + 1, "key pair handles");
        rv(OK, p.destroyObject(s, k.getPublicKeyHandle()), "destroyObject");
        rv(OK, p.destroyObject(s, k.getPrivateKeyHandle()), "destroyObject");
        calls += 3;
    }

    private void random() {
        byte[] seed = data(1 + r.nextInt(8));
        int sum = 0;
        for (byte b : seed) sum += b & 0xFF;
        rv(OK, p.seedRandom(s, seed), "seedRandom");
        byte[] buf = new byte[1 + r.nextInt(64)];
        rv(OK, p.generateRandom(s, buf), "generateRandom");
        eq(Mock.random(sum, buf.length), buf, "random bytes");
        calls += 2;
    }

    private void operationState() {
        byte[] a = data(1 + r.nextInt(40)), b = data(1 + r.nextInt(40));
        rv(OK, p.digestInit(s, MechanismType.CKM_SHA256, null), "digestInit");
        rv(OK, p.digestUpdate(s, a, 0, a.length), "digestUpdate");
        GetOperationStateResult st = p.getOperationState(s);
        rv(OK, st.getResult(), "getOperationState");
        rv(OK, p.digestUpdate(s, b, 0, b.length), "digestUpdate");
        rv(OK, p.setOperationState(s, st.getState(), Handle.INVALID, Handle.INVALID), "setOperationState");
        DigestResult d = p.digestFinal(s);
        rv(OK, d.getResult(), "digestFinal");
        eq(Mock.digest(a), d.getData(), "digest from the restored state");
        calls += 6;
    }

    private void codecs() {
        int size = NativeCryptokiFunctions.getULongSize();
        check(size == Mock.ulongSize() && NativeCryptokiFunctions.getBoolSize() == 1
                && NativeCryptokiFunctions.getDateSize() == 8, "codec sizes");
        long v = r.nextLong() & (size == 4 ? 0xFFFFFFFFL : -1L);
        byte[] b = new byte[size];
        NativeCryptokiFunctions.encodeULong(v, b);
        eq(ulong(v), b, "encoded CK_ULONG");
        check(NativeCryptokiFunctions.decodeULong(b) == v, "decoded CK_ULONG");
        byte[] flag = new byte[1];
        NativeCryptokiFunctions.encodeBool(true, flag);
        check(flag[0] == 1 && NativeCryptokiFunctions.decodeBool(flag), "CK_BBOOL");
        String day = String.format("%02d", 1 + r.nextInt(28)), month = String.format("%02d", 1 + r.nextInt(12));
        String year = Integer.toString(1970 + r.nextInt(100));
        byte[] date = new byte[8];
        NativeCryptokiFunctions.encodeDate(day, month, year, date);
        String[] dmy = new String[3];
        NativeCryptokiFunctions.decodeDate(date, dmy);
        check(dmy[0].equals(day) && dmy[1].equals(month) && dmy[2].equals(year), "date " + Arrays.toString(dmy));
        calls += 10;
    }

    private void stubs() {
        check(!p.check(), "check");
        check(p.getFunctionStatus(s) == null && p.cancelFunction(s) == null, "status stubs");
        check(p.deriveKeyNative(s, CBC, null, AES_KEY, new TemplateAttribute[0]) == null, "deriveKey stub");
        calls += 4;
    }

    // ---- helpers ---------------------------------------------------------------------------

    private byte[] label() {
        return (name + "-" + round).getBytes(java.nio.charset.StandardCharsets.US_ASCII);
    }

    private byte[] data(int n) {
        byte[] b = new byte[n];
        r.nextBytes(b);
        return b;
    }

    /** A CK_ULONG in this machine's (little-endian) layout, made without the natives. */
    static byte[] ulong(long v) {
        byte[] b = new byte[Mock.ulongSize()];
        for (int i = 0; i < b.length; i++) b[i] = (byte) (v >>> (8 * i));
        return b;
    }

    private static byte[] bytesOf(String s) {
        return s.getBytes(java.nio.charset.StandardCharsets.ISO_8859_1);
    }

    private void rv(long expected, ReturnValue rv, String what) {
        if (rv == null || rv.getValue() != expected) {
            throw new AssertionError(name + ": " + what + ": expected " + expected + ", got " + rv);
        }
    }

    private void eq(byte[] expected, byte[] actual, String what) {
        if (!Arrays.equals(expected, actual)) {
            throw new AssertionError(name + ": " + what + ": expected " + Mock.hex(expected) + ", got "
                    + (actual == null ? "null" : Mock.hex(actual)));
        }
    }

    private void check(boolean ok, String what) {
        if (!ok) throw new AssertionError(name + ": " + what);
    }
}
