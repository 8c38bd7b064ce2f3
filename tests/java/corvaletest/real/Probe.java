package corvaletest.real;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashMap;
import java.util.List;
import java.util.Map;

/** What a module tells a plain C client: the records printed by tests/bin/p11probe of the same width. */
final class Probe {

    /** One line: its kind ("info", "slot", "token", "mechanism") and its key=value words. */
    static final class Record {
        final String kind;
        final Map<String, String> fields = new HashMap<>();

        Record(String kind) {
            this.kind = kind;
        }

        /** A decimal or 0x-hex CK_ULONG, unsigned. */
        long number(String key) {
            String v = fields.get(key);
            return v.startsWith("0x") ? Long.parseUnsignedLong(v.substring(2), 16) : Long.parseUnsignedLong(v);
        }

        /** A hex text field as the bridge presents it: cut at a zero byte, decoded as UTF-8. */
        String text(String key) {
            String hex = fields.get(key);
            byte[] bytes = new byte[hex.length() / 2];
            for (int i = 0; i < bytes.length; i++) bytes[i] = (byte) Integer.parseInt(hex.substring(2 * i, 2 * i + 2), 16);
            int end = 0;
            while (end < bytes.length && bytes[end] != 0) end++;
            return new String(Arrays.copyOf(bytes, end), StandardCharsets.UTF_8);
        }

        String version(String key) {
            return fields.get(key);
        }
    }

    final List<Record> records = new ArrayList<>();

    /** Probes the module file in a child process (which inherits SOFTHSM2_CONF). */
    static Probe run(String modulePath) throws IOException, InterruptedException {
        Process p = new ProcessBuilder(System.getProperty("corvale.build") + "/tests/bin/p11probe", modulePath)
                .redirectErrorStream(true).start();
        String text = new String(p.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        if (p.waitFor() != 0) throw new AssertionError("probe failed (" + p.exitValue() + "):\n" + text);
        Probe probe = new Probe();
        for (String line : text.split("\n")) {
            String[] words = line.trim().split(" ");
            Record r = new Record(words[0]);
            for (int i = 1; i < words.length; i++) {
                int eq = words[i].indexOf('=');
                r.fields.put(words[i].substring(0, eq), words[i].substring(eq + 1));
            }
            probe.records.add(r);
        }
        return probe;
    }

    List<Record> all(String kind) {
        List<Record> found = new ArrayList<>();
        for (Record r : records) {
            if (r.kind.equals(kind)) found.add(r);
        }
        return found;
    }

    /** The record of a kind whose numbers match, e.g. one("mechanism", "slot", 1, "type", 0x250). */
    Record one(String kind, Object... keysAndValues) {
        search:
        for (Record r : all(kind)) {
            for (int i = 0; i < keysAndValues.length; i += 2) {
                if (r.number((String) keysAndValues[i]) != ((Number) keysAndValues[i + 1]).longValue()) continue search;
            }
            return r;
        }
        throw new AssertionError("probe reported no " + kind + " with " + Arrays.toString(keysAndValues));
    }
}
