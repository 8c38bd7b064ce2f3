package quorvel.pkcs.pkcs11.jni;

import java.time.DateTimeException;
import java.time.LocalDateTime;
import java.time.ZoneOffset;
import java.util.Date;

/** Turns date texts handed over by the native library into {@link Date}s. */
public final class DateHelper {

    /** The 16-character token clock "YYYYMMDDhhmmss00", in UTC. */
    public static final int TOKEN_CLOCK = 0;

    private DateHelper() {
    }

    /**
     * The date of a text, or null when there is none: null or blank text (a
     * token without a clock), or text that is not a valid time. Never throws,
     * because the native library cannot do anything useful with an exception
     * here. Kinds other than {@link #TOKEN_CLOCK} are read the same way.
     */
    public static Date toDate(String text, int kind) {
        if (text == null) {
            return null;
        }
        // Fields are blank-padded by the module; some fill them with zero bytes.
        String clock = stripPadding(text);
        if (clock.isEmpty()) {
            return null;
        }
        // The last two characters are reserved; accept a clock given without them.
        if (clock.length() != 16 && clock.length() != 14) {
            return null;
        }
        for (int i = 0; i < clock.length(); i++) {
            char c = clock.charAt(i);
            if (c < '0' || c > '9') {
                return null;
            }
        }
        try {
            LocalDateTime time = LocalDateTime.of(
                    number(clock, 0, 4), number(clock, 4, 6), number(clock, 6, 8),
                    number(clock, 8, 10), number(clock, 10, 12), number(clock, 12, 14));
            return Date.from(time.toInstant(ZoneOffset.UTC));
        } catch (DateTimeException e) {
            return null;
        }
    }

    private static String stripPadding(String text) {
        int start = 0;
        int end = text.length();
        while (start < end && isPadding(text.charAt(start))) {
            start++;
        }
        while (end > start && isPadding(text.charAt(end - 1))) {
            end--;
        }
        return text.substring(start, end);
    }

    private static boolean isPadding(char c) {
        return c == '\0' || Character.isWhitespace(c);
    }

    private static int number(String text, int from, int to) {
        return Integer.parseInt(text.substring(from, to));
    }
}
