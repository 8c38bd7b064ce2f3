package corvaletest.modules;

import static corvaletest.modules.Cells.check;
import static corvaletest.modules.Cells.same;

import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.TreeSet;
import quorvel.pkcs.pkcs11.*;
import quorvel.pkcs.pkcs11.jni.NativeCryptokiFunctions;

/**
 * The oracle for the query natives: what the module tells a plain C client
 * (tests/bin/p11probe of the same width, run in a child process with the same
 * environment), compared field by field with what the bridge hands Java.
 * A difference ends the comparison with a Cells.Failed.
 */
public final class Probed {

    private static final long TOKEN_FLAG_BITS = TokenInformationFlags.fromBits(-1L).toBits();
    private static final long MECHANISM_FLAG_BITS = MechanismInformationFlags.fromBits(-1L).toBits();

    private final List<Map<String, String>> records = new ArrayList<>();

    /** Probes the module file, bound and initialised as the bridge binds a module of that kind. */
    public static Probed run(String modulePath, int kind, String name) throws Exception {
        List<String> command = new ArrayList<>(List.of(System.getProperty("corvale.build") + "/tests/bin/p11probe"));
        if (kind == NativeCryptokiFunctions.TOKEN_GENERIC) command.add("--symbols");
        command.add(modulePath);
        if (kind == NativeCryptokiFunctions.TOKEN_SOFTOKEN) {
            command.add("configdir=." + name + " certPrefix= keyPrefix= secmod=secmod.db");
        }
        Process p = new ProcessBuilder(command).redirectErrorStream(true).start();
        String text = new String(p.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        int status = p.waitFor();
        // 2: a module call failed; its line says which, and the bridge must see the same.
        check(status == 0 || status == 2, "p11probe ended with " + status + ":\n" + text);
        Probed probed = new Probed();
        for (String line : text.split("\n")) {
            String[] words = line.trim().split(" ");
            Map<String, String> r = new HashMap<>();
            r.put("kind", words[0]);
            for (int i = 1; i < words.length; i++) {
                int eq = words[i].indexOf('=');
                if (eq < 0) r.put("call", words[i]); else r.put(words[i].substring(0, eq), words[i].substring(eq + 1));
            }
            probed.records.add(r);
        }
        return probed;
    }

    private List<Map<String, String>> all(String kind) {
        List<Map<String, String>> found = new ArrayList<>();
        for (Map<String, String> r : records) if (r.get("kind").equals(kind)) found.add(r);
        return found;
    }

    /** The record of a kind whose numeric field equals value, or null. */
    private Map<String, String> find(String kind, String key, long value) {
        for (Map<String, String> r : all(kind)) if (number(r, key) == value) return r;
        return null;
    }

    /** The code of the probe's failed call of that name, or 0. */
    private long failure(String call) {
        for (Map<String, String> r : all("error")) if (call.equals(r.get("call"))) return number(r, "rv");
        return 0;
    }

    private static long number(Map<String, String> r, String key) {
        String v = r.get(key);
        return v.startsWith("0x") ? Long.parseUnsignedLong(v.substring(2), 16) : Long.parseUnsignedLong(v);
    }

    /** A hex text field as the bridge presents it: cut at a zero byte, decoded as UTF-8. */
    private static String text(Map<String, String> r, String key) {
        String hex = r.get(key);
        byte[] bytes = new byte[hex.length() / 2];
        for (int i = 0; i < bytes.length; i++) bytes[i] = (byte) Integer.parseInt(hex.substring(2 * i, 2 * i + 2), 16);
        int end = 0;
        while (end < bytes.length && bytes[end] != 0) end++;
        return new String(Arrays.copyOf(bytes, end), StandardCharsets.UTF_8);
    }

    private static String version(Version v) {
        return v.getMajor() + "." + v.getMinor();
    }

    public void compareInfo(NativeCryptokiFunctions p11) {
        Map<String, String> pi = all("info").get(0);
        GetInfoResult r = p11.getInfo();
        Cells.rv(r.getReturnValue(), "C_GetInfo");
        CryptokiInformation info = r.getInfo();
        same(pi.get("cryptoki"), version(info.getVersion()), "Cryptoki version");
        same(pi.get("library"), version(info.getLibraryVersion()), "library version");
        same(text(pi, "manufacturer"), info.getManufacturerID(), "library manufacturer");
        same(text(pi, "description"), info.getLibraryDescription(), "library description");
    }

    /** Slot list, every slot's and present token's information; returns the slots. */
    public SlotId[] compareSlots(NativeCryptokiFunctions p11) {
        SlotListResult list = p11.getSlotList(false);
        Cells.rv(list.getReturnValue(), "C_GetSlotList");
        TreeSet<Long> mine = new TreeSet<>(), theirs = new TreeSet<>();
        for (SlotId s : list.getSlotIds()) mine.add(s.getId());
        for (Map<String, String> s : all("slot")) theirs.add(number(s, "id"));
        same(theirs, mine, "slot list");
        for (SlotId slot : list.getSlotIds()) {
            Map<String, String> ps = find("slot", "id", slot.getId());
            GetSlotInfoResult sr = p11.getSlotInfo(slot);
            Cells.rv(sr.getResult(), "C_GetSlotInfo");
            SlotInformation si = sr.getInfo();
            same(text(ps, "description"), si.getSlotDescription(), "slot description");
            same(text(ps, "manufacturer"), si.getManufacturerID(), "slot manufacturer");
            same(number(ps, "flags") & 7, si.getFlags().toBits(), "slot flags");
            same(ps.get("hw"), version(si.getHardwareVersion()), "slot hardware version");
            same(ps.get("fw"), version(si.getFirmwareVersion()), "slot firmware version");
            if (!si.getFlags().isTokenPresent()) continue;

            GetTokenInfoResult tr = p11.getTokenInfo(slot);
            Map<String, String> pt = find("token", "slot", slot.getId());
            if (pt == null) {
                same(failure("C_GetTokenInfo"), tr.getResult().getValue(), "C_GetTokenInfo's code on slot " + slot.getId());
                continue;
            }
            Cells.rv(tr.getResult(), "C_GetTokenInfo");
            TokenInformation t = tr.getInfo();
            same(text(pt, "label"), t.getLabel(), "token label");
            same(text(pt, "manufacturer"), t.getManufacterID(), "token manufacturer");
            same(text(pt, "model"), t.getModel(), "token model");
            same(text(pt, "serial"), t.getSerialNumber(), "token serial number");
            same(number(pt, "flags") & TOKEN_FLAG_BITS, t.getFlags().toBits(), "token flags");
            same((int) number(pt, "maxPin"), t.getMaxPinLen(), "maximum PIN length");
            same((int) number(pt, "minPin"), t.getMinPinLen(), "minimum PIN length");
            same(number(pt, "maxSessions"), t.getMaxSessionCount(), "maximum sessions");
            same(number(pt, "maxRwSessions"), t.getMaxReadWriteSessionCount(), "maximum read-write sessions");
            same(number(pt, "totalPublic"), t.getTotalPublicMemory(), "public memory");
            same(number(pt, "totalPrivate"), t.getTotalPrivateMemory(), "private memory");
            same(pt.get("hw"), version(t.getHardwareVersion()), "token hardware version");
            same(pt.get("fw"), version(t.getFirmwareVersion()), "token firmware version");
        }
        return list.getSlotIds();
    }

    /** Every mechanism of every token the probe could list; returns how many were compared. */
    public int compareMechanisms(NativeCryptokiFunctions p11, SlotId[] slots) {
        int compared = 0;
        for (SlotId slot : slots) {
            if (find("token", "slot", slot.getId()) == null) continue;
            GetMechanismListResult ml = p11.getMechanismList(slot);
            Cells.rv(ml.getResult(), "C_GetMechanismList");
            long listed = all("mechanism").stream().filter(m -> number(m, "slot") == slot.getId()).count();
            same(listed, (long) ml.getMechanisms().length, "mechanism count of slot " + slot.getId());
            for (MechanismType m : ml.getMechanisms()) {
                Map<String, String> pm = null;
                for (Map<String, String> r : all("mechanism")) {
                    if (number(r, "slot") == slot.getId() && number(r, "type") == m.getType()) pm = r;
                }
                check(pm != null, "the probe lists no mechanism " + m + " on slot " + slot.getId());
                MechanismInformationFlags[] flags = new MechanismInformationFlags[1];
                int[] sizes = new int[2];
                Cells.rv(p11.getMechanismInfo(slot, m, flags, sizes), "C_GetMechanismInfo");
                long max = number(pm, "max");
                same((int) number(pm, "min"), sizes[0], m + " minimum key size");
                same((int) (Long.compareUnsigned(max, 0x80000000L) > 0 ? 0x80000000L : max), sizes[1], m + " maximum key size");
                same(number(pm, "flags") & MECHANISM_FLAG_BITS, flags[0].toBits(), m + " flags");
                compared++;
            }
        }
        return compared;
    }
}
