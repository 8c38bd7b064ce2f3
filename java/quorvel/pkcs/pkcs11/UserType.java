package quorvel.pkcs.pkcs11;

/**
 * A user type for login ({@code CK_USER_TYPE}). The number is handed to the
 * module unchanged; the description is for people only.
 */
public final class UserType {

    /** {@code CKU_SO}, the security officer. */
    public static final UserType SO = new UserType(0, "Security Officer");
    /** {@code CKU_USER}, the normal user. */
    public static final UserType USER = new UserType(1, "User");
    /** {@code CKU_CONTEXT_SPECIFIC}, re-authentication for a single operation. */
    public static final UserType CONTEXT_SPECIFIC = new UserType(2, "Context specific");

    private final int num;
    private final String description;

    public UserType(int num, String description) {
        this.num = num;
        this.description = description;
    }

    public int getNum() {
        return num;
    }

    public String getDescription() {
        return description;
    }

    /** Equal when the numbers are: that is all the module sees. */
    @Override
    public boolean equals(Object other) {
        return other instanceof UserType && ((UserType) other).num == num;
    }

    @Override
    public int hashCode() {
        return num;
    }

    @Override
    public String toString() {
        return description == null ? Integer.toString(num) : num + " (" + description + ")";
    }
}
