package quorvel.pkcs.pkcs11.jni;

import java.util.Date;

/** A DateHelper that cannot be loaded: its initialiser fails, so FindClass finds nothing. */
public final class DateHelper {

    static {
        if (Boolean.parseBoolean("true")) throw new IllegalStateException("DateHelper unloadable");
    }

    private DateHelper() {
    }

    public static Date toDate(String text, int kind) {
        return null;
    }
}
