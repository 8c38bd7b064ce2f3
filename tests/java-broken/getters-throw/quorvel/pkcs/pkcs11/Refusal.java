package quorvel.pkcs.pkcs11;

/**
 * The getters of this variant's value classes throw for one sentinel value
 * (or marker object) and answer normally otherwise; the last exception
 * thrown is kept so a test can check it arrives unchanged.
 */
public final class Refusal {

    public static final long VALUE = 0x5E971E1L;
    /** As a TemplateAttribute value: getType() throws. */
    public static final Object TYPE = new Object();
    /** As a TemplateAttribute value: getValue() throws. */
    public static final Object ATTRIBUTE_VALUE = new Object();
    public static RuntimeException last;

    static RuntimeException refuse(String getter) {
        last = new IllegalStateException(getter + " refused");
        return last;
    }

    static long check(long value, String getter) {
        if (value == VALUE) throw refuse(getter);
        return value;
    }
}
