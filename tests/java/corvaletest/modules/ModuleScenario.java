package corvaletest.modules;

import static corvaletest.modules.Cells.check;
import static corvaletest.modules.Cells.expectRv;
import static corvaletest.modules.Cells.rv;
import static corvaletest.modules.Cells.same;
import static quorvel.pkcs.pkcs11.AttributeType.*;
import static quorvel.pkcs.pkcs11.MechanismInformationFlags.*;
import static quorvel.pkcs.pkcs11.MechanismType.*;

import corvaletest.Attributes;
import corvaletest.Jdk;
import java.io.ByteArrayOutputStream;
import java.security.PublicKey;
import java.security.cert.CertificateFactory;
import java.security.cert.X509Certificate;
import java.security.SecureRandom;
import java.security.interfaces.RSAPublicKey;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashMap;
import java.util.HashSet;
import java.util.List;
import java.util.Map;
import java.util.Set;
import javax.crypto.Cipher;
import quorvel.pkcs.pkcs11.*;
import quorvel.pkcs.pkcs11.jni.NativeCryptokiFunctions;

/**
 * One real module through the bridge, from binding to finalisation: queries
 * (checked against a plain C client), a token initialised, logins and a PIN
 * change, keys, ciphers, digests, signatures, objects, wrapping, random bytes,
 * slot events and closing. What is tried follows the module's mechanism list
 * and token flags; every cell is reported (see {@link Cells}). A token whose
 * user PIN is given is used as it is (a card): not initialised, its own keys
 * and certificates found, read, and used to sign and decrypt.
 *
 *   ModuleScenario NAME [--so-pin PIN] [--user-pin PIN]
 *   -Dcorvale.module.path=FILE   the module file, for the C client
 *   -Dcorvale.card="COMMAND..."  inserts the virtual card while it runs (removable slots)
 */
public final class ModuleScenario {

    // PINs of 6 to 8 digits suit cards too (a PIV card's PIN; ykcs11 refuses shorter ones without asking the card).
    static final String LABEL = "corvale-tier", USER_PIN = "2468", NEW_PIN = "135790", WRONG_PIN = "000000";
    static final long CKR_ATTRIBUTE_SENSITIVE = 0x11, CKR_ATTRIBUTE_TYPE_INVALID = 0x12, CKR_KEY_HANDLE_INVALID = 0x60,
            CKR_OBJECT_HANDLE_INVALID = 0x82, CKR_NO_EVENT = 0x8, CKR_PIN_INCORRECT = 0xA0;
    static final long CKR_SESSION_HANDLE_INVALID = 0xB3, CKR_SIGNATURE_INVALID = 0xC0, CKR_CRYPTOKI_NOT_INITIALIZED = 0x190;
    static final long CKS_RO_PUBLIC = 0, CKS_RO_USER = 1, CKS_RW_PUBLIC = 2, CKS_RW_USER = 3, CKS_RW_SO = 4;
    static final long CKK_RSA = 0, CKK_EC = 3, CKK_AES = 0x1F, CKO_CERTIFICATE = 1;
    /** Bits of a certificate's key usage. */
    static final int DIGITAL_SIGNATURE = 0, KEY_ENCIPHERMENT = 2;
    static final MechanismType CKM_ECDSA_SHA256 = new MechanismType(0x1044);
    static final long CKM_SHA256_CODE = 0x250, CKG_MGF1_SHA256 = 2, CKZ_DATA_SPECIFIED = 1;
    static final AttributeType CKA_ALWAYS_AUTHENTICATE = new AttributeType(0x202);
    /** DER of the OID of P-256 (prime256v1). */
    static final byte[] P256 = {0x06, 0x08, 0x2A, (byte) 0x86, 0x48, (byte) 0xCE, 0x3D, 0x03, 0x01, 0x07};
    /** DER of a SHA-256 DigestInfo up to the digest. */
    static final byte[] SHA256_INFO = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, (byte) 0x86, 0x48, 0x01, 0x65, 0x03,
        0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};

    private final String module, soPin, givenPin;
    private final Cells cells = new Cells();
    private final SecureRandom random = new SecureRandom();
    private final SlotEvents events;
    private NativeCryptokiFunctions p11;
    private Probed probed;
    private SlotId[] slots;
    private SlotId slot;
    private SessionHandle session;
    private String pin = USER_PIN;
    private boolean readWrite;
    /** The chosen token's mechanisms: type to {flags, minimum, maximum}. */
    private final Map<Long, long[]> mechanisms = new HashMap<>();
    /** Objects made, all labelled LABEL. */
    private final List<Handle> made = new ArrayList<>();
    private Handle aesKey, rsaPublic, rsaPrivate, ecPublic, ecPrivate;
    private byte[] aesValue;
    private MechanismType aesMechanism, rsaSign;
    private RSAPublicKey rsaJava;
    /** The keys of a token used as it is, read once after the first login. */
    private List<OwnKey> own;
    private OwnKey threadRsa, threadEc;

    /** A key pair the token holds, with its certificate (the same CKA_ID). */
    private static final class OwnKey {
        byte[] id;
        X509Certificate certificate;
        Handle certificateObject, privateKey, publicKey;
        boolean always;

        boolean usage(int bit) {
            boolean[] u = certificate.getKeyUsage();
            return u == null || u[bit];
        }

        String algorithm() {
            return certificate.getPublicKey().getAlgorithm();
        }
    }

    private ModuleScenario(String module, String soPin, String givenPin) {
        this.module = module;
        this.soPin = soPin;
        this.givenPin = givenPin;
        String card = System.getProperty("corvale.card", "");
        events = card.isEmpty() ? null : new SlotEvents(card.split(" "));
    }

    public static void main(String[] args) {
        String soPin = "87654321", givenPin = null;
        for (int i = 1; i + 1 < args.length; i += 2) {
            if (args[i].equals("--so-pin")) soPin = args[i + 1];
            if (args[i].equals("--user-pin")) givenPin = args[i + 1];
        }
        new ModuleScenario(args[0], soPin, givenPin).run();
        // A blocking wait the module never ended must not keep the JVM alive.
        System.exit(0);
    }

    private void run() {
        String[] none = {}, info = {"info"}, token = {"token"}, login = {"login"};
        p11 = new NativeCryptokiFunctions();
        int bound = p11.doInitialize(module);
        try {
            cells.run("info", none, () -> {
                check(bound == 1, "doInitialize(\"" + module + "\") answered " + bound);
                probed = Probed.run(System.getProperty("corvale.module.path"), p11.getTokenType(), module);
                probed.compareInfo(p11);
                return "probe";
            });
            if (events != null && cells.ok("info")) events.begin(p11);
            cells.run("slots", info, () -> {
                // The card is in now: ask again.
                if (events != null) probed = Probed.run(System.getProperty("corvale.module.path"), p11.getTokenType(), module);
                slots = probed.compareSlots(p11);
                return "probe";
            });
            cells.run("mechanisms", new String[] {"slots"}, () -> {
                int n = probed.compareMechanisms(p11, slots);
                return n == 0 ? "probe:none" : "probe";
            });
            cells.run("token", new String[] {"slots"}, this::token);
            // Where no token could be made, what needs no login still runs on the chosen one.
            if (slot != null && session == null) {
                try {
                    openSession();
                } catch (RuntimeException e) {
                    // then these cells go as the token cell went
                }
            }
            String[] session = this.session != null ? none : token;
            // A token that cannot be initialised, but whose user PIN is known: log in with that.
            if (!cells.ok("token") && givenPin != null && this.session != null) {
                pin = givenPin;
                token = none;
            }
            cells.run("login", token, this::login);
            cells.run("pin", login, this::pin);
            cells.run("random", session, this::random);
            cells.run("digest", session, this::digest);
            cells.run("aes", login, this::aes);
            cells.run("rsa", login, this::rsa);
            cells.run("ec", login, this::ec);
            cells.run("attributes", login, this::attributes);
            cells.run("find", login, this::find);
            cells.run("wrap", login, this::wrap);
            cells.run("threads", login, this::threads);
            cells.run("close", session, this::close);
            cells.run("events", info, () -> events != null ? events.end(p11) : SlotEvents.fixed(p11));
        } finally {
            if (events != null) events.stop();
            cells.run("finalize", none, this::finalizeModule);
        }
    }

    // Token, logins and PINs

    /**
     * The token to use: the first one not initialised, NSS's last one (its
     * database token, initialised again with an empty SO PIN), or else the
     * first one present.
     */
    private String token() {
        GetTokenInfoResult refused = null;
        SlotId initialised = null;
        for (SlotId s : slots) {
            if (!p11.getSlotInfo(s).getInfo().getFlags().isTokenPresent()) continue;
            GetTokenInfoResult t = p11.getTokenInfo(s);
            if (!t.getResult().isOk()) {
                refused = t;
            } else if (!t.getInfo().getFlags().isTokenInitialized()) {
                slot = s;
                break;
            } else if (initialised == null || p11.getTokenType() == NativeCryptokiFunctions.TOKEN_SOFTOKEN) {
                initialised = s;
            }
        }
        if (slot == null) slot = initialised;
        if (slot == null && refused != null) rv(refused.getResult(), "C_GetTokenInfo");
        if (slot == null) throw new Cells.Absent("no-token", "no slot holds a token");
        loadMechanisms();
        if (givenPin != null) throw new Cells.Absent("own-keys", "the token is used as it is, with its own PIN and keys");
        if (tokenInfo().getFlags().isWriteProtected()) throw new Cells.Absent("flags:WRITE_PROTECTED", "write-protected");
        rv(p11.initToken(slot, soPin, LABEL), "C_InitToken");
        // Some modules number a token anew once it is initialised.
        for (SlotId s : p11.getSlotList(true).getSlotIds()) {
            GetTokenInfoResult t = p11.getTokenInfo(s);
            if (t.getResult().isOk() && t.getInfo().getLabel().strip().equals(LABEL)) slot = s;
        }
        loadMechanisms();
        openSession();
        rv(p11.login(session, UserType.SO, soPin), "C_Login(SO)");
        same(CKS_RW_SO, state(), "session state after the SO login");
        rv(p11.initPIN(session, USER_PIN), "C_InitPIN");
        rv(p11.logout(session), "C_Logout");
        TokenInformationFlags flags = tokenInfo().getFlags();
        check(flags.isTokenInitialized() && flags.isUserPinInitialized(), "token flags after C_InitPIN: " + flags);
        return "flags";
    }

    /** A read-write session on the chosen token, or a read-only one where the token allows no other. */
    private void openSession() {
        OpenSessionResult opened = p11.openSession(slot, OpenSessionFlags.readWrite());
        readWrite = opened.getResult().isOk();
        if (!readWrite) opened = p11.openSession(slot, OpenSessionFlags.readOnly());
        rv(opened.getResult(), "C_OpenSession");
        session = opened.getHandle();
    }

    private String login() {
        expectRv(CKR_PIN_INCORRECT, p11.login(session, UserType.USER, WRONG_PIN), "C_Login(wrong PIN)");
        if (givenPin != null) {
            // A card counts the tries left (3): after two wrong PINs the token says the next try is the last.
            expectRv(CKR_PIN_INCORRECT, p11.login(session, UserType.USER, WRONG_PIN), "C_Login(wrong PIN)");
            TokenInformationFlags f = tokenInfo().getFlags();
            check(f.isUserPinFinalTry(), "PIN final try after two wrong PINs: " + f);
        }
        rv(p11.login(session, UserType.USER, pin), "C_Login(USER)");
        same(readWrite ? CKS_RW_USER : CKS_RO_USER, state(), "session state after the user login");
        rv(p11.logout(session), "C_Logout");
        same(readWrite ? CKS_RW_PUBLIC : CKS_RO_PUBLIC, state(), "session state after the logout");
        return "session-state";
    }

    private String pin() {
        userLogin();
        String old = pin;
        rv(p11.setPIN(session, old, NEW_PIN), "C_SetPIN");
        pin = NEW_PIN;
        rv(p11.logout(session), "C_Logout");
        expectRv(CKR_PIN_INCORRECT, p11.login(session, UserType.USER, old), "C_Login(old PIN)");
        rv(p11.login(session, UserType.USER, NEW_PIN), "C_Login(new PIN)");
        return "login";
    }

    private void userLogin() {
        if (state() != (readWrite ? CKS_RW_USER : CKS_RO_USER)) rv(p11.login(session, UserType.USER, pin), "C_Login(USER)");
    }

    private long state() {
        GetSessionInfoResult r = p11.getSessionInfo(session);
        rv(r.getResult(), "C_GetSessionInfo");
        same(slot, r.getInfo().getSlotId(), "session's slot");
        return r.getInfo().getState().getValue();
    }

    private TokenInformation tokenInfo() {
        GetTokenInfoResult r = p11.getTokenInfo(slot);
        rv(r.getResult(), "C_GetTokenInfo");
        return r.getInfo();
    }

    // Random bytes and digests

    private String random() {
        if (!tokenInfo().getFlags().isRng()) throw new Cells.Absent("flags:RNG", "the token has no random number generator");
        byte[] a = new byte[64], b = new byte[64];
        rv(p11.generateRandom(session, a), "C_GenerateRandom");
        rv(p11.generateRandom(session, b), "C_GenerateRandom");
        check(!Arrays.equals(a, b) && !Arrays.equals(a, new byte[64]), "two draws of 64 random bytes differ and are not zero");
        return "distinct";
    }

    private String digest() throws Exception {
        MechanismType m = need(CKF_DIGEST, CKM_SHA256, CKM_SHA_1);
        String algorithm = m.equals(CKM_SHA256) ? "SHA-256" : "SHA-1";
        byte[] data = bytes(1000), expected = Jdk.digest(algorithm, data);
        byte[] framed = concat(new byte[] {1, 2, 3}, data, new byte[] {4});
        rv(p11.digestInit(session, m, null), "C_DigestInit");
        DigestResult one = p11.digest(session, framed, 3, data.length);
        rv(one.getResult(), "C_Digest");
        check(Arrays.equals(expected, one.getData()), algorithm + " of a slice in one part");
        rv(p11.digestInit(session, m, null), "C_DigestInit");
        rv(p11.digestUpdate(session, data, 0, 1), "C_DigestUpdate");
        rv(p11.digestUpdate(session, data, 1, 998), "C_DigestUpdate");
        rv(p11.digestUpdate(session, data, 999, 1), "C_DigestUpdate");
        DigestResult parts = p11.digestFinal(session);
        rv(parts.getResult(), "C_DigestFinal");
        check(Arrays.equals(expected, parts.getData()), algorithm + " in three parts");
        return "java";
    }

    // AES

    private String aes() throws Exception {
        userLogin();
        need(CKF_GENERATE, CKM_AES_KEY_GEN);
        aesMechanism = need(CKF_ENCRYPT | CKF_DECRYPT, CKM_AES_CBC_PAD, CKM_AES_CBC, CKM_AES_ECB);
        GenerateKeyResult g = p11.generateKeyNative(session, CKM_AES_KEY_GEN, null, Attributes.of()
                .text(CKA_LABEL, LABEL).bool(CKA_ENCRYPT, true).bool(CKA_DECRYPT, true).ulong(CKA_VALUE_LEN, 32)
                .bool(CKA_TOKEN, false).bool(CKA_SENSITIVE, false).bool(CKA_EXTRACTABLE, true).array());
        rv(g.getResult(), "C_GenerateKey");
        aesKey = made(g.getKeyHandle());
        same(CKK_AES, NativeCryptokiFunctions.decodeULong(read(aesKey, CKA_KEY_TYPE)), "the new key's type");
        // Made neither sensitive nor unextractable: Java checks with its value.
        aesValue = read(aesKey, CKA_VALUE);
        same(32, aesValue.length, "AES key length");
        boolean pad = aesMechanism.equals(CKM_AES_CBC_PAD), ecb = aesMechanism.equals(CKM_AES_ECB);
        String transformation = ecb ? "ECB/NoPadding" : pad ? "CBC/PKCS5Padding" : "CBC/NoPadding";
        byte[] iv = ecb ? null : bytes(16), plain = bytes(pad ? 1001 : 1008);
        byte[] expected = Jdk.aes(Cipher.ENCRYPT_MODE, transformation, aesValue, iv, plain);

        rv(p11.encryptInit(session, aesMechanism, iv, aesKey), "C_EncryptInit");
        CipherResult one = p11.encrypt(session, plain, 0, plain.length);
        rv(one.getResult(), "C_Encrypt");
        check(Arrays.equals(expected, one.getData()), aesMechanism + " in one part equals Java's");
        rv(p11.encryptInit(session, aesMechanism, iv, aesKey), "C_EncryptInit");
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        for (int[] part : new int[][] {{0, 5}, {5, 700}, {705, plain.length - 705}}) {
            CipherResult r = p11.encryptUpdate(session, plain, part[0], part[1]);
            rv(r.getResult(), "C_EncryptUpdate");
            out.writeBytes(r.getData());
        }
        CipherResult last = p11.encryptFinal(session);
        rv(last.getResult(), "C_EncryptFinal");
        out.writeBytes(last.getData());
        check(Arrays.equals(expected, out.toByteArray()), aesMechanism + " in three parts equals Java's");

        rv(p11.decryptInit(session, aesMechanism, iv, aesKey), "C_DecryptInit");
        CipherResult back = p11.decrypt(session, expected, 0, expected.length);
        rv(back.getResult(), "C_Decrypt");
        check(Arrays.equals(plain, back.getData()), "Java's ciphertext decrypts in one part");
        rv(p11.decryptInit(session, aesMechanism, iv, aesKey), "C_DecryptInit");
        CipherResult d1 = p11.decryptUpdate(session, expected, 0, 512);
        rv(d1.getResult(), "C_DecryptUpdate");
        CipherResult d2 = p11.decryptUpdate(session, expected, 512, expected.length - 512);
        rv(d2.getResult(), "C_DecryptUpdate");
        CipherResult dLast = p11.decryptFinal(session);
        rv(dLast.getResult(), "C_DecryptFinal");
        check(Arrays.equals(plain, concat(d1.getData(), d2.getData(), dLast.getData())), "and in parts");
        return "java";
    }

    // Signatures

    private String rsa() throws Exception {
        userLogin();
        if (givenPin != null) return ownRsa();
        long[] gen = mechanisms.get(need(CKF_GENERATE_KEY_PAIR, CKM_RSA_PKCS_KEY_PAIR_GEN).getType());
        MechanismType sign = rsaSign = need(CKF_SIGN | CKF_VERIFY, CKM_SHA256_RSA_PKCS, CKM_RSA_PKCS);
        int bits = gen[2] >= 2048 || gen[2] == 0 ? 2048 : (int) gen[2];
        GenerateKeyPairResult g = generatePair(CKM_RSA_PKCS_KEY_PAIR_GEN,
                Attributes.of().ulong(CKA_MODULUS_BITS, bits).add(CKA_PUBLIC_EXPONENT, new byte[] {1, 0, 1}),
                Attributes.of().bool(CKA_ENCRYPT, true).bool(CKA_WRAP, true),
                Attributes.of().bool(CKA_DECRYPT, true).bool(CKA_UNWRAP, true));
        rsaPrivate = made(g.getPrivateKeyHandle());
        rsaPublic = made(g.getPublicKeyHandle());
        TemplateAttribute[] t = Attributes.of().read(CKA_MODULUS, CKA_PUBLIC_EXPONENT).array();
        rv(p11.getAttributeValueNative(session, rsaPublic, t), "C_GetAttributeValue(modulus)");
        rsaJava = Jdk.rsa(Attributes.valueOf(t, CKA_MODULUS), Attributes.valueOf(t, CKA_PUBLIC_EXPONENT));
        same(bits, rsaJava.getModulus().bitLength(), "modulus bits");

        byte[] message = bytes(300);
        boolean hashing = sign.equals(CKM_SHA256_RSA_PKCS);
        byte[][] signatures = signAndVerify(sign, rsaPrivate, rsaPublic, rsaInput(message), hashing);
        check(Jdk.verify("SHA256withRSA", rsaJava, message, signatures[0]), "Java verifies the token's RSA signature");
        if (!hashing) return "java:one-part";
        if (!Arrays.equals(signatures[0], signatures[1])) {
            boolean empty = Jdk.verify("SHA256withRSA", rsaJava, new byte[0], signatures[1]);
            throw new Cells.Failed("check:parts", "the RSA signature made in parts differs from the one-part one"
                    + (empty ? " and signs an empty message" : ""));
        }
        return "java";
    }

    private String ec() throws Exception {
        userLogin();
        if (givenPin != null) return ownEc();
        need(CKF_GENERATE_KEY_PAIR, CKM_EC_KEY_PAIR_GEN);
        need(CKF_SIGN | CKF_VERIFY, CKM_ECDSA);
        GenerateKeyPairResult g = generatePair(CKM_EC_KEY_PAIR_GEN, Attributes.of().add(CKA_EC_PARAMS, P256),
                Attributes.of(), Attributes.of());
        ecPrivate = made(g.getPrivateKeyHandle());
        ecPublic = made(g.getPublicKeyHandle());
        PublicKey java = Jdk.p256(read(ecPublic, CKA_EC_POINT));
        byte[] message = bytes(300), digest = Jdk.digest("SHA-256", message);
        byte[] signature = signAndVerify(CKM_ECDSA, ecPrivate, ecPublic, digest, false)[0];
        check(Jdk.verify("NONEwithECDSAinP1363Format", java, digest, signature), "Java verifies the token's ECDSA signature");
        if (offered(CKF_SIGN | CKF_VERIFY, CKM_ECDSA_SHA256) == null) {
            destroyEc();
            return "java:one-part";
        }
        byte[][] s = signAndVerify(CKM_ECDSA_SHA256, ecPrivate, ecPublic, message, true);
        destroyEc();
        check(Jdk.verify("SHA256withECDSAinP1363Format", java, message, s[0]), "Java verifies ECDSA with SHA-256");
        if (!Jdk.verify("SHA256withECDSAinP1363Format", java, message, s[1])) {
            boolean empty = Jdk.verify("SHA256withECDSAinP1363Format", java, new byte[0], s[1]);
            throw new Cells.Failed("check:parts", "Java refuses the ECDSA signature made in parts"
                    + (empty ? ", which signs an empty message" : ""));
        }
        return "java";
    }

    /** What the RSA signature mechanism signs for a message: the message, or its DigestInfo. */
    private byte[] rsaInput(byte[] message) throws Exception {
        return rsaSign.equals(CKM_SHA256_RSA_PKCS) ? message : concat(SHA256_INFO, Jdk.digest("SHA-256", message));
    }

    /** The EC pair goes once used; its handles are then invalid. */
    private void destroyEc() {
        for (Handle h : new Handle[] {ecPrivate, ecPublic}) {
            rv(p11.destroyObject(session, h), "C_DestroyObject");
            made.remove(h);
            ReturnValue gone = p11.getAttributeValueNative(session, h, Attributes.of().read(CKA_LABEL).array());
            if (gone.getValue() != CKR_KEY_HANDLE_INVALID) {
                expectRv(CKR_OBJECT_HANDLE_INVALID, gone, "C_GetAttributeValue(destroyed)");
            }
        }
        ecPrivate = ecPublic = null;
    }

    /**
     * Signs in one part (and, with parts, again in parts), verifies on the
     * token in one part (and in parts), and sees a changed message refused.
     * Returns the signatures: {one part, in parts (or null)}.
     */
    private byte[][] signAndVerify(MechanismType m, Handle privateKey, Handle publicKey, byte[] data, boolean parts) {
        return signAndVerify(m, null, privateKey, publicKey, false, data, parts);
    }

    /** As above, with a mechanism parameter; always: a context-specific login after each C_SignInit. */
    private byte[][] signAndVerify(MechanismType m, byte[] parameter, Handle privateKey, Handle publicKey, boolean always,
            byte[] data, boolean parts) {
        signInit(m, parameter, privateKey, always);
        SignResult one = p11.sign(session, data, 0, data.length);
        rv(one.getResult(), "C_Sign");
        rv(p11.verifyInit(session, m, parameter, publicKey), "C_VerifyInit");
        rv(p11.verify(session, data, 0, data.length, one.getData()), "C_Verify");
        byte[] changed = data.clone();
        changed[changed.length / 2] ^= 1;
        rv(p11.verifyInit(session, m, parameter, publicKey), "C_VerifyInit");
        expectRv(CKR_SIGNATURE_INVALID, p11.verify(session, changed, 0, changed.length, one.getData()), "C_Verify(changed)");
        if (!parts) return new byte[][] {one.getData(), null};
        signInit(m, parameter, privateKey, always);
        rv(p11.signUpdate(session, data, 0, 7), "C_SignUpdate");
        rv(p11.signUpdate(session, data, 7, data.length - 7), "C_SignUpdate");
        SignResult last = p11.signFinal(session);
        rv(last.getResult(), "C_SignFinal");
        rv(p11.verifyInit(session, m, parameter, publicKey), "C_VerifyInit");
        rv(p11.verifyUpdate(session, data, 0, 100), "C_VerifyUpdate");
        rv(p11.verifyUpdate(session, data, 100, data.length - 100), "C_VerifyUpdate");
        rv(p11.verifyFinal(session, one.getData()), "C_VerifyFinal");
        return new byte[][] {one.getData(), last.getData()};
    }

    private void signInit(MechanismType m, byte[] parameter, Handle privateKey, boolean always) {
        rv(p11.signInit(session, m, parameter, privateKey), "C_SignInit");
        // A key that wants the PIN for every signature (a card's signature key).
        if (always) rv(p11.login(session, UserType.CONTEXT_SPECIFIC, pin), "C_Login(CONTEXT_SPECIFIC)");
    }

    // A token used as it is: its own keys and certificates

    /**
     * The token's certificates, each with the private and public key of the
     * same CKA_ID (found by class, matched by CKA_ID); read once.
     */
    private List<OwnKey> own() throws Exception {
        if (own != null) return own;
        List<OwnKey> keys = new ArrayList<>();
        CertificateFactory x509 = CertificateFactory.getInstance("X.509");
        Map<String, Handle> privates = byId(Attributes.CKO_PRIVATE_KEY), publics = byId(Attributes.CKO_PUBLIC_KEY);
        for (Map.Entry<String, Handle> c : byId(CKO_CERTIFICATE).entrySet()) {
            OwnKey k = new OwnKey();
            k.certificateObject = c.getValue();
            k.id = read(c.getValue(), CKA_ID);
            k.certificate = (X509Certificate) x509.generateCertificate(
                    new java.io.ByteArrayInputStream(read(c.getValue(), CKA_VALUE)));
            k.privateKey = privates.get(c.getKey());
            k.publicKey = publics.get(c.getKey());
            check(k.privateKey != null && k.publicKey != null, "a private and a public key for certificate "
                    + c.getKey() + " (" + k.certificate.getSubjectX500Principal() + ")");
            k.always = NativeCryptokiFunctions.decodeBool(read(k.privateKey, CKA_ALWAYS_AUTHENTICATE));
            keys.add(k);
        }
        same(privates.keySet(), publics.keySet(), "CKA_IDs of the private and the public keys");
        same(privates.keySet(), byId(CKO_CERTIFICATE).keySet(), "CKA_IDs of the private keys and the certificates");
        own = keys;
        return own;
    }

    /** The objects of a class, by their CKA_ID in hex; each CKA_ID once. */
    private Map<String, Handle> byId(long cls) {
        Map<String, Handle> found = new java.util.TreeMap<>();
        for (Handle h : found(Attributes.of().ulong(CKA_CLASS, cls))) {
            String id = java.util.HexFormat.of().formatHex(read(h, CKA_ID));
            check(found.put(id, h) == null, "CKA_ID " + id + " twice among objects of class " + cls);
        }
        return found;
    }

    /** The first of the token's keys of that algorithm ("RSA", "EC") whose certificate allows that use. */
    private OwnKey own(String algorithm, int usage, boolean always) throws Exception {
        for (OwnKey k : own()) {
            if (k.algorithm().equals(algorithm) && k.usage(usage) && k.always == always) return k;
        }
        return null;
    }

    private String ownRsa() throws Exception {
        OwnKey signer = own("RSA", DIGITAL_SIGNATURE, false), decrypter = own("RSA", KEY_ENCIPHERMENT, false);
        if (signer == null) throw new Cells.Absent("own:none", "the token holds no RSA signature key");
        PublicKey key = signer.certificate.getPublicKey();
        byte[] message = bytes(300), digest = Jdk.digest("SHA-256", message);
        // What the token offers of: raw PKCS #1 v1.5 on a DigestInfo, with SHA-256 (in one part and in parts), PSS.
        need(CKF_SIGN, CKM_SHA256_RSA_PKCS, CKM_RSA_PKCS);
        if (offered(CKF_SIGN, CKM_RSA_PKCS) != null) {
            byte[] s = signAndVerify(CKM_RSA_PKCS, null, signer.privateKey, signer.publicKey, false,
                    concat(SHA256_INFO, digest), false)[0];
            check(Jdk.verify("SHA256withRSA", key, message, s), "Java verifies CKM_RSA_PKCS with the certificate");
        }
        if (offered(CKF_SIGN, CKM_SHA256_RSA_PKCS) != null) {
            byte[][] s = signAndVerify(CKM_SHA256_RSA_PKCS, null, signer.privateKey, signer.publicKey, false, message, true);
            check(Jdk.verify("SHA256withRSA", key, message, s[0]), "Java verifies CKM_SHA256_RSA_PKCS with the certificate");
            check(Jdk.verify("SHA256withRSA", key, message, s[1]), "and the signature made in parts");
        }
        String also = "";
        if (offered(CKF_SIGN, CKM_RSA_PKCS_PSS) != null) {
            also += "+pss";
            byte[] parameter = ulongs(CKM_SHA256_CODE, CKG_MGF1_SHA256, 32);
            byte[] s = signAndVerify(CKM_RSA_PKCS_PSS, parameter, signer.privateKey, signer.publicKey, false, digest, false)[0];
            check(Jdk.verifyPss((RSAPublicKey) key, message, s), "Java verifies CKM_RSA_PKCS_PSS (SHA-256, MGF1, 32 bytes of salt)");
        }
        if (decrypter == null) throw new Cells.Failed("own:no-decryption-key", "no RSA key for key encipherment");
        // Java encrypts to the certificate; the token decrypts.
        need(CKF_DECRYPT, CKM_RSA_PKCS);
        byte[] secret = bytes(32);
        PublicKey to = decrypter.certificate.getPublicKey();
        decrypt(CKM_RSA_PKCS, null, decrypter, Jdk.rsaEncrypt(to, secret), secret);
        if (offered(CKF_DECRYPT, CKM_RSA_PKCS_OAEP) != null) {
            also += "+oaep";
            decrypt(CKM_RSA_PKCS_OAEP, ulongs(CKM_SHA256_CODE, CKG_MGF1_SHA256, CKZ_DATA_SPECIFIED, 0, 0), decrypter,
                    Jdk.rsaOaepEncrypt(to, secret), secret);
        }
        return "java" + also;
    }

    private void decrypt(MechanismType m, byte[] parameter, OwnKey key, byte[] ciphertext, byte[] expected) {
        rv(p11.decryptInit(session, m, parameter, key.privateKey), "C_DecryptInit(" + m + ")");
        CipherResult r = p11.decrypt(session, ciphertext, 0, ciphertext.length);
        rv(r.getResult(), "C_Decrypt(" + m + ")");
        check(Arrays.equals(expected, r.getData()), m + ": the token decrypts what Java encrypted to the certificate");
    }

    private String ownEc() throws Exception {
        // The signature key that wants the PIN for every signature (PIV 9C), and one without (9E) where there is one.
        OwnKey signer = own("EC", DIGITAL_SIGNATURE, true), plain = own("EC", DIGITAL_SIGNATURE, false);
        if (signer == null) throw new Cells.Absent("own:none", "the token holds no EC signature key that wants the PIN each time");
        need(CKF_SIGN, CKM_ECDSA);
        byte[] message = bytes(300), digest = Jdk.digest("SHA-256", message);
        for (OwnKey k : plain == null ? new OwnKey[] {signer} : new OwnKey[] {signer, plain}) {
            PublicKey key = k.certificate.getPublicKey();
            byte[] s = signAndVerify(CKM_ECDSA, null, k.privateKey, k.publicKey, k.always, digest, false)[0];
            check(Jdk.verify("NONEwithECDSAinP1363Format", key, digest, s), "Java verifies CKM_ECDSA with the certificate");
        }
        if (offered(CKF_SIGN, CKM_ECDSA_SHA256) != null) {
            byte[][] s = signAndVerify(CKM_ECDSA_SHA256, null, signer.privateKey, signer.publicKey, true, message, true);
            PublicKey key = signer.certificate.getPublicKey();
            check(Jdk.verify("SHA256withECDSAinP1363Format", key, message, s[0]), "Java verifies CKM_ECDSA_SHA256");
            check(Jdk.verify("SHA256withECDSAinP1363Format", key, message, s[1]), "and the signature made in parts");
        }
        return "java";
    }

    /** Each key's type, modulus or point and curve as in its certificate; secrets withheld. */
    private String ownAttributes() throws Exception {
        for (OwnKey k : own()) {
            String id = java.util.HexFormat.of().formatHex(k.id);
            same(id, java.util.HexFormat.of().formatHex(read(k.privateKey, CKA_ID)), "CKA_ID of the private key");
            // Only the key for signatures that cannot be repudiated wants the PIN each time.
            same(k.certificate.getKeyUsage()[1], k.always, "CKA_ALWAYS_AUTHENTICATE of key " + id);
            boolean rsa = k.algorithm().equals("RSA");
            for (Handle h : new Handle[] {k.privateKey, k.publicKey}) {
                same(rsa ? CKK_RSA : CKK_EC, NativeCryptokiFunctions.decodeULong(read(h, CKA_KEY_TYPE)), "key type of " + id);
            }
            if (rsa) {
                RSAPublicKey c = (RSAPublicKey) k.certificate.getPublicKey();
                for (Handle h : new Handle[] {k.privateKey, k.publicKey}) {
                    TemplateAttribute[] t = Attributes.of().read(CKA_MODULUS, CKA_PUBLIC_EXPONENT).array();
                    rv(p11.getAttributeValueNative(session, h, t), "C_GetAttributeValue(modulus)");
                    RSAPublicKey r = Jdk.rsa(Attributes.valueOf(t, CKA_MODULUS), Attributes.valueOf(t, CKA_PUBLIC_EXPONENT));
                    same(c.getModulus(), r.getModulus(), "modulus of key " + id + " as in its certificate");
                    same(c.getPublicExponent(), r.getPublicExponent(), "public exponent of key " + id);
                }
            } else {
                check(Arrays.equals(P256, read(k.publicKey, CKA_EC_PARAMS)), "CKA_EC_PARAMS of key " + id + ": P-256");
                check(Arrays.equals(k.certificate.getPublicKey().getEncoded(), Jdk.p256(read(k.publicKey, CKA_EC_POINT))
                        .getEncoded()), "EC point of key " + id + " as in its certificate");
                // OpenSC keeps the point on the public key only.
                TemplateAttribute[] t = Attributes.of().read(CKA_EC_POINT).array();
                ReturnValue point = p11.getAttributeValueNative(session, k.privateKey, t);
                if (point.getValue() != CKR_ATTRIBUTE_TYPE_INVALID) {
                    rv(point, "C_GetAttributeValue(private EC point)");
                    check(Arrays.equals(k.certificate.getPublicKey().getEncoded(), Jdk.p256((byte[]) t[0].getValue())
                            .getEncoded()), "EC point of private key " + id + " as in its certificate");
                }
            }
            TemplateAttribute[] secret = Attributes.of().read(CKA_ID)
                    .read(rsa ? new AttributeType(Attributes.CKA_PRIVATE_EXPONENT) : CKA_VALUE).array();
            ReturnValue rv = p11.getAttributeValueNative(session, k.privateKey, secret);
            if (rv.getValue() != CKR_ATTRIBUTE_TYPE_INVALID) {
                expectRv(CKR_ATTRIBUTE_SENSITIVE, rv, "C_GetAttributeValue(secret)");
            }
        }
        return "certificate";
    }

    /** The token's certificates and keys, all of them by class, and one key's objects by its CKA_ID. */
    private String ownFind() throws Exception {
        List<OwnKey> keys = own();
        check(!keys.isEmpty(), "the token holds certificates");
        OwnKey k = keys.get(keys.size() / 2);
        Set<Handle> found = found(Attributes.of().add(CKA_ID, k.id)), keyObjects = Set.of(k.certificateObject, k.privateKey,
                k.publicKey);
        String id = java.util.HexFormat.of().formatHex(k.id);
        check(found.containsAll(keyObjects), "the certificate and keys among the objects with CKA_ID " + id);
        // ykcs11 shows also the data object that holds the certificate on the card.
        for (Handle h : found) {
            if (keyObjects.contains(h)) continue;
            same(Attributes.CKO_DATA, NativeCryptokiFunctions.decodeULong(read(h, CKA_CLASS)), "class of " + h + " with CKA_ID " + id);
        }
        return "class-and-id";
    }

    // Objects

    private String attributes() throws Exception {
        userLogin();
        if (givenPin != null) return ownAttributes();
        if (made.isEmpty()) throw new Cells.Absent("needs:objects", "no object was made");
        for (Handle h : made) {
            same(LABEL, new String(read(h, CKA_LABEL)), "label of " + h);
            long cls = NativeCryptokiFunctions.decodeULong(read(h, CKA_CLASS));
            long type = NativeCryptokiFunctions.decodeULong(read(h, CKA_KEY_TYPE));
            long want = h == aesKey ? CKK_AES : h == rsaPublic || h == rsaPrivate ? CKK_RSA : CKK_EC;
            same(want, type, "key type of " + h);
            same(h == aesKey ? Attributes.CKO_SECRET_KEY : h == rsaPrivate || h == ecPrivate
                    ? Attributes.CKO_PRIVATE_KEY : Attributes.CKO_PUBLIC_KEY, cls, "class of " + h);
        }
        // A secret the module guards, read alongside one it hands out.
        Handle secret = rsaPrivate != null ? rsaPrivate : ecPrivate;
        if (secret != null) {
            TemplateAttribute[] t = Attributes.of().read(CKA_LABEL)
                    .read(secret == rsaPrivate ? new AttributeType(Attributes.CKA_PRIVATE_EXPONENT) : CKA_VALUE).array();
            ReturnValue rv = p11.getAttributeValueNative(session, secret, t);
            // Sensitive, or (a TPM's key) not kept on the token at all.
            if (rv.getValue() != CKR_ATTRIBUTE_TYPE_INVALID) {
                expectRv(CKR_ATTRIBUTE_SENSITIVE, rv, "C_GetAttributeValue(secret)");
            }
        }
        Handle renamed = made.get(0);
        rv(p11.setAttributeValueNative(session, renamed, Attributes.of().text(CKA_LABEL, LABEL + "-renamed").array()),
                "C_SetAttributeValue");
        same(LABEL + "-renamed", new String(read(renamed, CKA_LABEL)), "label after C_SetAttributeValue");
        rv(p11.setAttributeValueNative(session, renamed, Attributes.of().text(CKA_LABEL, LABEL).array()),
                "C_SetAttributeValue");
        return "template";
    }

    private String find() throws Exception {
        userLogin();
        if (givenPin != null) return ownFind();
        if (made.isEmpty()) throw new Cells.Absent("needs:objects", "no object was made");
        same(new HashSet<>(made), found(Attributes.of().text(CKA_LABEL, LABEL)), "objects labelled " + LABEL);
        Set<Handle> publics = new HashSet<>();
        if (rsaPublic != null) publics.add(rsaPublic);
        if (ecPublic != null) publics.add(ecPublic);
        same(publics, found(Attributes.of().text(CKA_LABEL, LABEL).ulong(CKA_CLASS, Attributes.CKO_PUBLIC_KEY)),
                "public keys labelled " + LABEL);
        return "handles";
    }

    private Set<Handle> found(Attributes template) {
        return found(session, template);
    }

    private Set<Handle> found(SessionHandle s, Attributes template) {
        rv(p11.findObjectsInitNative(s, template.array()), "C_FindObjectsInit");
        Set<Handle> found = new HashSet<>();
        Handle[] batch = new Handle[2];
        for (int n = 0; n < 1000; n++) {
            FindObjectsResult r = p11.findObjects(s, batch);
            rv(r.getResult(), "C_FindObjects");
            if (r.getNumObjects() == 0) break;
            for (int i = 0; i < r.getNumObjects(); i++) check(found.add(batch[i]), "an object found twice");
        }
        rv(p11.findObjectsFinal(s), "C_FindObjectsFinal");
        return found;
    }

    private String wrap() throws Exception {
        userLogin();
        need(CKF_WRAP | CKF_UNWRAP, CKM_RSA_PKCS);
        cells.require("aes");
        if (rsaPrivate == null) cells.require("rsa");
        Attributes aes = Attributes.of().ulong(CKA_CLASS, Attributes.CKO_SECRET_KEY).ulong(CKA_KEY_TYPE, CKK_AES)
                .bool(CKA_TOKEN, false).text(CKA_LABEL, LABEL).bool(CKA_ENCRYPT, true).bool(CKA_DECRYPT, true);
        // The token wraps its key, unwraps it again, and the copy decrypts what the original encrypted.
        WrapKeyResult w = p11.wrapKey(session, CKM_RSA_PKCS, null, rsaPublic, aesKey);
        rv(w.getResult(), "C_WrapKey");
        same(rsaJava.getModulus().bitLength() / 8, w.getData().length, "wrapped length");
        GenerateKeyResult u = p11.unwrapKeyNative(session, CKM_RSA_PKCS, null, rsaPrivate, w.getData(), aes.array());
        rv(u.getResult(), "C_UnwrapKey");
        Handle copy = made(u.getKeyHandle());
        byte[] plain = bytes(64), iv = aesMechanism.equals(CKM_AES_ECB) ? null : bytes(16);
        String transformation = iv == null ? "ECB/NoPadding" : "CBC/NoPadding";
        MechanismType raw = iv == null ? CKM_AES_ECB : CKM_AES_CBC;
        if (offered(CKF_ENCRYPT, raw) == null) raw = aesMechanism;
        if (raw.equals(CKM_AES_CBC_PAD)) transformation = "CBC/PKCS5Padding";
        byte[] expected = Jdk.aes(Cipher.ENCRYPT_MODE, transformation, aesValue, iv, plain);
        rv(p11.encryptInit(session, raw, iv, copy), "C_EncryptInit(unwrapped key)");
        CipherResult c = p11.encrypt(session, plain, 0, plain.length);
        rv(c.getResult(), "C_Encrypt");
        check(Arrays.equals(expected, c.getData()), "the unwrapped copy encrypts as the original key");
        // Java wraps a key of its own under the token's public key; the token unwraps and uses it.
        byte[] mine = bytes(32);
        GenerateKeyResult j = p11.unwrapKeyNative(session, CKM_RSA_PKCS, null, rsaPrivate, Jdk.rsaEncrypt(rsaJava, mine),
                aes.array());
        rv(j.getResult(), "C_UnwrapKey(Java's)");
        Handle imported = made(j.getKeyHandle());
        rv(p11.encryptInit(session, raw, iv, imported), "C_EncryptInit(Java's key)");
        CipherResult c2 = p11.encrypt(session, plain, 0, plain.length);
        rv(c2.getResult(), "C_Encrypt");
        check(Arrays.equals(Jdk.aes(Cipher.ENCRYPT_MODE, transformation, mine, iv, plain), c2.getData()),
                "the key Java wrapped encrypts as in Java");
        return "java";
    }

    // Threads

    /**
     * Several threads, each with its own session and no lock of their own,
     * run at once what the token offered above, a bounded number of rounds;
     * every answer is checked as in the one-thread cells.
     */
    private String threads() throws Exception {
        userLogin();
        List<String> ops = new ArrayList<>();
        if (cells.ok("digest") && offered(CKF_DIGEST, CKM_SHA256) != null) ops.add("digest");
        if (cells.ok("random")) ops.add("random");
        if (cells.ok("aes")) ops.add("aes");
        if (rsaJava != null) ops.add("rsa");  // one-part signatures, right even where parts are not
        if (cells.ok("find")) ops.add("objects");
        boolean x86 = "32".equals(System.getProperty("sun.arch.data.model")), card = givenPin != null;
        int threads = card ? 2 : 4, rounds = card ? (x86 ? 4 : 10) : x86 ? 3 : 12;
        if (card) {
            // A card: two threads sign at once with its keys that want no PIN each time (RSA with a
            // chained command and a GET RESPONSE per signature; ECDSA with the key that needs no PIN).
            ops.clear();
            cells.require("rsa");
            threadRsa = own("RSA", DIGITAL_SIGNATURE, false);
            threadEc = own("EC", DIGITAL_SIGNATURE, false);
            need(CKF_SIGN, CKM_SHA256_RSA_PKCS);
            ops.add("own-rsa");
            if (threadEc != null && cells.ok("ec")) ops.add("own-ec");
        }
        if (ops.isEmpty()) throw new Cells.Absent("needs:operations", "nothing offered to run at once");
        java.util.concurrent.CyclicBarrier start = new java.util.concurrent.CyclicBarrier(threads);
        java.util.Queue<Throwable> errors = new java.util.concurrent.ConcurrentLinkedQueue<>();
        Thread[] t = new Thread[threads];
        for (int i = 0; i < threads; i++) {
            t[i] = new Thread(() -> {
                try {
                    OpenSessionResult o = p11.openSession(slot, readWrite ? OpenSessionFlags.readWrite()
                            : OpenSessionFlags.readOnly());
                    rv(o.getResult(), "C_OpenSession");
                    start.await();
                    for (int k = 0; k < rounds; k++) {
                        for (String op : ops) threadOp(o.getHandle(), op);
                    }
                    rv(p11.closeSession(o.getHandle()), "C_CloseSession");
                } catch (Throwable e) {
                    errors.add(e);
                    start.reset();
                }
            }, "threads-" + i);
            t[i].start();
        }
        for (Thread x : t) {
            x.join(600_000);
            check(!x.isAlive(), x.getName() + " did not end within ten minutes");
        }
        Throwable first = errors.peek();
        if (first instanceof Cells.Failed || first instanceof Cells.Absent) {
            String evidence = first instanceof Cells.Failed ? ((Cells.Failed) first).evidence : ((Cells.Absent) first).evidence;
            throw new Cells.Failed(evidence, errors.size() + " threads failed, first: " + first.getMessage());
        }
        if (first != null) throw new Cells.Failed("exception", errors.size() + " threads failed, first: " + first);
        System.out.println("threads: " + threads + " x " + rounds + " rounds of " + String.join(", ", ops));
        return "java";
    }

    /** A thread's signature with one of the token's own keys, verified by Java with its certificate. */
    private void signWithOwn(SessionHandle s, OwnKey key, MechanismType m, byte[] data, String algorithm) throws Exception {
        rv(p11.signInit(s, m, null, key.privateKey), "C_SignInit");
        SignResult sig = p11.sign(s, data, 0, data.length);
        rv(sig.getResult(), "C_Sign");
        check(Jdk.verify(algorithm, key.certificate.getPublicKey(), data, sig.getData()),
                "Java verifies a thread's " + m + " signature with the certificate");
    }

    /** One operation on a thread's own session, checked by Java. */
    private void threadOp(SessionHandle s, String op) throws Exception {
        byte[] data = bytes(1 + random.nextInt(400));
        switch (op) {
            case "digest": {
                rv(p11.digestInit(s, CKM_SHA256, null), "C_DigestInit");
                DigestResult d = p11.digest(s, data, 0, data.length);
                rv(d.getResult(), "C_Digest");
                check(Arrays.equals(Jdk.digest("SHA-256", data), d.getData()), "SHA-256 from a thread");
                break;
            }
            case "random": {
                byte[] a = new byte[32], b = new byte[32];
                rv(p11.generateRandom(s, a), "C_GenerateRandom");
                rv(p11.generateRandom(s, b), "C_GenerateRandom");
                check(!Arrays.equals(a, b), "two random draws from a thread differ");
                break;
            }
            case "aes": {
                boolean ecb = aesMechanism.equals(CKM_AES_ECB), pad = aesMechanism.equals(CKM_AES_CBC_PAD);
                byte[] iv = ecb ? null : bytes(16), plain = pad ? data : bytes(16 * (1 + data.length / 16));
                byte[] expected = Jdk.aes(Cipher.ENCRYPT_MODE, ecb ? "ECB/NoPadding" : pad ? "CBC/PKCS5Padding"
                        : "CBC/NoPadding", aesValue, iv, plain);
                rv(p11.encryptInit(s, aesMechanism, iv, aesKey), "C_EncryptInit");
                CipherResult c = p11.encrypt(s, plain, 0, plain.length);
                rv(c.getResult(), "C_Encrypt");
                check(Arrays.equals(expected, c.getData()), aesMechanism + " from a thread equals Java's");
                rv(p11.decryptInit(s, aesMechanism, iv, aesKey), "C_DecryptInit");
                CipherResult back = p11.decrypt(s, expected, 0, expected.length);
                rv(back.getResult(), "C_Decrypt");
                check(Arrays.equals(plain, back.getData()), "decrypted from a thread");
                break;
            }
            case "rsa": {
                byte[] input = rsaInput(data);
                rv(p11.signInit(s, rsaSign, null, rsaPrivate), "C_SignInit");
                SignResult sig = p11.sign(s, input, 0, input.length);
                rv(sig.getResult(), "C_Sign");
                check(Jdk.verify("SHA256withRSA", rsaJava, data, sig.getData()), "Java verifies a thread's RSA signature");
                rv(p11.verifyInit(s, rsaSign, null, rsaPublic), "C_VerifyInit");
                rv(p11.verify(s, input, 0, input.length, sig.getData()), "C_Verify");
                break;
            }
            case "own-rsa":
                signWithOwn(s, threadRsa, CKM_SHA256_RSA_PKCS, data, "SHA256withRSA");
                break;
            case "own-ec":
                signWithOwn(s, threadEc, CKM_ECDSA, Jdk.digest("SHA-256", data), "NONEwithECDSAinP1363Format");
                break;
            default: {
                same(new HashSet<>(made), found(s, Attributes.of().text(CKA_LABEL, LABEL)), "objects found from a thread");
                for (Handle h : made) same(LABEL, new String(read(s, h, CKA_LABEL)), "label read from a thread");
            }
        }
    }

    // Closing

    private String close() {
        rv(p11.closeSession(session), "C_CloseSession");
        expectRv(CKR_SESSION_HANDLE_INVALID, p11.getSessionInfo(session).getResult(), "C_GetSessionInfo(closed)");
        OpenSessionResult a = p11.openSession(slot, OpenSessionFlags.readOnly());
        rv(a.getResult(), "C_OpenSession");
        rv(p11.closeAllSessions(slot), "C_CloseAllSessions");
        expectRv(CKR_SESSION_HANDLE_INVALID, p11.getSessionInfo(a.getHandle()).getResult(), "C_GetSessionInfo(closed)");
        return "session-info";
    }

    private String finalizeModule() {
        check(p11.isBound(), "bound until finalize");
        p11.finalize();
        expectRv(CKR_CRYPTOKI_NOT_INITIALIZED, p11.getInfo().getReturnValue(), "C_GetInfo after finalize");
        p11.finalize();
        return "not-bound";
    }

    // Helpers

    private void loadMechanisms() {
        GetMechanismListResult list = p11.getMechanismList(slot);
        rv(list.getResult(), "C_GetMechanismList");
        for (MechanismType m : list.getMechanisms()) {
            MechanismInformationFlags[] flags = new MechanismInformationFlags[1];
            int[] sizes = new int[2];
            if (p11.getMechanismInfo(slot, m, flags, sizes).isOk()) {
                mechanisms.put(m.getType(), new long[] {flags[0].toBits(), sizes[0], sizes[1] & 0xFFFFFFFFL});
            }
        }
    }

    /** The first of the mechanisms the token lists with all those flags, or null. */
    private MechanismType offered(long flags, MechanismType... choices) {
        for (MechanismType m : choices) {
            long[] info = mechanisms.get(m.getType());
            if (info != null && (info[0] & flags) == flags) return m;
        }
        return null;
    }

    /** As offered, but a mechanism missing ends the cell as not offered, saying how that is known. */
    private MechanismType need(long flags, MechanismType... choices) {
        MechanismType m = offered(flags, choices);
        if (m != null) return m;
        String name = choices[0].getName() != null ? choices[0].getName().substring(4)
                : String.format("0x%X", choices[0].getType());
        if (mechanisms.containsKey(choices[0].getType())) {
            throw new Cells.Absent("flags:" + name, name + " is listed without the flags " + Long.toHexString(flags));
        }
        throw new Cells.Absent("list:" + name, "the token does not list " + name);
    }

    private Handle made(Handle h) {
        made.add(h);
        return h;
    }

    private byte[] read(Handle object, AttributeType type) {
        return read(session, object, type);
    }

    private byte[] read(SessionHandle s, Handle object, AttributeType type) {
        TemplateAttribute[] t = Attributes.of().read(type).array();
        rv(p11.getAttributeValueNative(s, object, t), "C_GetAttributeValue(" + type + ")");
        return (byte[]) t[0].getValue();
    }

    /** Template codes that mean the module wants a plainer template. */
    private static boolean templateRefused(ReturnValue rv) {
        long v = rv.getValue();
        return v == 0x10 || v == 0x12 || v == 0x13 || v == 0xD0 || v == 0xD1;
    }

    private GenerateKeyPairResult generatePair(MechanismType m, Attributes publicGiven, Attributes publicWished,
            Attributes privateWished) {
        TemplateAttribute[] pub = concat(publicGiven.text(CKA_LABEL, LABEL).bool(CKA_VERIFY, true).array(),
                Attributes.of().bool(CKA_TOKEN, false).array());
        TemplateAttribute[] priv = Attributes.of().text(CKA_LABEL, LABEL).bool(CKA_SIGN, true).array();
        TemplateAttribute[] privWished = Attributes.of().bool(CKA_TOKEN, false).bool(CKA_SENSITIVE, true)
                .bool(CKA_PRIVATE, true).array();
        GenerateKeyPairResult r = p11.generateKeyPairNative(session, m, null, concat(pub, publicWished.array()),
                concat(priv, privWished, privateWished.array()));
        if (templateRefused(r.getResult())) r = p11.generateKeyPairNative(session, m, null, pub, concat(priv, privWished));
        if (templateRefused(r.getResult())) {
            r = p11.generateKeyPairNative(session, m, null, publicGiven.array(), priv);
        }
        rv(r.getResult(), "C_GenerateKeyPair");
        return r;
    }

    private static TemplateAttribute[] concat(TemplateAttribute[]... parts) {
        List<TemplateAttribute> all = new ArrayList<>();
        for (TemplateAttribute[] p : parts) all.addAll(Arrays.asList(p));
        return all.toArray(new TemplateAttribute[0]);
    }

    private static byte[] concat(byte[]... parts) {
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        for (byte[] p : parts) out.writeBytes(p);
        return out.toByteArray();
    }

    private static byte[] ulongs(long... values) {
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        for (long v : values) out.writeBytes(Attributes.ulong(v));
        return out.toByteArray();
    }

    private byte[] bytes(int n) {
        byte[] b = new byte[n];
        random.nextBytes(b);
        return b;
    }
}
