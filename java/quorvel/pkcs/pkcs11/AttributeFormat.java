package quorvel.pkcs.pkcs11;

/**
 * The named form in which an attribute's value is encoded in its byte array.
 * Purely descriptive: the value always travels as the module's bytes.
 */
public final class AttributeFormat {

    public static final AttributeFormat BOOLEAN = new AttributeFormat("CK_BBOOL");
    public static final AttributeFormat ULONG = new AttributeFormat("CK_ULONG");
    public static final AttributeFormat DATE = new AttributeFormat("CK_DATE");
    public static final AttributeFormat UTF8 = new AttributeFormat("UTF-8 string");
    public static final AttributeFormat BIG_INTEGER = new AttributeFormat("big integer");
    public static final AttributeFormat BYTES = new AttributeFormat("byte array");

    private final String name;

    public AttributeFormat(String name) {
        this.name = name;
    }

    public String getName() {
        return name;
    }

    @Override
    public boolean equals(Object other) {
        if (!(other instanceof AttributeFormat)) {
            return false;
        }
        String otherName = ((AttributeFormat) other).name;
        return name == null ? otherName == null : name.equals(otherName);
    }

    @Override
    public int hashCode() {
        return name == null ? 0 : name.hashCode();
    }

    @Override
    public String toString() {
        return String.valueOf(name);
    }
}
