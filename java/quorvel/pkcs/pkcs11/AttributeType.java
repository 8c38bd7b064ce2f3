package quorvel.pkcs.pkcs11;

import java.util.HashMap;
import java.util.Map;

/**
 * An attribute type ({@code CK_ATTRIBUTE_TYPE}) with an optional description of
 * its value's format. Two types are equal when their codes are: types read back
 * from the module carry no format, and they must still match the caller's own.
 */
public final class AttributeType {

    private static final Map<Long, String> NAMES = new HashMap<>();

    private static AttributeType define(long code, String name, AttributeFormat format) {
        NAMES.put(code, name);
        return new AttributeType(code, format);
    }

    public static final AttributeType CKA_CLASS =
            define(0x000L, "CKA_CLASS", AttributeFormat.ULONG);
    public static final AttributeType CKA_TOKEN =
            define(0x001L, "CKA_TOKEN", AttributeFormat.BOOLEAN);
    public static final AttributeType CKA_PRIVATE =
            define(0x002L, "CKA_PRIVATE", AttributeFormat.BOOLEAN);
    public static final AttributeType CKA_LABEL =
            define(0x003L, "CKA_LABEL", AttributeFormat.UTF8);
    public static final AttributeType CKA_APPLICATION =
            define(0x010L, "CKA_APPLICATION", AttributeFormat.UTF8);
    public static final AttributeType CKA_VALUE =
            define(0x011L, "CKA_VALUE", AttributeFormat.BYTES);
    public static final AttributeType CKA_CERTIFICATE_TYPE =
            define(0x080L, "CKA_CERTIFICATE_TYPE", AttributeFormat.ULONG);
    public static final AttributeType CKA_ISSUER =
            define(0x081L, "CKA_ISSUER", AttributeFormat.BYTES);
    public static final AttributeType CKA_SERIAL_NUMBER =
            define(0x082L, "CKA_SERIAL_NUMBER", AttributeFormat.BYTES);
    public static final AttributeType CKA_KEY_TYPE =
            define(0x100L, "CKA_KEY_TYPE", AttributeFormat.ULONG);
    public static final AttributeType CKA_SUBJECT =
            define(0x101L, "CKA_SUBJECT", AttributeFormat.BYTES);
    public static final AttributeType CKA_ID =
            define(0x102L, "CKA_ID", AttributeFormat.BYTES);
    public static final AttributeType CKA_SENSITIVE =
            define(0x103L, "CKA_SENSITIVE", AttributeFormat.BOOLEAN);
    public static final AttributeType CKA_ENCRYPT =
            define(0x104L, "CKA_ENCRYPT", AttributeFormat.BOOLEAN);
    public static final AttributeType CKA_DECRYPT =
            define(0x105L, "CKA_DECRYPT", AttributeFormat.BOOLEAN);
    public static final AttributeType CKA_WRAP =
            define(0x106L, "CKA_WRAP", AttributeFormat.BOOLEAN);
    public static final AttributeType CKA_UNWRAP =
            define(0x107L, "CKA_UNWRAP", AttributeFormat.BOOLEAN);
    public static final AttributeType CKA_SIGN =
            define(0x108L, "CKA_SIGN", AttributeFormat.BOOLEAN);
    public static final AttributeType CKA_VERIFY =
            define(0x10AL, "CKA_VERIFY", AttributeFormat.BOOLEAN);
    public static final AttributeType CKA_DERIVE =
            define(0x10CL, "CKA_DERIVE", AttributeFormat.BOOLEAN);
    public static final AttributeType CKA_START_DATE =
            define(0x110L, "CKA_START_DATE", AttributeFormat.DATE);
    public static final AttributeType CKA_END_DATE =
            define(0x111L, "CKA_END_DATE", AttributeFormat.DATE);
    public static final AttributeType CKA_MODULUS =
            define(0x120L, "CKA_MODULUS", AttributeFormat.BIG_INTEGER);
    public static final AttributeType CKA_MODULUS_BITS =
            define(0x121L, "CKA_MODULUS_BITS", AttributeFormat.ULONG);
    public static final AttributeType CKA_PUBLIC_EXPONENT =
            define(0x122L, "CKA_PUBLIC_EXPONENT", AttributeFormat.BIG_INTEGER);
    public static final AttributeType CKA_VALUE_LEN =
            define(0x161L, "CKA_VALUE_LEN", AttributeFormat.ULONG);
    public static final AttributeType CKA_EXTRACTABLE =
            define(0x162L, "CKA_EXTRACTABLE", AttributeFormat.BOOLEAN);
    public static final AttributeType CKA_MODIFIABLE =
            define(0x170L, "CKA_MODIFIABLE", AttributeFormat.BOOLEAN);
    public static final AttributeType CKA_EC_PARAMS =
            define(0x180L, "CKA_EC_PARAMS", AttributeFormat.BYTES);
    public static final AttributeType CKA_EC_POINT =
            define(0x181L, "CKA_EC_POINT", AttributeFormat.BYTES);

    /** First code of the range modules may use for their own attributes. */
    public static final long VENDOR_DEFINED = 0x80000000L;

    private final long code;
    private final AttributeFormat format;

    public AttributeType(long code) {
        this(code, null);
    }

    public AttributeType(long code, AttributeFormat format) {
        this.code = code;
        this.format = format;
    }

    public long getCode() {
        return code;
    }

    /** The value's format, or null when none was given. */
    public AttributeFormat getFormat() {
        return format;
    }

    /** The {@code CKA_} name when this is one of the constants above, otherwise null. */
    public String getName() {
        return NAMES.get(code);
    }

    @Override
    public boolean equals(Object other) {
        return other instanceof AttributeType && ((AttributeType) other).code == code;
    }

    @Override
    public int hashCode() {
        return Long.hashCode(code);
    }

    @Override
    public String toString() {
        String hex = String.format("0x%08X", code);
        String name = NAMES.get(code);
        return name == null ? hex : hex + " (" + name + ")";
    }
}
