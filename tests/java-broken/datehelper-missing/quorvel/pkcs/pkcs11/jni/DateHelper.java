package quorvel.pkcs.pkcs11.jni;

/** A DateHelper without toDate: the token clock cannot be converted. */
public final class DateHelper {
    private DateHelper() {
    }
}
