package corvaletest;

import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.List;
import quorvel.pkcs.pkcs11.AttributeType;
import quorvel.pkcs.pkcs11.TemplateAttribute;
import quorvel.pkcs.pkcs11.jni.NativeCryptokiFunctions;

/** Templates for the tests, with values encoded by the library's own codecs. */
public final class Attributes {

    public static final long CKO_DATA = 0, CKO_PUBLIC_KEY = 2, CKO_PRIVATE_KEY = 3, CKO_SECRET_KEY = 4;
    public static final long CKA_PRIVATE_EXPONENT = 0x123;

    private final List<TemplateAttribute> list = new ArrayList<>();

    public static Attributes of() {
        return new Attributes();
    }

    public Attributes bool(AttributeType type, boolean value) {
        byte[] b = new byte[NativeCryptokiFunctions.getBoolSize()];
        NativeCryptokiFunctions.encodeBool(value, b);
        return add(type, b);
    }

    public Attributes ulong(AttributeType type, long value) {
        return add(type, ulong(value));
    }

    public Attributes ulong(long type, long value) {
        return add(new AttributeType(type), ulong(value));
    }

    public Attributes text(AttributeType type, String value) {
        return add(type, value.getBytes(StandardCharsets.UTF_8));
    }

    public Attributes add(AttributeType type, Object value) {
        list.add(new TemplateAttribute(type, value));
        return this;
    }

    public Attributes read(AttributeType... types) {
        for (AttributeType t : types) list.add(new TemplateAttribute(t));
        return this;
    }

    public TemplateAttribute[] array() {
        return list.toArray(new TemplateAttribute[0]);
    }

    public static byte[] ulong(long value) {
        byte[] b = new byte[NativeCryptokiFunctions.getULongSize()];
        NativeCryptokiFunctions.encodeULong(value, b);
        return b;
    }

    /** The value of the first attribute of that type, or an error. */
    public static byte[] valueOf(TemplateAttribute[] template, AttributeType type) {
        for (TemplateAttribute a : template) {
            if (a.getType().equals(type)) return (byte[]) a.getValue();
        }
        throw new AssertionError("no " + type + " in the template");
    }
}
