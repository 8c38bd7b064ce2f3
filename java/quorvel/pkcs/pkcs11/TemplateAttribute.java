package quorvel.pkcs.pkcs11;

/**
 * One attribute of a template: its type and its value. The value is the
 * attribute's bytes in the module's representation ({@code byte[]}), or null
 * to leave it empty; other value types are not understood by the module.
 * The value is held as given, not copied.
 */
public final class TemplateAttribute {

    private final AttributeType type;
    private final Object value;

    public TemplateAttribute(AttributeType type, Object value) {
        this.type = type;
        this.value = value;
    }

    /** An attribute whose value is still to be read from the module. */
    public TemplateAttribute(AttributeType type) {
        this(type, null);
    }

    public AttributeType getType() {
        return type;
    }

    public Object getValue() {
        return value;
    }

    /** Shows only the length of a byte value: it may be key material. */
    @Override
    public String toString() {
        String shown = value instanceof byte[]
                ? "byte[" + ((byte[]) value).length + "]"
                : String.valueOf(value);
        return "TemplateAttribute[type=" + type + ", value=" + shown + "]";
    }
}
