package quorvel.pkcs.pkcs11;

/** Test double: getType() or getValue() throws for the value Refusal.TYPE or Refusal.ATTRIBUTE_VALUE. */
public final class TemplateAttribute {
    private final AttributeType type;
    private final Object value;

    public TemplateAttribute(AttributeType type, Object value) {
        this.type = type;
        this.value = value;
    }

    public AttributeType getType() {
        if (value == Refusal.TYPE) throw Refusal.refuse("TemplateAttribute.getType");
        return type;
    }

    public Object getValue() {
        if (value == Refusal.ATTRIBUTE_VALUE) throw Refusal.refuse("TemplateAttribute.getValue");
        return value;
    }
}
