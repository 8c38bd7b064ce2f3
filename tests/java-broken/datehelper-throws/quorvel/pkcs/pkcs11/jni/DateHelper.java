package quorvel.pkcs.pkcs11.jni;

import java.util.Date;

/** A DateHelper whose toDate always throws. */
public final class DateHelper {
    private DateHelper() {
    }

    public static Date toDate(String text, int kind) {
        throw new IllegalStateException("toDate refused \"" + text + "\"");
    }
}
