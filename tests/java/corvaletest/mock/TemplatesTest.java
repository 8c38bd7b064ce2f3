package corvaletest.mock;

import static corvaletest.Attributes.*;
import static org.junit.jupiter.api.Assertions.*;
import static quorvel.pkcs.pkcs11.AttributeType.*;

import corvaletest.Attributes;
import corvaletest.Mock;
import org.junit.jupiter.api.Test;
import quorvel.pkcs.pkcs11.*;
import quorvel.pkcs.pkcs11.jni.NativeCryptokiFunctions;

/** Java templates to native ones and back, as the module sees them. */
class TemplatesTest extends MockSession {

    private static final long VENDOR = 0x80000001L;

    @Test
    void templateReachesTheModuleAsGiven() {
        long wide = 0x1_0000_0110L;  // above 32 bits: i386 sees CKA_START_DATE
        CreateObjectResult r = p11.createObjectNative(session, Attributes.of()
                .ulong(CKA_CLASS, CKO_DATA).text(CKA_LABEL, "ab").add(CKA_VALUE, new byte[0])
                .add(new AttributeType(VENDOR), null).add(new AttributeType(wide), new byte[] {1}).array());
        assertCalls("C_CreateObject(session=1,template=[{type=0,value=" + hex(ulong(CKO_DATA)) + ",valueLen="
                + NativeCryptokiFunctions.getULongSize() + "},{type=3,value=6162,valueLen=2},{type=17,value=,valueLen=0},"
                + "{type=2147483649,value=null,valueLen=0},{type=" + logged(wide) + ",value=01,valueLen=1}],"
                + "count=5,object=ptr)");
        assertRv(CKR_OK, r.getResult());
        assertEquals(Mock.FIRST_NEW_OBJECT, r.getObjectHandle().getValue());

        CreateObjectResult empty = p11.createObjectNative(session, new TemplateAttribute[0]);
        assertNotNull(empty);
        assertCalls("C_CreateObject(session=1,template=[],count=0,object=ptr)");
    }

    @Test
    void unusableElementsMakeEveryTemplateNativeReturnNullWithoutACall() {
        TemplateAttribute good = new TemplateAttribute(CKA_LABEL, new byte[] {1});
        TemplateAttribute[][] bad = {
            {good, null},
            {good, new TemplateAttribute(CKA_LABEL, "text")},
            {new TemplateAttribute(CKA_LABEL, new int[] {1}), good},
            {new TemplateAttribute(null, new byte[] {1})},
        };
        Handle data = new Handle(Mock.DATA_OBJECT);
        TemplateAttribute[] fine = {good};
        MechanismType gen = MechanismType.CKM_AES_KEY_GEN;
        for (TemplateAttribute[] t : bad) {
            assertNull(p11.createObjectNative(session, t));
            assertNull(p11.copyObjectNative(session, data, t));
            assertNull(p11.setAttributeValueNative(session, data, t));
            assertNull(p11.findObjectsInitNative(session, t));
            assertNull(p11.getAttributeValueNative(session, data, t), "values are checked though not read");
            assertNull(p11.generateKeyNative(session, gen, new byte[] {1}, t));
            assertNull(p11.generateKeyPairNative(session, gen, null, t, fine));
            assertNull(p11.generateKeyPairNative(session, gen, null, fine, t));
            assertNull(p11.unwrapKeyNative(session, gen, null, AES_KEY, new byte[] {1}, t));
        }
        assertNoCalls();
    }

    @Test
    void readBackReplacesEveryElementWithTheCodeAndTheValue() {
        CreateObjectResult made = p11.createObjectNative(session, Attributes.of().ulong(CKA_CLASS, CKO_DATA)
                .add(CKA_LABEL, new byte[0]).add(new AttributeType(VENDOR), new byte[] {7, 8}).array());
        assertRv(CKR_OK, made.getResult());
        Mock.clearCalls();

        TemplateAttribute[] t = {
            new TemplateAttribute(new AttributeType(VENDOR, AttributeFormat.BYTES), new byte[] {9, 9, 9}),
            new TemplateAttribute(CKA_LABEL),
            new TemplateAttribute(CKA_CLASS, new byte[] {1, 2, 3}),
        };
        TemplateAttribute[] before = t.clone();
        assertRv(CKR_OK, p11.getAttributeValueNative(session, made.getObjectHandle(), t));
        int u = NativeCryptokiFunctions.getULongSize();
        assertCalls("C_GetAttributeValue(session=1,object=5,template=[{type=2147483649,value=null,valueLen=0},"
                        + "{type=3,value=null,valueLen=0},{type=0,value=null,valueLen=0}],count=3)",
                "C_GetAttributeValue(session=1,object=5,template=[{type=2147483649,value=ptr,valueLen=2},"
                        + "{type=3,value=null,valueLen=0},{type=0,value=ptr,valueLen=" + u + "}],count=3)");
        for (int i = 0; i < t.length; i++) {
            assertNotSame(before[i], t[i]);
            assertNull(t[i].getType().getFormat(), "types come back as the code alone");
        }
        assertEquals(VENDOR, t[0].getType().getCode(), "vendor codes come back positive");
        assertArrayEquals(new byte[] {7, 8}, (byte[]) t[0].getValue());
        assertNull(t[1].getValue(), "a value of length 0 comes back as null");
        assertArrayEquals(ulong(CKO_DATA), (byte[]) t[2].getValue());
    }

    @Test
    void largeTemplatesGoBothWays() {
        // 20 keep their local references (the VM is asked for room), 3000 release them.
        for (int n : new int[] {20, 3000}) {
            Attributes many = Attributes.of().ulong(CKA_CLASS, CKO_DATA);
            Attributes read = Attributes.of();
            for (int i = 0; i < n; i++) {
                AttributeType type = new AttributeType(0x80000000L + i);
                many.add(type, new byte[] {(byte) i, (byte) (i >> 8)});
                read.read(type);
            }
            CreateObjectResult made = Mock.withinLocalRoom(() -> p11.createObjectNative(session, many.array()));
            assertRv(CKR_OK, made.getResult());
            TemplateAttribute[] t = read.array();
            assertRv(CKR_OK, Mock.withinLocalRoom(() -> p11.getAttributeValueNative(session, made.getObjectHandle(), t)));
            for (int i = 0; i < n; i += 19) {
                assertArrayEquals(new byte[] {(byte) i, (byte) (i >> 8)}, (byte[]) t[i].getValue());
            }
        }
    }
}
