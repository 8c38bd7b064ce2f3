package corvaletest;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Map;
import java.util.concurrent.TimeUnit;

/** Runs a class in a child JVM of the same width, for paths that end the process. */
public final class Child {

    public static final class Result {
        public final int exit;
        public final String stdout;
        public final byte[] stderr;

        Result(int exit, String stdout, byte[] stderr) {
            this.exit = exit;
            this.stdout = stdout;
            this.stderr = stderr;
        }

        /**
         * Standard output without the report -Xcheck:jni's periodic signal
         * check sometimes prints while a process exits from native code
         * (the library itself imports no signal function: the exports test).
         */
        public String ownStdout() {
            int at = stdout.indexOf("Warning: SIG");
            return at >= 0 && stdout.startsWith("handler modified!\n", stdout.indexOf(' ', at + 9) + 1)
                    ? stdout.substring(0, at) : stdout;
        }

        public String err() {
            return new String(stderr, StandardCharsets.UTF_8);
        }

        @Override
        public String toString() {
            return "exit " + exit + "\n--- stdout\n" + stdout + "--- stderr\n" + err();
        }
    }

    private final List<String> classpathFirst = new ArrayList<>();
    private final Map<String, String> env = new java.util.HashMap<>();
    private boolean checkJni = true;

    /** Puts a directory of replacement classes before the binding. */
    public Child classpathFirst(String dir) {
        classpathFirst.add(dir);
        return this;
    }

    public Child env(String name, String value) {
        env.put(name, value);
        return this;
    }

    /** A child whose classes are broken on purpose: the VM's own exception is then left pending. */
    public Child withoutCheckJni() {
        checkJni = false;
        return this;
    }

    public Result run(String mainClass, String... args) throws IOException, InterruptedException {
        List<String> cmd = new ArrayList<>();
        cmd.add(System.getProperty("corvale.java"));
        if (checkJni) cmd.add("-Xcheck:jni");
        for (String flag : System.getProperty("corvale.jvmflags", "").trim().split("\\s+")) {
            if (!flag.isEmpty()) cmd.add(flag);
        }
        cmd.add("-Dcorvale.library=" + System.getProperty("corvale.library"));
        for (String p : new String[] {"corvale.build", "corvale.m32", "corvale.work"}) {
            cmd.add("-D" + p + "=" + System.getProperty(p, ""));
        }
        List<String> cp = new ArrayList<>(classpathFirst);
        cp.add(System.getProperty("corvale.classpath"));
        cmd.add("-cp");
        cmd.add(String.join(":", cp));
        cmd.add(mainClass);
        cmd.addAll(Arrays.asList(args));
        ProcessBuilder pb = new ProcessBuilder(cmd);
        pb.environment().putAll(env);
        Process p = pb.start();
        p.getOutputStream().close();
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        ByteArrayOutputStream err = new ByteArrayOutputStream();
        Thread o = drain(p.getInputStream(), out);
        Thread e = drain(p.getErrorStream(), err);
        if (!p.waitFor(300, TimeUnit.SECONDS)) {
            p.destroyForcibly();
            throw new IOException("child JVM did not finish: " + cmd);
        }
        o.join();
        e.join();
        return new Result(p.exitValue(), out.toString(StandardCharsets.UTF_8), err.toByteArray());
    }

    /** Directory of a set of deliberately broken binding classes built for the tests. */
    public static String broken(String variant) {
        return System.getProperty("corvale.build") + "/tests/broken/" + variant;
    }

    private static Thread drain(InputStream in, ByteArrayOutputStream to) {
        Thread t = new Thread(() -> {
            try {
                in.transferTo(to);
            } catch (IOException ignored) {
                // the process is gone; what was read is kept
            }
        });
        t.start();
        return t;
    }
}
