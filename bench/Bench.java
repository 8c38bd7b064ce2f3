import java.io.*;
import java.nio.charset.StandardCharsets;
import java.nio.file.*;
import java.util.*;

import quorvel.pkcs.pkcs11.*;
import quorvel.pkcs.pkcs11.jni.NativeCryptokiFunctions;
import sun.security.pkcs11.wrapper.CK_ATTRIBUTE;
import sun.security.pkcs11.wrapper.CK_C_INITIALIZE_ARGS;
import sun.security.pkcs11.wrapper.CK_MECHANISM;
import sun.security.pkcs11.wrapper.PKCS11;
import sun.security.pkcs11.wrapper.PKCS11Constants;

/**
 * Time per operation of libcorvale, of OpenJDK's PKCS#11 wrapper and of the
 * same module calls made directly from C, on SoftHSM2; and, on the no-op
 * module, instructions per operation of libcorvale, of the floor library
 * and of OpenJDK's wrapper, and how each scales to two threads.
 *
 * <p>{@code Bench driver ...} starts one long-lived process per side (two
 * JVMs, two C processes), warms them up, then runs measured rounds: in each
 * round every side runs every operation once, in an order that rotates from
 * round to round, so a swing of the machine's load hits all sides alike.
 * Overheads are taken per round (bridge minus its C floor, measured seconds
 * apart) and summarised by median and interquartile range.
 *
 * <p>{@code Bench worker corvale|floor|openjdk MODULE SLOT PIN} is one Java
 * side; it reads {@code run OP N} lines and answers with the nanoseconds
 * taken. The floor is libcorvale's Java class over bench/floor/floor.c.
 *
 * <p>{@code Bench times OUTFILE ROUNDS BATCH_MS WARM_MS} then three worker
 * commands, each ending with "--": the same rounds for the three Java sides
 * on the no-op module; median ns per operation into OUTFILE.
 *
 * <p>{@code Bench count SIDE MODULE WARM ITERATIONS} (under callgrind): per
 * operation, WARM calls, then the counters zeroed, ITERATIONS calls, and the
 * counters dumped under the operation's name (all operations, or those
 * listed). {@code Bench countreport DIR [OP,...]} reads the dumps of the two
 * runs and writes the table.
 *
 * <p>{@code Bench threads SIDE MODULE}: calls per second of one thread and
 * of two threads at once, each on its own session.
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
        switch (args.length > 0 ? args[0] : "") {
            case "worker": worker(args); break;
            case "driver": driver(args); break;
            case "times": times(args); break;
            case "count": count(args); break;
            case "countreport":
                System.exit(CountReport.write(Paths.get(args[1]), args.length > 2 ? args[2].split(",") : OPS) ? 0 : 1);
                break;
            case "threads": Scaling.run(args[1], args[2]); break;
            default:
                System.err.println("usage: Bench driver|times|count|countreport|threads|worker ... (see the class comment)");
                System.exit(2);
        }
    }

    // ---- Java sides --------------------------------------------------------------------

    /** One operation; OpenJDK's wrapper throws checked exceptions. */
    interface Op {
        void run() throws Exception;
    }

    interface Side {
        Op op(String name);
    }

    /**
     * Runs op n times. Every measured loop goes through here, and prime()
     * first makes its call site see three kinds of Op: the call is then the
     * same virtual call for every operation, whichever ran before (a site
     * that had seen one kind would inline it, and counts would depend on the
     * order of the operations).
     */
    static void repeat(Op op, long n) throws Exception {
        for (long i = 0; i < n; ++i) op.run();
    }

    static void prime() throws Exception {
        Op[] kinds = {() -> { }, () -> { }, () -> { }};
        for (int round = 0; round < 400; ++round) {
            for (Op k : kinds) repeat(k, 100);
        }
    }

    /** A side on MODULE (a path); the no-op module needs no login and has no real keys. */
    static Side side(String side, String module, long slot, String pin) throws Exception {
        boolean noop = Paths.get(module).getFileName().toString().equals("libnoop.so");
        switch (side) {
            case "corvale":
            case "floor":  // the same Java class; -Dcorvale.library chooses the natives
                return new CorvaleSide(module, slot, pin, noop);
            case "openjdk":
                return new JdkSide(module, slot, pin, noop);
            default:
                throw new IllegalArgumentException(side);
        }
    }

    static void worker(String[] args) throws Exception {
        Side s = side(args[1], args[2], Long.parseLong(args[3]), args[4]);
        BufferedReader in = new BufferedReader(new InputStreamReader(System.in, StandardCharsets.UTF_8));
        PrintStream out = new PrintStream(new FileOutputStream(FileDescriptor.out), true, "UTF-8");
        prime();
        out.println("ready");
        String line;
        while ((line = in.readLine()) != null && line.startsWith("run ")) {
            String[] w = line.split(" ");
            Op op = s.op(w[1]);
            long n = Long.parseLong(w[2]);
            long t0 = System.nanoTime();
            repeat(op, n);
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

        /** The module by file name, "lib" NAME ".so", found through LD_LIBRARY_PATH. */
        CorvaleSide(String module, long slotId, String pin, boolean noop) {
            String file = Paths.get(module).getFileName().toString();
            String name = file.substring(3, file.length() - 3);
            if (p11.doInitialize(name) != 1) fail("doInitialize", name);
            slot = new SlotId(slotId);
            OpenSessionResult open = p11.openSession(slot, OpenSessionFlags.readWrite());
            ok(open.getResult(), "openSession");
            session = open.getHandle();
            if (noop) {
                aesKey = new Handle(1);
                ecPrivate = new Handle(3);
                return;
            }
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
        public Op op(String name) {
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

        JdkSide(String module, long slot, String pin, boolean noop) throws Exception {
            // As the SunPKCS11 provider does: with null arguments, or without
            // CKF_OS_LOCKING_OK, OpenJDK wraps every call in a Java lock.
            CK_C_INITIALIZE_ARGS args = new CK_C_INITIALIZE_ARGS();
            args.flags = PKCS11Constants.CKF_OS_LOCKING_OK;
            p11 = PKCS11.getInstance(module, "C_GetFunctionList", args, false);
            this.slot = slot;
            session = p11.C_OpenSession(slot, 6, null, null);
            if (noop) {
                aesKey = 1;
                ecPrivate = 3;
                return;
            }
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

        @Override
        public Op op(String name) {
            CK_MECHANISM sha256 = new CK_MECHANISM(CKM_SHA256), cbcPad = new CK_MECHANISM(CKM_AES_CBC_PAD, new byte[16]);
            CK_MECHANISM ecdsa = new CK_MECHANISM(CKM_ECDSA);
            switch (name) {
                case "random32": {
                    byte[] buffer = new byte[32];
                    return () -> p11.C_GenerateRandom(session, buffer);
                }
                case "digest64":
                case "digest64k": {
                    // OpenJDK's one-shot digest: C_DigestInit and C_Digest in one native.
                    byte[] data = pattern(name.equals("digest64") ? 64 : 65536);
                    byte[] out = new byte[32];
                    return () -> {
                        if (p11.C_DigestSingle(session, sha256, data, 0, data.length, out, 0, 32) != 32) fail("digest", "");
                    };
                }
                case "getAttributes3": {
                    CK_ATTRIBUTE[] t = {new CK_ATTRIBUTE(CKA_CLASS), new CK_ATTRIBUTE(CKA_KEY_TYPE),
                            new CK_ATTRIBUTE(CKA_VALUE_LEN)};
                    return () -> p11.C_GetAttributeValue(session, aesKey, t);
                }
                case "find16": {
                    CK_ATTRIBUTE[] t = {new CK_ATTRIBUTE(CKA_LABEL, FIND_LABEL.toCharArray())};
                    return () -> {
                        p11.C_FindObjectsInit(session, t);
                        if (p11.C_FindObjects(session, 16).length != 16) fail("findObjects", "");
                        p11.C_FindObjectsFinal(session);
                    };
                }
                case "tokenInfo":
                    return () -> p11.C_GetTokenInfo(slot);
                case "encrypt4k": {
                    byte[] data = pattern(4096), out = new byte[4096 + 16];
                    return () -> {
                        p11.C_EncryptInit(session, cbcPad, aesKey);
                        if (p11.C_Encrypt(session, 0, data, 0, data.length, 0, out, 0, out.length) != 4112) fail("encrypt", "");
                    };
                }
                case "signEcdsa": {
                    byte[] data = pattern(32);
                    return () -> {
                        p11.C_SignInit(session, ecdsa, ecPrivate);
                        if (p11.C_Sign(session, data).length != 64) fail("sign", "");
                    };
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

    /** The commands from args[from] on, each ending with "--". */
    static List<List<String>> commands(String[] args, int from) {
        List<List<String>> commands = new ArrayList<>();
        List<String> current = new ArrayList<>();
        for (int i = from; i < args.length; ++i) {
            if (args[i].equals("--")) {
                commands.add(current);
                current = new ArrayList<>();
            } else {
                current.add(args[i]);
            }
        }
        return commands;
    }

    static Proc[] start(String[] names, List<List<String>> commands) throws IOException {
        if (commands.size() != names.length) throw new IllegalArgumentException("need " + names.length + " commands");
        Proc[] procs = new Proc[names.length];
        for (int i = 0; i < procs.length; ++i) procs[i] = new Proc(names[i], commands.get(i));
        return procs;
    }

    /**
     * Nanoseconds per operation, [operation][side][round]. Warm-up: each
     * side's batch grows until it takes warmMs; its last time per operation
     * sizes the measured batches of batchMs.
     */
    static double[][][] measure(Proc[] procs, int rounds, double batchMs, double warmMs) throws Exception {
        long[][] n = new long[OPS.length][procs.length];
        for (int o = 0; o < OPS.length; ++o) {
            for (int s = 0; s < procs.length; ++s) {
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

        double[][][] t = new double[OPS.length][procs.length][rounds];
        for (int r = 0; r < rounds; ++r) {
            for (int o = 0; o < OPS.length; ++o) {
                for (int j = 0; j < procs.length; ++j) {
                    int s = (j + r + o) % procs.length;
                    t[o][s][r] = procs[s].run(OPS[o], n[o][s]);
                }
            }
            System.err.printf("round %d of %d%n", r + 1, rounds);
        }
        for (Proc p : procs) p.quit();
        return t;
    }

    /** driver OUTDIR ROUNDS BATCH_MS WARM_MS then the four commands, each ending with "--". */
    static void driver(String[] args) throws Exception {
        Path outDir = Paths.get(args[1]);
        int rounds = Integer.parseInt(args[2]);
        Proc[] procs = start(SIDES, commands(args, 5));
        double[][][] t = measure(procs, rounds, Double.parseDouble(args[3]), Double.parseDouble(args[4]));
        report(outDir, t, rounds);
    }

    static final String[] COUNT_SIDES = {"corvale", "floor", "openjdk"};

    /** times OUTFILE ROUNDS BATCH_MS WARM_MS then the three Java sides' commands: median ns per operation. */
    static void times(String[] args) throws Exception {
        Proc[] procs = start(COUNT_SIDES, commands(args, 5));
        double[][][] t = measure(procs, Integer.parseInt(args[2]), Double.parseDouble(args[3]),
                Double.parseDouble(args[4]));
        StringBuilder out = new StringBuilder("operation," + String.join(",", COUNT_SIDES) + "\n");
        for (int o = 0; o < OPS.length; ++o) {
            out.append(OPS[o]);
            for (int s = 0; s < COUNT_SIDES.length; ++s) out.append(String.format(Locale.ROOT, ",%.1f", quantile(t[o][s], 0.5)));
            out.append('\n');
        }
        Files.writeString(Paths.get(args[1]), out.toString());
    }

    // ---- instruction counts (run under callgrind) ------------------------------------

    static native void zeroCounts();

    static native void dumpCounts(String what);

    /** count SIDE MODULE WARM ITERATIONS [OP,...]: one callgrind dump per operation, named "OP ITERATIONS". */
    static void count(String[] args) throws Exception {
        System.load(System.getProperty("bench.countlib"));
        Side side = side(args[1], args[2], 0, "");
        long warm = Long.parseLong(args[3]), iterations = Long.parseLong(args[4]);
        prime();
        for (String name : args.length > 5 ? args[5].split(",") : OPS) {
            Op op = side.op(name);
            String label = name + " " + iterations;  // its first concatenation links a bootstrap method
            repeat(op, warm);
            System.gc();  // no collection inside the counted loop
            zeroCounts();
            repeat(op, iterations);
            dumpCounts(label);
        }
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

    /** The callgrind dumps of two runs, per operation and side, as one table beside the ns figures. */
    static final class CountReport {
        /** Differences between the two runs above this share fail the report. */
        static final double AGREE = 0.005;

        /** Instructions per operation by operation name, from one side's dumps: "OP ITERATIONS" and its summary. */
        static Map<String, Double> read(Path dir) throws IOException {
            Map<String, Double> perOp = new HashMap<>();
            try (DirectoryStream<Path> files = Files.newDirectoryStream(dir, "callgrind.out.*")) {
                for (Path f : files) {
                    String what = null;
                    long summary = -1;
                    for (String line : Files.readAllLines(f)) {
                        if (line.startsWith("desc: Trigger: Client Request: ")) what = line.substring(31).trim();
                        if (line.startsWith("summary: ")) summary = Long.parseLong(line.substring(9).trim());
                    }
                    if (what == null || summary < 0) continue;  // the dump at exit
                    String[] w = what.split(" ");
                    // With --separate-threads each thread has its own file; the loop's thread has the most.
                    perOp.merge(w[0], summary / Double.parseDouble(w[1]), Math::max);
                }
            }
            return perOp;
        }

        static boolean write(Path dir, String[] names) throws IOException {
            int sides = COUNT_SIDES.length;
            int[] ops = new int[names.length];
            for (int i = 0; i < names.length; ++i) {
                ops[i] = Arrays.asList(OPS).indexOf(names[i]);
                if (ops[i] < 0) throw new IllegalArgumentException("no operation " + names[i]);
            }
            double[][][] ir = new double[2][OPS.length][sides];
            double worst = 0;
            String worstAt = "";
            for (int run = 0; run < 2; ++run) {
                for (int s = 0; s < sides; ++s) {
                    Map<String, Double> m = read(dir.resolve("run" + (run + 1)).resolve(COUNT_SIDES[s]));
                    for (int o : ops) {
                        Double v = m.get(OPS[o]);
                        if (v == null) throw new IOException("no count for " + OPS[o] + " of " + COUNT_SIDES[s]);
                        ir[run][o][s] = v;
                    }
                }
            }
            for (int o : ops) {
                for (int s = 0; s < sides; ++s) {
                    double d = Math.abs(ir[0][o][s] - ir[1][o][s]) / ir[0][o][s];
                    if (d > worst) {
                        worst = d;
                        worstAt = OPS[o] + ", " + COUNT_SIDES[s];
                    }
                }
            }
            double[][] ns = new double[OPS.length][sides];
            Path times = dir.resolve("noop-ns.csv");
            boolean timed = Files.exists(times);
            if (timed) {
                for (String line : Files.readAllLines(times)) {
                    String[] f = line.split(",");
                    for (int o = 0; o < OPS.length; ++o) {
                        if (!f[0].equals(OPS[o])) continue;
                        for (int s = 0; s < sides; ++s) ns[o][s] = Double.parseDouble(f[s + 1]);
                    }
                }
            }
            StringBuilder table = new StringBuilder();
            StringBuilder csv = new StringBuilder("operation,corvale_ir,floor_ir,openjdk_ir,corvale_over_floor,"
                    + "floor_over_openjdk,corvale_ns,floor_ns,openjdk_ns\n");
            table.append(String.format("%-26s %9s %9s %9s %8s %8s %9s %9s %9s%n", "per operation (no-op module)",
                    "Ir corv.", "Ir floor", "Ir jdk", "corv/fl", "fl/jdk", "ns corv.", "ns floor", "ns jdk"));
            for (int o : ops) {
                double[] a = new double[sides];
                for (int s = 0; s < sides; ++s) a[s] = (ir[0][o][s] + ir[1][o][s]) / 2;
                table.append(String.format(Locale.ROOT, "%-26s %9.0f %9.0f %9.0f %7.3fx %7.2fx", LABELS[o], a[0], a[1],
                        a[2], a[0] / a[1], a[1] / a[2]));
                table.append(timed ? String.format(Locale.ROOT, " %9.0f %9.0f %9.0f%n", ns[o][0], ns[o][1], ns[o][2])
                        : String.format("%n"));
                csv.append(String.format(Locale.ROOT, "%s,%.0f,%.0f,%.0f,%.4f,%.4f,%.0f,%.0f,%.0f%n", LABELS[o], a[0],
                        a[1], a[2], a[0] / a[1], a[1] / a[2], ns[o][0], ns[o][1], ns[o][2]));
            }
            boolean agree = worst <= AGREE;
            table.append(String.format(Locale.ROOT, "%nIr: callgrind instructions per operation, mean of two runs; "
                    + "the runs differ by at most %.3f%% (%s)%s.%n", worst * 100, worstAt,
                    agree ? "" : " -- MORE THAN " + AGREE * 100 + "%, the figures are not stable"));
            table.append("corv/fl: libcorvale over the floor (the contract's own cost); fl/jdk: the floor over OpenJDK's "
                    + "wrapper.\n");
            Files.writeString(dir.resolve("count.txt"), table.toString());
            Files.writeString(dir.resolve("count.csv"), csv.toString());
            System.out.print(table);
            System.out.println("wrote " + dir.resolve("count.txt") + " and count.csv");
            return agree;
        }
    }

    /**
     * Whether a side takes a lock or contends: calls per second of two
     * threads together over those of one, each thread with its own binding
     * and session, on the no-op module (which shares nothing between
     * threads). The machine is noisy, so the ratio is measured several times
     * and the best counts; a window in which other processes took CPU time is
     * shown in parentheses (a lock would leave the CPU idle, not busy).
     */
    static final class Scaling {
        static final int ATTEMPTS = 12;
        static final long WINDOW = 200_000_000L;
        /** CPU time of other processes that spoils a window, as a share of one processor. */
        static final double QUIET = 0.1;

        final Op[][] ops;  // [thread] = {random32, digest64}

        Scaling(Side[] sides) {
            ops = new Op[sides.length][];
            for (int t = 0; t < sides.length; ++t) ops[t] = new Op[] {sides[t].op("random32"), sides[t].op("digest64")};
        }

        static void run(String side, String module) throws Exception {
            Side[] sides = {side(side, module, 0, ""), side(side, module, 0, "")};
            System.out.println(side + ": " + new Scaling(sides).measure());
        }

        /** generateRandom 32 B and digest 64 B (init and digest) until the deadline; the pairs done. */
        long work(Op[] op, long deadline) throws Exception {
            long rounds = 0;
            do {
                for (int i = 0; i < 64; ++i) {
                    op[0].run();
                    op[1].run();
                }
                rounds += 64;
            } while (System.nanoTime() < deadline);
            return rounds;
        }

        /** Busy clock ticks of the whole machine and of this process; null where /proc is missing. */
        static long[] ticks() {
            try {
                String[] cpu = Files.readAllLines(Paths.get("/proc/stat")).get(0).trim().split("\\s+");
                long busy = 0;
                for (int i = 1; i < cpu.length && i <= 8; ++i) {
                    if (i != 4 && i != 5) busy += Long.parseLong(cpu[i]);  // not idle, not iowait
                }
                String self = Files.readString(Paths.get("/proc/self/stat"));
                String[] f = self.substring(self.lastIndexOf(')') + 2).split(" ");
                return new long[] {busy, Long.parseLong(f[11]) + Long.parseLong(f[12])};  // utime, stime
            } catch (IOException | RuntimeException e) {
                return null;
            }
        }

        /** Whether others used the CPU between the two readings (100 ticks a second). */
        static boolean disturbed(long[] before, long[] after, long windowNanos) {
            if (before == null || after == null) return false;
            long others = (after[0] - before[0]) - (after[1] - before[1]);
            return others > QUIET * windowNanos / 1e7;
        }

        /** Operations per second of n threads together over the same window. */
        double rate(int n, long windowNanos) throws Exception {
            long[] done = new long[n];
            Throwable[] failure = new Throwable[1];
            long[] start = new long[1];
            java.util.concurrent.CyclicBarrier go = new java.util.concurrent.CyclicBarrier(n,
                    () -> start[0] = System.nanoTime());
            Thread[] threads = new Thread[n];
            for (int t = 0; t < n; ++t) {
                int id = t;
                threads[t] = new Thread(() -> {
                    try {
                        go.await();
                        done[id] = work(ops[id], start[0] + windowNanos);
                    } catch (Throwable e) {
                        synchronized (failure) {
                            failure[0] = e;
                        }
                    }
                });
                threads[t].start();
            }
            for (Thread t : threads) t.join();
            if (failure[0] != null) throw new IllegalStateException("a worker failed", failure[0]);
            long total = 0;
            for (long d : done) total += d;
            return total * 1e9 / windowNanos;
        }

        String measure() throws Exception {
            rate(1, 300_000_000L);  // warm-up: compile the loop and the natives' Java paths
            rate(2, 300_000_000L);
            // {ratio, one, two} of each quiet window
            List<double[]> quiet = new ArrayList<>();
            List<Double> busy = new ArrayList<>();
            StringBuilder seen = new StringBuilder();
            for (int i = 0; i < ATTEMPTS; ++i) {
                long[] t0 = ticks();
                double one = rate(1, WINDOW);
                long[] t1 = ticks();
                double two = rate(2, WINDOW);
                long[] t2 = ticks();
                double ratio = two / one;
                if (disturbed(t0, t1, WINDOW) || disturbed(t1, t2, WINDOW)) {
                    seen.append(String.format(Locale.ROOT, " (%.2f)", ratio));
                    busy.add(ratio);
                    continue;
                }
                quiet.add(new double[] {ratio, one, two});
                seen.append(String.format(Locale.ROOT, " %.2f", ratio));
            }
            // The median: a window whose one-thread half was slowed (the VM's
            // own threads, the host) gives a ratio above two, which says
            // nothing about the bridge.
            if (quiet.isEmpty()) {
                Collections.sort(busy);
                return String.format(Locale.ROOT, "no quiet window, median two/one %.2f on a busy machine; ratios:%s",
                        busy.get(busy.size() / 2), seen);
            }
            quiet.sort(Comparator.comparingDouble(w -> w[0]));
            double[] median = quiet.get(quiet.size() / 2);
            return String.format(Locale.ROOT, "median two/one %.2f (%.0f and %.0f operations/s) of %d quiet windows of %d;"
                    + " ratios:%s", median[0], median[1], median[2], quiet.size(), ATTEMPTS, seen);
        }
    }
}
