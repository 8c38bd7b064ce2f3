package quorvel.pkcs.pkcs11;

/**
 * An object handle ({@code CK_OBJECT_HANDLE}). Only the low 32 bits reach the
 * module; handles coming back from it are never negative.
 */
public final class Handle {

    /** {@code CK_INVALID_HANDLE}: "no key" where an operation takes an optional one. */
    public static final Handle INVALID = new Handle(0L);

    private final long value;

    public Handle(long value) {
        this.value = value;
    }

    public long getValue() {
        return value;
    }

    public boolean isValid() {
        return value != 0L;
    }

    @Override
    public boolean equals(Object other) {
        return other instanceof Handle && ((Handle) other).value == value;
    }

    @Override
    public int hashCode() {
        return Long.hashCode(value);
    }

    @Override
    public String toString() {
        return "Handle(" + value + ")";
    }
}
