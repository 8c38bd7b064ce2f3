import java.lang.reflect.Field;
import java.lang.reflect.Modifier;
import java.util.ArrayList;
import java.util.Comparator;
import java.util.List;

import quorvel.pkcs.pkcs11.*;
import quorvel.pkcs.pkcs11.jni.NativeCryptokiFunctions;

/**
 * A tour of a PKCS#11 module through libcorvale: what the library, its slots,
 * tokens and mechanisms are, then a token initialised, a user PIN set, a
 * login and logout with the session's information. A token that is already
 * initialised, where no SO PIN is given, is used as it is (a smart card):
 * a login with the user PIN, and signatures with its own keys.
 *
 *   java -Dcorvale.library=build/linux-x64/libcorvale.so.0 CorvaleDemo [--module NAME]...
 *        [--slot ID] [--so-pin PIN] [--pin PIN] [--label LABEL]
 *
 * The module defaults to SoftHSM2 ("softhsm2"). The token initialised is the
 * one in the slot given, or else the first one not yet initialised, or else
 * the last one present (for NSS softoken, "NSS Certificate DB", whose SO PIN
 * is empty). What the token does not offer (by its mechanism list) is shown
 * as such and skipped. Each module's walk-through ends with a line "Tour: ..."
 * counting its steps; the exit status is 1 when a step failed.
 */
public final class CorvaleDemo {

    private static final String[] KINDS = {"generic", "kulm", "softoken"};

    // Names of common mechanisms that MechanismType has no constant for.
    private static final java.util.Map<Long, String> MORE_MECHANISMS = new java.util.HashMap<>();
    static {
        String table = "0005 MD5_RSA_PKCS 000E SHA1_RSA_PKCS_PSS 0010 DSA_KEY_PAIR_GEN 0011 DSA"
                + " 0012 DSA_SHA1 0013 DSA_SHA224 0014 DSA_SHA256 0015 DSA_SHA384 0016 DSA_SHA512"
                + " 0020 DH_PKCS_KEY_PAIR_GEN 0021 DH_PKCS_DERIVE 0043 SHA256_RSA_PKCS_PSS"
                + " 0044 SHA384_RSA_PKCS_PSS 0045 SHA512_RSA_PKCS_PSS 0046 SHA224_RSA_PKCS"
                + " 0047 SHA224_RSA_PKCS_PSS 0120 DES_KEY_GEN 0121 DES_ECB 0122 DES_CBC 0125 DES_CBC_PAD"
                + " 0130 DES2_KEY_GEN 0136 DES3_CBC_PAD 0138 DES3_CMAC 0211 MD5_HMAC 0255 SHA224"
                + " 0256 SHA224_HMAC 0261 SHA384_HMAC 0271 SHA512_HMAC 1055 EC_EDWARDS_KEY_PAIR_GEN"
                + " 1057 EDDSA 1086 AES_CTR 1087 AES_GCM 108A AES_CMAC 1100 DES_ECB_ENCRYPT_DATA"
                + " 1101 DES_CBC_ENCRYPT_DATA 1102 DES3_ECB_ENCRYPT_DATA 1103 DES3_CBC_ENCRYPT_DATA"
                + " 1104 AES_ECB_ENCRYPT_DATA 1105 AES_CBC_ENCRYPT_DATA 2000 DSA_PARAMETER_GEN"
                + " 2001 DH_PKCS_PARAMETER_GEN 2109 AES_KEY_WRAP 210A AES_KEY_WRAP_PAD";
        String[] words = table.split(" ");
        for (int i = 0; i < words.length; i += 2) {
            MORE_MECHANISMS.put(Long.parseLong(words[i], 16), "CKM_" + words[i + 1]);
        }
    }

    private String soPin;
    private String userPin = "demo-pin-1234";
    private String label = "corvale demo";
    private Long slotId;

    // Steps of the current module's walk-through.
    private static int worked, notOffered, failed;

    public static void main(String[] args) {
        CorvaleDemo demo = new CorvaleDemo();
        List<String> modules = new ArrayList<>();
        for (int i = 0; i < args.length; i++) {
            String value = i + 1 < args.length ? args[i + 1] : null;
            switch (args[i]) {
                case "--module": modules.add(value); break;
                case "--so-pin": demo.soPin = value; break;
                case "--pin": demo.userPin = value; break;
                case "--label": demo.label = value; break;
                case "--slot": demo.slotId = value == null ? null : Long.decode(value); break;
                default: value = null;
            }
            if (value == null) {
                System.err.println("usage: CorvaleDemo [--module NAME]... [--slot ID] [--so-pin PIN] [--pin PIN] [--label LABEL]");
                System.exit(2);
            }
            i++;
        }
        if (modules.isEmpty()) modules.add("softhsm2");
        boolean anyFailed = false;
        for (String module : modules) {
            worked = notOffered = failed = 0;
            demo.tour(module);
            anyFailed |= failed > 0;
        }
        if (anyFailed) System.exit(1);
    }

    private void tour(String module) {
        heading("Module \"" + module + "\" (file lib" + module + ".so)");
        NativeCryptokiFunctions p11 = new NativeCryptokiFunctions();
        int bound = p11.doInitialize(module);
        row("binding", bound == 1 ? "bound and initialised" : "refused by C_Initialize");
        if (bound != 1) {
            p11.finalize();
            return;
        }
        row("kind", KINDS[p11.getTokenType()]);
        row("unsupported", p11.getUnsupported().isEmpty() ? "none" : p11.getUnsupported().toString());
        try {
            library(p11);
            SlotId[] slots = slots(p11);
            SlotListResult present = p11.getSlotList(true);
            if (slots != null && present.getReturnValue().isOk() && present.getSlotIds().length > 0) {
                useToken(p11, present.getSlotIds());
                System.out.printf("%nTour: %d steps worked, %d not offered, %d failed%n", worked, notOffered, failed);
            } else {
                System.out.printf("%nTour: no token to use%n");
            }
        } finally {
            p11.finalize();
        }
        System.out.println();
    }

    private static void library(NativeCryptokiFunctions p11) {
        GetInfoResult r = p11.getInfo();
        heading("Library");
        if (!ok(r.getReturnValue(), "C_GetInfo")) return;
        CryptokiInformation info = r.getInfo();
        row("manufacturer", info.getManufacturerID().strip());
        row("description", info.getLibraryDescription().strip());
        row("library version", info.getLibraryVersion().toString());
        row("Cryptoki version", info.getVersion().toString());
    }

    private static SlotId[] slots(NativeCryptokiFunctions p11) {
        SlotListResult list = p11.getSlotList(false);
        if (!ok(list.getReturnValue(), "C_GetSlotList")) return null;
        SlotId[] slots = list.getSlotIds();
        heading(slots.length + (slots.length == 1 ? " slot" : " slots"));
        for (SlotId slot : slots) {
            System.out.println();
            GetSlotInfoResult sr = p11.getSlotInfo(slot);
            System.out.println("  Slot " + slot.getId() + (ok(sr.getResult(), "C_GetSlotInfo")
                    ? ": " + sr.getInfo().getSlotDescription().strip() : ""));
            if (!sr.getResult().isOk()) continue;
            SlotInformation si = sr.getInfo();
            row("manufacturer", si.getManufacturerID().strip());
            row("flags", words(SlotInformationFlags.class, si.getFlags().toBits()));
            row("versions", "hardware " + si.getHardwareVersion() + ", firmware " + si.getFirmwareVersion());
            if (si.getFlags().isTokenPresent()) token(p11, slot);
        }
        return slots;
    }

    private static void token(NativeCryptokiFunctions p11, SlotId slot) {
        GetTokenInfoResult tr = p11.getTokenInfo(slot);
        if (!ok(tr.getResult(), "C_GetTokenInfo")) return;
        TokenInformation t = tr.getInfo();
        String label = t.getLabel().strip();
        System.out.println("    Token " + (label.isEmpty() ? "(no label)" : "\"" + label + "\""));
        row("manufacturer", t.getManufacterID().strip());
        row("model", t.getModel().strip());
        row("serial number", t.getSerialNumber().strip());
        row("flags", words(TokenInformationFlags.class, t.getFlags().toBits()));
        row("PIN length", pinLength(t.getMinPinLen()) + " to " + pinLength(t.getMaxPinLen()));
        row("sessions", count(t.getSessionCount()) + " open of " + limit(t.getMaxSessionCount())
                + ", read-write " + count(t.getReadWriteSessionCount()) + " of "
                + limit(t.getMaxReadWriteSessionCount()));
        row("public memory", count(t.getFreePublicMemory()) + " free of " + count(t.getTotalPublicMemory()));
        row("private memory", count(t.getFreePrivateMemory()) + " free of " + count(t.getTotalPrivateMemory()));
        row("versions", "hardware " + t.getHardwareVersion() + ", firmware " + t.getFirmwareVersion());
        row("clock", t.getUTCTime() == null ? "none" : t.getUTCTime().toInstant().toString());
        mechanisms(p11, slot);
    }

    private static void mechanisms(NativeCryptokiFunctions p11, SlotId slot) {
        GetMechanismListResult ml = p11.getMechanismList(slot);
        if (!ok(ml.getResult(), "C_GetMechanismList")) return;
        MechanismType[] types = ml.getMechanisms();
        System.out.println("    " + types.length + " mechanisms (key sizes; what they do)");
        for (MechanismType type : types) {
            MechanismInformationFlags[] flags = new MechanismInformationFlags[1];
            int[] sizes = new int[2];
            ReturnValue rv = p11.getMechanismInfo(slot, type, flags, sizes);
            String name = type.getName() != null ? type.getName()
                    : MORE_MECHANISMS.getOrDefault(type.getType(), String.format("0x%08X", type.getType()));
            String detail = rv.isOk()
                    ? keySizes(sizes) + "; " + words(MechanismInformationFlags.class, flags[0].toBits())
                    : "C_GetMechanismInfo: " + rv;
            System.out.printf("      %-28s %s%n", name, detail);
        }
    }

    private void useToken(NativeCryptokiFunctions p11, SlotId[] slots) {
        SlotId slot = slotId == null ? null : new SlotId(slotId);
        for (SlotId s : slot != null ? new SlotId[0] : slots) {
            GetTokenInfoResult t = p11.getTokenInfo(s);
            if (t.getResult().isOk() && !t.getInfo().getFlags().isTokenInitialized()) {
                slot = s;
                break;
            }
        }
        if (slot == null) slot = slots[slots.length - 1];
        boolean softoken = p11.getTokenType() == NativeCryptokiFunctions.TOKEN_SOFTOKEN;
        GetTokenInfoResult chosen = p11.getTokenInfo(slot);
        if (soPin == null && !softoken && chosen.getResult().isOk() && chosen.getInfo().getFlags().isTokenInitialized()) {
            useAsItIs(p11, slot);
            return;
        }
        String so = soPin != null ? soPin : softoken ? "" : "demo-so-pin";
        heading("Using the token in slot " + slot.getId());
        if (!step(p11.initToken(slot, so, label), "initialise the token as \"" + label + "\"")) return;
        // Some modules number a token anew once it is initialised.
        slot = relabelled(p11, slot);
        OpenSessionResult opened = p11.openSession(slot, OpenSessionFlags.readWrite());
        if (!step(opened.getResult(), "open a read-write session")) return;
        SessionHandle session = opened.getHandle();
        try {
            if (!step(p11.login(session, UserType.SO, so), "log in as security officer")) return;
            step(p11.initPIN(session, userPin), "set the user PIN");
            step(p11.logout(session), "log out");
            GetTokenInfoResult now = p11.getTokenInfo(slot);
            if (ok(now.getResult(), "C_GetTokenInfo")) {
                System.out.printf("      token \"%s\" in slot %d: %s%n", now.getInfo().getLabel().strip(),
                        slot.getId(), words(TokenInformationFlags.class, now.getInfo().getFlags().toBits()));
            }
            if (step(p11.login(session, UserType.USER, userPin), "log in as user with the new PIN")) {
                session(p11, session);
                CryptoTour.run(p11, slot, session);
                step(p11.logout(session), "log out");
            }
            session(p11, session);
        } finally {
            step(p11.closeSession(session), "close the session");
        }
    }

    /** An initialised token (a card): log in with the user PIN, sign with its own keys where it holds some. */
    private void useAsItIs(NativeCryptokiFunctions p11, SlotId slot) {
        heading("Using the token in slot " + slot.getId() + " as it is (initialised; no SO PIN given)");
        OpenSessionResult opened = p11.openSession(slot, OpenSessionFlags.readWrite());
        if (!opened.getResult().isOk()) opened = p11.openSession(slot, OpenSessionFlags.readOnly());
        if (!step(opened.getResult(), "open a session")) return;
        SessionHandle session = opened.getHandle();
        try {
            if (step(p11.login(session, UserType.USER, userPin), "log in as user")) {
                session(p11, session);
                if (!CryptoTour.runWithOwnKeys(p11, slot, session, userPin)) CryptoTour.run(p11, slot, session);
                step(p11.logout(session), "log out");
            }
        } finally {
            step(p11.closeSession(session), "close the session");
        }
    }

    private SlotId relabelled(NativeCryptokiFunctions p11, SlotId slot) {
        SlotListResult list = p11.getSlotList(true);
        if (!list.getReturnValue().isOk()) return slot;
        for (SlotId s : list.getSlotIds()) {
            GetTokenInfoResult t = p11.getTokenInfo(s);
            if (t.getResult().isOk() && t.getInfo().getLabel().strip().equals(label.strip())) return s;
        }
        return slot;
    }

    private static void session(NativeCryptokiFunctions p11, SessionHandle session) {
        GetSessionInfoResult r = p11.getSessionInfo(session);
        if (!ok(r.getResult(), "session information")) return;
        SessionInformation info = r.getInfo();
        System.out.printf("      session %d on slot %d: %s, %s, device error %d%n", session.getHandle(),
                info.getSlotId().getId(), info.getState(),
                words(SessionInformationFlags.class, info.getFlags().toBits()), info.getDeviceErrorCode());
    }

    // Formatting

    private static void heading(String text) {
        System.out.println();
        System.out.println("== " + text);
    }

    private static void row(String name, String value) {
        System.out.printf("      %-18s %s%n", name, value);
    }

    /** A query's answer: true when it is CKR_OK, otherwise the code is shown. */
    private static boolean ok(ReturnValue rv, String what) {
        if (!rv.isOk()) System.out.printf("      %s failed: %s%n", what, rv);
        return rv.isOk();
    }

    static final long CKR_FUNCTION_NOT_SUPPORTED = 0x54, CKR_MECHANISM_INVALID = 0x70;

    /**
     * A step of the token walk-through, shown with the module's answer and
     * counted; a module that answers it does not support the function or
     * mechanism does not offer it.
     */
    static boolean step(ReturnValue rv, String what) {
        System.out.printf("    %-40s %s%n", what, rv.isOk() ? "ok" : rv.toString());
        if (rv.isOk()) {
            worked++;
        } else if (rv.getValue() == CKR_FUNCTION_NOT_SUPPORTED || rv.getValue() == CKR_MECHANISM_INVALID) {
            notOffered++;
        } else {
            failed++;
        }
        return rv.isOk();
    }

    /** A result the walk-through checks itself (a round trip, a refused signature). */
    static void check(boolean good, String what, String shown) {
        System.out.printf("    %-40s %s%n", what, shown);
        if (good) worked++; else failed++;
    }

    /** A step the token does not offer, shown and counted but not tried. */
    static void notOffered(String what) {
        System.out.printf("    %-40s %s%n", what, "not offered by the token");
        notOffered++;
    }

    /** The CKF_ constants of a flags class that are set, as lower-case words. */
    private static String words(Class<?> flagsClass, long bits) {
        List<Field> fields = new ArrayList<>();
        for (Field f : flagsClass.getFields()) {
            if (f.getName().startsWith("CKF_") && f.getType() == long.class && Modifier.isStatic(f.getModifiers())) {
                fields.add(f);
            }
        }
        fields.sort(Comparator.comparingLong(CorvaleDemo::constant));
        List<String> words = new ArrayList<>();
        for (Field f : fields) {
            if ((bits & constant(f)) != 0) words.add(f.getName().substring(4).toLowerCase().replace('_', ' '));
        }
        return words.isEmpty() ? "none" : String.join(", ", words);
    }

    private static long constant(Field f) {
        try {
            return f.getLong(null);
        } catch (IllegalAccessException e) {
            throw new IllegalStateException(e);
        }
    }

    // CK_UNAVAILABLE_INFORMATION is all ones: 4294967295 from the 32-bit library, -1 from the 64-bit one.
    // Other counts are unsigned (opencryptoki reports maximums of 2^64 - 2, which Java shows as -2).
    private static String count(long v) {
        return v == 0xFFFFFFFFL || v == -1L ? "unavailable" : Long.toUnsignedString(v);
    }

    /** A maximum, where 0 is CK_EFFECTIVELY_INFINITE. */
    private static String limit(long v) {
        return v == 0 ? "effectively infinite" : count(v);
    }

    private static String pinLength(int v) {
        return v == -1 ? "unavailable" : Integer.toUnsignedString(v);
    }

    private static String keySizes(int[] sizes) {
        if (sizes[0] == 0 && sizes[1] == 0) return "-";
        String max = sizes[1] == Integer.MIN_VALUE ? "any" : Integer.toUnsignedString(sizes[1]);
        return Integer.toUnsignedString(sizes[0]) + ".." + max;
    }
}
