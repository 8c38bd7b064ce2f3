package quorvel.pkcs.pkcs11;

import java.util.HashMap;
import java.util.Map;

/**
 * A Cryptoki return code ({@code CK_RV}). Every call into the module reports
 * its outcome this way; module errors never surface as exceptions. Codes come
 * back zero-extended, so vendor codes (0x80000000 and up) stay positive.
 */
public final class ReturnValue {

    private static final Map<Long, String> NAMES = new HashMap<>();

    private static void name(long code, String name) {
        NAMES.put(code, name);
    }

    static {
        name(0x000L, "CKR_OK");
        name(0x001L, "CKR_CANCEL");
        name(0x002L, "CKR_HOST_MEMORY");
        name(0x003L, "CKR_SLOT_ID_INVALID");
        name(0x005L, "CKR_GENERAL_ERROR");
        name(0x006L, "CKR_FUNCTION_FAILED");
        name(0x007L, "CKR_ARGUMENTS_BAD");
        name(0x008L, "CKR_NO_EVENT");
        name(0x010L, "CKR_ATTRIBUTE_READ_ONLY");
        name(0x011L, "CKR_ATTRIBUTE_SENSITIVE");
        name(0x012L, "CKR_ATTRIBUTE_TYPE_INVALID");
        name(0x013L, "CKR_ATTRIBUTE_VALUE_INVALID");
        name(0x020L, "CKR_DATA_INVALID");
        name(0x021L, "CKR_DATA_LEN_RANGE");
        name(0x030L, "CKR_DEVICE_ERROR");
        name(0x031L, "CKR_DEVICE_MEMORY");
        name(0x032L, "CKR_DEVICE_REMOVED");
        name(0x040L, "CKR_ENCRYPTED_DATA_INVALID");
        name(0x041L, "CKR_ENCRYPTED_DATA_LEN_RANGE");
        name(0x050L, "CKR_FUNCTION_CANCELED");
        name(0x054L, "CKR_FUNCTION_NOT_SUPPORTED");
        name(0x060L, "CKR_KEY_HANDLE_INVALID");
        name(0x062L, "CKR_KEY_SIZE_RANGE");
        name(0x063L, "CKR_KEY_TYPE_INCONSISTENT");
        name(0x068L, "CKR_KEY_FUNCTION_NOT_PERMITTED");
        name(0x069L, "CKR_KEY_NOT_WRAPPABLE");
        name(0x06AL, "CKR_KEY_UNEXTRACTABLE");
        name(0x070L, "CKR_MECHANISM_INVALID");
        name(0x071L, "CKR_MECHANISM_PARAM_INVALID");
        name(0x082L, "CKR_OBJECT_HANDLE_INVALID");
        name(0x090L, "CKR_OPERATION_ACTIVE");
        name(0x091L, "CKR_OPERATION_NOT_INITIALIZED");
        name(0x0A0L, "CKR_PIN_INCORRECT");
        name(0x0A1L, "CKR_PIN_INVALID");
        name(0x0A2L, "CKR_PIN_LEN_RANGE");
        name(0x0A3L, "CKR_PIN_EXPIRED");
        name(0x0A4L, "CKR_PIN_LOCKED");
        name(0x0B0L, "CKR_SESSION_CLOSED");
        name(0x0B1L, "CKR_SESSION_COUNT");
        name(0x0B3L, "CKR_SESSION_HANDLE_INVALID");
        name(0x0B4L, "CKR_SESSION_PARALLEL_NOT_SUPPORTED");
        name(0x0B5L, "CKR_SESSION_READ_ONLY");
        name(0x0B6L, "CKR_SESSION_EXISTS");
        name(0x0B7L, "CKR_SESSION_READ_ONLY_EXISTS");
        name(0x0B8L, "CKR_SESSION_READ_WRITE_SO_EXISTS");
        name(0x0C0L, "CKR_SIGNATURE_INVALID");
        name(0x0C1L, "CKR_SIGNATURE_LEN_RANGE");
        name(0x0D0L, "CKR_TEMPLATE_INCOMPLETE");
        name(0x0D1L, "CKR_TEMPLATE_INCONSISTENT");
        name(0x0E0L, "CKR_TOKEN_NOT_PRESENT");
        name(0x0E1L, "CKR_TOKEN_NOT_RECOGNIZED");
        name(0x0E2L, "CKR_TOKEN_WRITE_PROTECTED");
        name(0x100L, "CKR_USER_ALREADY_LOGGED_IN");
        name(0x101L, "CKR_USER_NOT_LOGGED_IN");
        name(0x102L, "CKR_USER_PIN_NOT_INITIALIZED");
        name(0x103L, "CKR_USER_TYPE_INVALID");
        name(0x104L, "CKR_USER_ANOTHER_ALREADY_LOGGED_IN");
        name(0x110L, "CKR_WRAPPED_KEY_INVALID");
        name(0x120L, "CKR_RANDOM_SEED_NOT_SUPPORTED");
        name(0x121L, "CKR_RANDOM_NO_RNG");
        name(0x130L, "CKR_DOMAIN_PARAMS_INVALID");
        name(0x150L, "CKR_BUFFER_TOO_SMALL");
        name(0x160L, "CKR_SAVED_STATE_INVALID");
        name(0x170L, "CKR_INFORMATION_SENSITIVE");
        name(0x180L, "CKR_STATE_UNSAVEABLE");
        name(0x190L, "CKR_CRYPTOKI_NOT_INITIALIZED");
        name(0x191L, "CKR_CRYPTOKI_ALREADY_INITIALIZED");
        name(0x200L, "CKR_FUNCTION_REJECTED");
    }

    /** First code of the range modules may use for their own errors. */
    public static final long VENDOR_DEFINED = 0x80000000L;

    public static final ReturnValue CKR_OK = new ReturnValue(0x000L);
    public static final ReturnValue CKR_GENERAL_ERROR = new ReturnValue(0x005L);
    public static final ReturnValue CKR_FUNCTION_FAILED = new ReturnValue(0x006L);
    public static final ReturnValue CKR_ARGUMENTS_BAD = new ReturnValue(0x007L);
    public static final ReturnValue CKR_NO_EVENT = new ReturnValue(0x008L);
    public static final ReturnValue CKR_FUNCTION_NOT_SUPPORTED = new ReturnValue(0x054L);
    public static final ReturnValue CKR_PIN_INCORRECT = new ReturnValue(0x0A0L);
    public static final ReturnValue CKR_SESSION_HANDLE_INVALID = new ReturnValue(0x0B3L);
    public static final ReturnValue CKR_TOKEN_NOT_PRESENT = new ReturnValue(0x0E0L);
    public static final ReturnValue CKR_USER_ALREADY_LOGGED_IN = new ReturnValue(0x100L);
    public static final ReturnValue CKR_USER_NOT_LOGGED_IN = new ReturnValue(0x101L);
    public static final ReturnValue CKR_BUFFER_TOO_SMALL = new ReturnValue(0x150L);
    public static final ReturnValue CKR_CRYPTOKI_NOT_INITIALIZED = new ReturnValue(0x190L);
    public static final ReturnValue CKR_CRYPTOKI_ALREADY_INITIALIZED = new ReturnValue(0x191L);

    private final long value;

    public ReturnValue(long value) {
        this.value = value;
    }

    public long getValue() {
        return value;
    }

    /** True for {@code CKR_OK}. */
    public boolean isOk() {
        return value == 0L;
    }

    public boolean isVendorDefined() {
        return value >= VENDOR_DEFINED && value <= 0xFFFFFFFFL;
    }

    /** The {@code CKR_} name of this code, or null when it is not a well-known one. */
    public String getName() {
        return nameOf(value);
    }

    /** The {@code CKR_} name of a code, or null when it is not a well-known one. */
    public static String nameOf(long code) {
        return NAMES.get(code);
    }

    @Override
    public boolean equals(Object other) {
        return other instanceof ReturnValue && ((ReturnValue) other).value == value;
    }

    @Override
    public int hashCode() {
        return Long.hashCode(value);
    }

    /** For example "0x000000A0 (CKR_PIN_INCORRECT)". */
    @Override
    public String toString() {
        String hex = String.format("0x%08X", value);
        String name = NAMES.get(value);
        if (name != null) {
            return hex + " (" + name + ")";
        }
        return isVendorDefined() ? hex + " (vendor defined)" : hex;
    }
}
