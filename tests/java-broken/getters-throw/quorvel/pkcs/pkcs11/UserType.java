package quorvel.pkcs.pkcs11;

/** Test double: getNum() throws for (int) Refusal.VALUE. */
public final class UserType {
    private final int num;

    public UserType(int num, String description) {
        this.num = num;
    }

    public int getNum() {
        return (int) Refusal.check(num, "UserType.getNum");
    }
}
