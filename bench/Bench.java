import java.io.*;
import java.nio.charset.StandardCharsets;
import java.nio.file.*;
import java.util.*;

import quorvel.pkcs.pkcs11.*;
import quorvel.pkcs.pkcs11.jni.NativeCryptokiFunctions;
import sun.security.pkcs11.wrapper.CK_ATTRIBUTE;
import sun.security.pkcs11.wrapper.CK_MECHANISM;
import sun.security.pkcs11.wrapper.PKCS11;

/**
 * Time per operation of libcorvale, of OpenJDK's PKCS#11 wrapper and of the
 * same module calls made directly from C, on SoftHSM2.
 *
 * <p>{@code Bench driver ...} starts one long-lived process per side (two
 * JVMs, two C processes), warms them up, then runs measured rounds: in each
 * round every side runs every operation once, in an order that rotates from
 * round to round, so a swing of the machine's load hits all sides alike.
 * Overheads are taken per round (bridge minus its C floor, measured seconds
 * apart) and summarised by median and interquartile range.
 *
 * <p>{@code Bench worker corvale|openjdk MODULE SLOT PIN} is one Java side;
 * it reads {@code run OP N} lines and answers with the nanoseconds taken.
 */
public final class Bench {

    static final String[] OPS = {"random32", "digest64", "digest64k", "getAttributes3", "find16", "tokenInfo",
            "encrypt4k", "signEcdsa"};
    static final String[] LABELS = {"generateRandom 32 B", "digest SHA-256 64 B", "digest SHA-256 64 KiB",
            "getAttributeValue x3", "find 16 objects", "getTokenInfo", "encrypt AES-CBC-PAD 4 KiB",
            "sign ECDSA P-256 32 B"};
    static final String[] SIDES = {"corvale", "openjdk", "c-corvale", "c-openjdk"};
    /** The operations where libcorvale asks for the output length first (OpenJDK passes a buffer). */
    static final boolean[] QUERIED = {false, true, true, false, false, false, true, true};

    static final long CKM_SHA256 = 0x250, CKM_AES_KEY_GEN = 0x1080, CKM_AES_CBC_PAD = 0x1085;
    static final long CKM_EC_KEY_PAIR_GEN = 0x1040, CKM_ECDSA = 0x1041;
    static final long CKA_CLASS = 0, CKA_TOKEN = 1, CKA_PRIVATE = 2, CKA_LABEL = 3, CKA_VALUE = 0x11;
    static final long CKA_KEY_TYPE = 0x100, CKA_ENCRYPT = 0x104, CKA_SIGN = 0x108, CKA_VERIFY = 0x10A;
    static final long CKA_VALUE_LEN = 0x161, CKA_EC_PARAMS = 0x180, CKO_DATA = 0;
    static final byte[] P256 = {0x06, 0x08, 0x2A, (byte) 0x86, 0x48, (byte) 0xCE, 0x3D, 0x03, 0x01, 0x07};
    static final String FIND_LABEL = "bench-find";

    public static void main(String[] args) throws Exception {
        if (args.length > 0 && args[0].equals("worker")) {
            worker(args);
        } else if (args.length > 0 && args[0].equals("driver")) {
            driver(args);
        } else {
            System.err.println("usage: Bench driver OUTDIR ROUNDS BATCH_MS JAVA_CMD... -- C_CMD...  |  Bench worker SIDE MODULE SLOT PIN");
            System.exit(2);
        }
    }

    // ---- Java sides --------------------------------------------------------------------

    interface Side {
        Runnable op(String name);
    }

    static void worker(String[] args) throws Exception {
        String side = args[1], module = args[2], pin = args[4];
        long slot = Long.parseLong(args[3]);
        Side s = side.equals("corvale") ? new CorvaleSide(slot, pin) : new JdkSide(module, slot, pin);
        BufferedReader in = new BufferedReader(new InputStreamReader(System.in, StandardCharsets.UTF_8));
        PrintStream out = new PrintStream(new FileOutputStream(FileDescriptor.out), true, "UTF-8");
        out.println("ready");
        String line;
        while ((line = in.readLine()) != null && line.startsWith("run ")) {
            String[] w = line.split(" ");
            Runnable op = s.op(w[1]);
            long n = Long.parseLong(w[2]);
            long t0 = System.nanoTime();
            for (long i = 0; i < n; ++i) op.run();
            out.println(System.nanoTime() - t0);
        }
    }

    static void fail(String what, Object detail) {
        throw new IllegalStateException(what + ": " + detail);
    }

    static byte[] pattern(int n) {
        byte[] b = new byte[n];
        for (int i = 0; i < n; ++i) b[i] = (byte) i;
        return b;
    }

    static final class CorvaleSide implements Side {
        final NativeCryptokiFunctions p11 = new NativeCryptokiFunctions();
        final SessionHandle session;
        final SlotId slot;
        final Handle aesKey, ecPrivate;

        static byte[] bool(boolean v) {
            byte[] b = new byte[NativeCryptokiFunctions.getBoolSize()];
            NativeCryptokiFunctions.encodeBool(v, b);
            return b;
        }

        static byte[] ulong(long v) {
            byte[] b = new byte[NativeCryptokiFunctions.getULongSize()];
            NativeCryptokiFunctions.encodeULong(v, b);
            return b;
        }

        static TemplateAttribute a(long type, byte[] value) {
            return new TemplateAttribute(new AttributeType(type), value);
        }

        static void ok(ReturnValue rv, String what) {
            if (rv == null || rv.getValue() != 0) fail(what, rv);
        }

        CorvaleSide(long slotId, String pin) {
            if (p11.doInitialize("softhsm2") != 1) fail("doInitialize", "softhsm2");
            slot = new SlotId(slotId);
            OpenSessionResult open = p11.openSession(slot, OpenSessionFlags.readWrite());
            ok(open.getResult(), "openSession");
            session = open.getHandle();
            ok(p11.login(session, UserType.USER, pin), "login");
            GenerateKeyResult key = p11.generateKeyNative(session, new MechanismType(CKM_AES_KEY_GEN), null,
                    new TemplateAttribute[] {a(CKA_TOKEN, bool(false)), a(CKA_ENCRYPT, bool(true)),
                            a(CKA_VALUE_LEN, ulong(32))});
            ok(key.getResult(), "generateKey");
            aesKey = key.getKeyHandle();
            GenerateKeyPairResult pair = p11.generateKeyPairNative(session, new MechanismType(CKM_EC_KEY_PAIR_GEN),
                    null, new TemplateAttribute[] {a(CKA_TOKEN, bool(false)), a(CKA_VERIFY, bool(true)),
                            a(CKA_EC_PARAMS, P256)},
                    new TemplateAttribute[] {a(CKA_TOKEN, bool(false)), a(CKA_SIGN, bool(true)),
                            a(CKA_PRIVATE, bool(true))});
            ok(pair.getResult(), "generateKeyPair");
            ecPrivate = pair.getPrivateKeyHandle();
            for (int i = 0; i < 16; ++i) {
                CreateObjectResult r = p11.createObjectNative(session, new TemplateAttribute[] {
                        a(CKA_CLASS, ulong(CKO_DATA)), a(CKA_TOKEN, bool(false)),
                        a(CKA_LABEL, FIND_LABEL.getBytes(StandardCharsets.UTF_8)), a(CKA_VALUE, new byte[] {(byte) i})});
                ok(r.getResult(), "createObject");
            }
        }

        @Override
        public Runnable op(String name) {
            MechanismType sha256 = new MechanismType(CKM_SHA256), cbcPad = new MechanismType(CKM_AES_CBC_PAD);
            MechanismType ecdsa = new MechanismType(CKM_ECDSA);
            byte[] iv = new byte[16];
            switch (name) {
                case "random32": {
                    byte[] buffer = new byte[32];
                    return () -> ok(p11.generateRandom(session, buffer), "generateRandom");
                }
                case "digest64":
                case "digest64k": {
                    byte[] data = pattern(name.equals("digest64") ? 64 : 65536);
                    return () -> {
                        ok(p11.digestInit(session, sha256, null), "digestInit");
                        DigestResult r = p11.digest(session, data, 0, data.length);
                        if (r.getData().length != 32) fail("digest", r.getResult());
                    };
                }
                case "getAttributes3": {
                    TemplateAttribute[] t = {new TemplateAttribute(new AttributeType(CKA_CLASS)),
                            new TemplateAttribute(new AttributeType(CKA_KEY_TYPE)),
                            new TemplateAttribute(new AttributeType(CKA_VALUE_LEN))};
                    return () -> ok(p11.getAttributeValueNative(session, aesKey, t), "getAttributeValue");
                }
                case "find16": {
                    TemplateAttribute[] t = {a(CKA_LABEL, FIND_LABEL.getBytes(StandardCharsets.UTF_8))};
                    Handle[] found = new Handle[16];
                    return () -> {
                        ok(p11.findObjectsInitNative(session, t), "findObjectsInit");
                        FindObjectsResult r = p11.findObjects(session, found);
                        if (r.getNumObjects() != 16) fail("findObjects", r.getResult());
                        ok(p11.findObjectsFinal(session), "findObjectsFinal");
                    };
                }
                case "tokenInfo":
                    return () -> ok(p11.getTokenInfo(slot).getResult(), "getTokenInfo");
                case "encrypt4k": {
                    byte[] data = pattern(4096);
                    return () -> {
                        ok(p11.encryptInit(session, cbcPad, iv, aesKey), "encryptInit");
                        CipherResult r = p11.encrypt(session, data, 0, data.length);
                        if (r.getData().length != 4112) fail("encrypt", r.getResult());
                    };
                }
                case "signEcdsa": {
                    byte[] data = pattern(32);
                    return () -> {
                        ok(p11.signInit(session, ecdsa, null, ecPrivate), "signInit");
                        SignResult r = p11.sign(session, data, 0, data.length);
                        if (r.getData().length != 64) fail("sign", r.getResult());
                    };
                }
                default:
                    throw new IllegalArgumentException(name);
            }
        }
    }

    static final class JdkSide implements Side {
        final PKCS11 p11;
        final long session, slot, aesKey, ecPrivate;

        JdkSide(String module, long slot, String pin) throws Exception {
            // Null arguments, as libcorvale initialises a generic module.
            p11 = PKCS11.getInstance(module, "C_GetFunctionList", null, false);
            this.slot = slot;
            session = p11.C_OpenSession(slot, 6, null, null);
            p11.C_Login(session, 1, pin.toCharArray());
            aesKey = p11.C_GenerateKey(session, new CK_MECHANISM(CKM_AES_KEY_GEN), new CK_ATTRIBUTE[] {
                    new CK_ATTRIBUTE(CKA_TOKEN, false), new CK_ATTRIBUTE(CKA_ENCRYPT, true),
                    new CK_ATTRIBUTE(CKA_VALUE_LEN, 32L)});
            long[] pair = p11.C_GenerateKeyPair(session, new CK_MECHANISM(CKM_EC_KEY_PAIR_GEN),
                    new CK_ATTRIBUTE[] {new CK_ATTRIBUTE(CKA_TOKEN, false), new CK_ATTRIBUTE(CKA_VERIFY, true),
                            new CK_ATTRIBUTE(CKA_EC_PARAMS, P256)},
                    new CK_ATTRIBUTE[] {new CK_ATTRIBUTE(CKA_TOKEN, false), new CK_ATTRIBUTE(CKA_SIGN, true),
                            new CK_ATTRIBUTE(CKA_PRIVATE, true)});
            ecPrivate = pair[1];
            for (int i = 0; i < 16; ++i) {
                p11.C_CreateObject(session, new CK_ATTRIBUTE[] {new CK_ATTRIBUTE(CKA_CLASS, CKO_DATA),
                        new CK_ATTRIBUTE(CKA_TOKEN, false), new CK_ATTRIBUTE(CKA_LABEL, FIND_LABEL.toCharArray()),
                        new CK_ATTRIBUTE(CKA_VALUE, new byte[] {(byte) i})});
            }
        }

        interface Call {
            void run() throws Exception;
        }

        static Runnable wrap(Call c) {
            return () -> {
                try {
                    c.run();
                } catch (Exception e) {
                    throw new IllegalStateException(e);
                }
            };
        }

        @Override
        public Runnable op(String name) {
            CK_MECHANISM sha256 = new CK_MECHANISM(CKM_SHA256), cbcPad = new CK_MECHANISM(CKM_AES_CBC_PAD, new byte[16]);
            CK_MECHANISM ecdsa = new CK_MECHANISM(CKM_ECDSA);
            switch (name) {
                case "random32": {
                    byte[] buffer = new byte[32];
                    return wrap(() -> p11.C_GenerateRandom(session, buffer));
                }
                case "digest64":
                case "digest64k": {
                    // OpenJDK's one-shot digest: C_DigestInit and C_Digest in one native.
                    byte[] data = pattern(name.equals("digest64") ? 64 : 65536);
                    byte[] out = new byte[32];
                    return wrap(() -> {
                        if (p11.C_DigestSingle(session, sha256, data, 0, data.length, out, 0, 32) != 32) fail("digest", "");
                    });
                }
                case "getAttributes3": {
                    CK_ATTRIBUTE[] t = {new CK_ATTRIBUTE(CKA_CLASS), new CK_ATTRIBUTE(CKA_KEY_TYPE),
                            new CK_ATTRIBUTE(CKA_VALUE_LEN)};
                    return wrap(() -> p11.C_GetAttributeValue(session, aesKey, t));
                }
                case "find16": {
                    CK_ATTRIBUTE[] t = {new CK_ATTRIBUTE(CKA_LABEL, FIND_LABEL.toCharArray())};
                    return wrap(() -> {
                        p11.C_FindObjectsInit(session, t);
                        if (p11.C_FindObjects(session, 16).length != 16) fail("findObjects", "");
                        p11.C_FindObjectsFinal(session);
                    });
                }
                case "tokenInfo":
                    return wrap(() -> p11.C_GetTokenInfo(slot));
                case "encrypt4k": {
                    byte[] data = pattern(4096), out = new byte[4096 + 16];
                    return wrap(() -> {
                        p11.C_EncryptInit(session, cbcPad, aesKey);
                        if (p11.C_Encrypt(session, 0, data, 0, data.length, 0, out, 0, out.length) != 4112) fail("encrypt", "");
                    });
                }
                case "signEcdsa": {
                    byte[] data = pattern(32);
                    return wrap(() -> {
                        p11.C_SignInit(session, ecdsa, ecPrivate);
                        if (p11.C_Sign(session, data).length != 64) fail("sign", "");
                    });
                }
                default:
                    throw new IllegalArgumentException(name);
            }
        }
    }

    // ---- driver -------------------------------------------------------------------------

    static final class Proc {
        final String name;
        final Process process;
        final BufferedReader in;
        final PrintWriter out;

        Proc(String name, List<String> command) throws IOException {
            this.name = name;
            process = new ProcessBuilder(command).redirectError(ProcessBuilder.Redirect.INHERIT).start();
            in = new BufferedReader(new InputStreamReader(process.getInputStream(), StandardCharsets.UTF_8));
            out = new PrintWriter(new OutputStreamWriter(process.getOutputStream(), StandardCharsets.UTF_8), true);
            String ready = in.readLine();
            if (!"ready".equals(ready)) throw new IOException(name + " did not start (" + ready + ")");
        }

        /** Nanoseconds per operation over n iterations. */
        double run(String op, long n) throws IOException {
            out.println("run " + op + " " + n);
            String answer = in.readLine();
            if (answer == null) throw new IOException(name + " ended during " + op);
            return Long.parseLong(answer.trim()) / (double) n;
        }

        void quit() throws InterruptedException {
            out.println("quit");
            out.close();
            process.waitFor();
        }
    }

    /** driver OUTDIR ROUNDS BATCH_MS WARM_MS then the four commands, each ending with "--". */
    static void driver(String[] args) throws Exception {
        Path outDir = Paths.get(args[1]);
        int rounds = Integer.parseInt(args[2]);
        double batchMs = Double.parseDouble(args[3]);
        double warmMs = Double.parseDouble(args[4]);
        List<List<String>> commands = new ArrayList<>();
        List<String> current = new ArrayList<>();
        for (int i = 5; i < args.length; ++i) {
            if (args[i].equals("--")) {
                commands.add(current);
                current = new ArrayList<>();
            } else {
                current.add(args[i]);
            }
        }
        if (commands.size() != SIDES.length) throw new IllegalArgumentException("need " + SIDES.length + " commands");
        Proc[] procs = new Proc[SIDES.length];
        for (int i = 0; i < procs.length; ++i) procs[i] = new Proc(SIDES[i], commands.get(i));

        // Warm-up: grow each side's batch until it takes warmMs; its last
        // time per operation sizes the measured batches.
        long[][] n = new long[OPS.length][SIDES.length];
        for (int o = 0; o < OPS.length; ++o) {
            for (int s = 0; s < SIDES.length; ++s) {
                long k = 16;
                double elapsed = 0, per = 0;
                long start = System.nanoTime();
                while ((System.nanoTime() - start) / 1e6 < warmMs) {
                    per = procs[s].run(OPS[o], k);
                    elapsed = per * k / 1e6;
                    if (elapsed < batchMs) k *= 2;
                }
                n[o][s] = Math.max(1, (long) (batchMs * 1e6 / per));
            }
            System.err.printf("warmed up %s%n", OPS[o]);
        }

        double[][][] t = new double[OPS.length][SIDES.length][rounds];
        for (int r = 0; r < rounds; ++r) {
            for (int o = 0; o < OPS.length; ++o) {
                for (int j = 0; j < SIDES.length; ++j) {
                    int s = (j + r + o) % SIDES.length;
                    t[o][s][r] = procs[s].run(OPS[o], n[o][s]);
                }
            }
            System.err.printf("round %d of %d%n", r + 1, rounds);
        }
        for (Proc p : procs) p.quit();
        report(outDir, t, rounds);
    }

    static double quantile(double[] values, double q) {
        double[] v = values.clone();
        Arrays.sort(v);
        double pos = q * (v.length - 1);
        int lo = (int) Math.floor(pos), hi = (int) Math.ceil(pos);
        return v[lo] + (v[hi] - v[lo]) * (pos - lo);
    }

    static final class Stat {
        final double median, q1, q3;

        Stat(double[] v) {
            median = quantile(v, 0.5);
            q1 = quantile(v, 0.25);
            q3 = quantile(v, 0.75);
        }

        double halfIqr() {
            return (q3 - q1) / 2;
        }
    }

    static double[] minus(double[] a, double[] b) {
        double[] d = new double[a.length];
        for (int i = 0; i < a.length; ++i) d[i] = a[i] - b[i];
        return d;
    }

    static void report(Path outDir, double[][][] t, int rounds) throws IOException {
        Files.createDirectories(outDir);
        StringBuilder csv = new StringBuilder(
                "operation,corvale_ns,corvale_iqr,openjdk_ns,openjdk_iqr,c_corvale_calls_ns,c_openjdk_calls_ns,"
                        + "length_query_ns,corvale_overhead_ns,corvale_overhead_iqr,openjdk_overhead_ns,"
                        + "openjdk_overhead_iqr,overhead_ratio,total_ratio,verdict\n");
        StringBuilder table = new StringBuilder();
        table.append(String.format("%-26s %10s %10s %10s %10s %10s %10s %8s %8s  %s%n", "operation (ns/op)", "corvale",
                "openjdk", "C(corv.)", "C(jdk)", "corv.ovh", "jdk ovh", "ovh x", "total x", "verdict"));
        Stat[][] overheads = new Stat[OPS.length][2];
        double queryTotal = 0;
        String[] verdicts = new String[OPS.length];
        for (int o = 0; o < OPS.length; ++o) {
            Stat[] s = new Stat[SIDES.length];
            for (int i = 0; i < SIDES.length; ++i) s[i] = new Stat(t[o][i]);
            // Per round, each bridge against its own C floor.
            Stat corv = new Stat(minus(t[o][0], t[o][2])), jdk = new Stat(minus(t[o][1], t[o][3]));
            overheads[o][0] = corv;
            overheads[o][1] = jdk;
            double query = QUERIED[o] ? s[2].median - s[3].median : 0;
            queryTotal += query;
            double spread = corv.halfIqr() + jdk.halfIqr();
            double diff = corv.median - jdk.median;
            String verdict = Math.abs(diff) <= spread ? "within spread"
                    : diff < 0 ? "corvale lower" : "corvale HIGHER";
            verdicts[o] = verdict;
            double ratio = corv.median / jdk.median, total = s[0].median / s[1].median;
            table.append(String.format("%-26s %10.0f %10.0f %10.0f %10.0f %10.0f %10.0f %8.2f %8.2f  %s%n", LABELS[o],
                    s[0].median, s[1].median, s[2].median, s[3].median, corv.median, jdk.median, ratio, total, verdict));
            csv.append(String.format(Locale.ROOT, "%s,%.0f,%.0f,%.0f,%.0f,%.0f,%.0f,%.0f,%.0f,%.0f,%.0f,%.0f,%.3f,%.3f,%s%n",
                    LABELS[o], s[0].median, s[0].q3 - s[0].q1, s[1].median, s[1].q3 - s[1].q1, s[2].median,
                    s[3].median, query, corv.median, corv.q3 - corv.q1, jdk.median, jdk.q3 - jdk.q1, ratio, total,
                    verdict));
        }
        Stat random = new Stat(t[0][0]), randomC = new Stat(t[0][2]);
        table.append(String.format("%nrounds %d; overheads are per-round differences (median, IQR in the CSV);%n"
                + "'within spread' = the two overheads differ by less than half their IQRs summed.%n"
                + "generateRandom 32 B: libcorvale %.2fx direct C.%n"
                + "Length queries (C with libcorvale's calls minus C with OpenJDK's, on the four operations that make one), "
                + "summed: %.0f ns.%n",
                rounds, random.median / randomC.median, queryTotal));
        Files.writeString(outDir.resolve("bench.csv"), csv.toString());
        Files.writeString(outDir.resolve("bench.txt"), table.toString());
        String footer = String.format(Locale.ROOT, "generateRandom 32 B: libcorvale %.2fx direct C. Extra length queries "
                + "(C with libcorvale's calls minus C with OpenJDK's), summed over the four digest, encrypt and sign "
                + "operations: %.0f ns. Rounds: %d.",
                random.median / randomC.median, queryTotal, rounds);
        Files.writeString(outDir.resolve("bench.svg"), svg(overheads, t, verdicts, footer));
        System.out.print(table);
        System.out.println("wrote " + outDir.resolve("bench.csv") + ", bench.txt and bench.svg");
    }

    static String esc(String s) {
        return s.replace("&", "&amp;").replace("<", "&lt;");
    }

    /** One row per operation: the two bridges' own overheads, scaled to the row, with IQR whiskers. */
    static String svg(Stat[][] overheads, double[][][] t, String[] verdicts, String footer) {
        int rowH = 62, top = 70, left = 275, barW = 450, width = left + barW + 260;
        int height = top + OPS.length * rowH + 50;
        StringBuilder g = new StringBuilder();
        g.append(String.format("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" "
                + "font-family=\"sans-serif\" font-size=\"12\">%n", width, height));
        g.append("<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n");
        g.append("<text x=\"10\" y=\"22\" font-size=\"16\" font-weight=\"bold\">Bridge overhead per operation, ns "
                + "(bridge minus direct C making the same module calls; SoftHSM2, x64)</text>\n");
        g.append("<rect x=\"10\" y=\"36\" width=\"12\" height=\"12\" fill=\"#2b7bba\"/><text x=\"28\" y=\"46\">libcorvale</text>\n");
        g.append("<rect x=\"110\" y=\"36\" width=\"12\" height=\"12\" fill=\"#e08a2c\"/><text x=\"128\" y=\"46\">OpenJDK wrapper</text>\n");
        g.append("<text x=\"260\" y=\"46\" fill=\"#555\">whiskers: interquartile range over the rounds; right: total time, libcorvale / OpenJDK</text>\n");
        String[] colors = {"#2b7bba", "#e08a2c"};
        for (int o = 0; o < OPS.length; ++o) {
            int y = top + o * rowH;
            double max = 1;
            for (Stat s : overheads[o]) max = Math.max(max, Math.max(s.q3, s.median));
            g.append(String.format("<text x=\"10\" y=\"%d\" font-weight=\"bold\">%s</text>%n", y + 20, esc(LABELS[o])));
            g.append(String.format(Locale.ROOT, "<text x=\"10\" y=\"%d\" font-size=\"10\" fill=\"#555\">ns/op: corvale %.0f, "
                    + "OpenJDK %.0f</text>%n", y + 34, new Stat(t[o][0]).median, new Stat(t[o][1]).median));
            g.append(String.format(Locale.ROOT, "<text x=\"10\" y=\"%d\" font-size=\"10\" fill=\"#555\">direct C: %.0f / %.0f "
                    + "(corvale / OpenJDK calls)</text>%n", y + 46, new Stat(t[o][2]).median, new Stat(t[o][3]).median));
            for (int k = 0; k < 2; ++k) {
                Stat s = overheads[o][k];
                int by = y + 4 + k * 22;
                double w = Math.max(0, s.median) / max * barW;
                g.append(String.format(Locale.ROOT, "<rect x=\"%d\" y=\"%d\" width=\"%.1f\" height=\"18\" fill=\"%s\"/>%n",
                        left, by, w, colors[k]));
                double x1 = left + Math.max(0, s.q1) / max * barW, x3 = left + Math.max(0, s.q3) / max * barW;
                g.append(String.format(Locale.ROOT, "<line x1=\"%.1f\" x2=\"%.1f\" y1=\"%d\" y2=\"%d\" stroke=\"black\"/>%n",
                        x1, x3, by + 9, by + 9));
                g.append(String.format(Locale.ROOT, "<text x=\"%.1f\" y=\"%d\">%.0f</text>%n",
                        left + Math.max(w, x3 - left) + 6, by + 14, s.median));
            }
            double total = new Stat(t[o][0]).median / new Stat(t[o][1]).median;
            g.append(String.format(Locale.ROOT, "<text x=\"%d\" y=\"%d\">total x%.2f</text>%n", left + barW + 80, y + 18,
                    total));
            g.append(String.format("<text x=\"%d\" y=\"%d\" fill=\"%s\">%s</text>%n", left + barW + 80, y + 36,
                    verdicts[o].contains("HIGHER") ? "#c00" : "#070", esc(verdicts[o])));
            g.append(String.format("<line x1=\"10\" x2=\"%d\" y1=\"%d\" y2=\"%d\" stroke=\"#ddd\"/>%n", width - 10,
                    y + rowH - 4, y + rowH - 4));
        }
        int cut = footer.indexOf(". ") + 1;
        g.append(String.format("<text x=\"10\" y=\"%d\" fill=\"#333\">%s</text>%n", height - 30,
                esc(footer.substring(0, cut))));
        g.append(String.format("<text x=\"10\" y=\"%d\" font-size=\"11\" fill=\"#333\">%s</text>%n", height - 12,
                esc(footer.substring(cut).trim())));
        g.append("</svg>\n");
        return g.toString();
    }
}
