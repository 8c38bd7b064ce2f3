package corvaletest.mock;

import static corvaletest.Attributes.*;
import static org.junit.jupiter.api.Assertions.*;
import static quorvel.pkcs.pkcs11.AttributeType.*;

import corvaletest.Attributes;
import corvaletest.Mock;
import java.util.Arrays;
import org.junit.jupiter.api.Test;
import quorvel.pkcs.pkcs11.*;

/** The object natives on the mock: all-or-nothing reads, searches, handles and arguments. */
class ObjectsTest extends MockSession {

    private static final Handle DATA = new Handle(Mock.DATA_OBJECT);

    private static void assertUntouched(TemplateAttribute[] before, TemplateAttribute[] after) {
        for (int i = 0; i < before.length; i++) assertSame(before[i], after[i], "element " + i);
    }

    @Test
    void attributeReadIsAllOrNothing() {
        TemplateAttribute[] t = Attributes.of().read(CKA_CLASS, CKA_VALUE, CKA_KEY_TYPE).array();
        TemplateAttribute[] before = t.clone();
        assertRv(0x11, p11.getAttributeValueNative(session, AES_KEY, t));
        assertUntouched(before, t);
        assertEquals(1, Mock.calls("C_GetAttributeValue").length, "no value call after a failed query");

        t = Attributes.of().read(CKA_VALUE, CKA_MODULUS).array();
        before = t.clone();
        assertRv(0x12, p11.getAttributeValueNative(session, DATA, t));
        assertUntouched(before, t);

        t = Attributes.of().read(CKA_VALUE).array();
        before = t.clone();
        nextRv("C_GetAttributeValue", 2, 0x30);
        assertRv(0x30, p11.getAttributeValueNative(session, DATA, t));
        assertUntouched(before, t);
    }

    @Test
    void attributeLengthsThatDoNotFitAreAGeneralError() {
        TemplateAttribute[] t = Attributes.of().read(CKA_CLASS, CKA_VALUE).array();
        TemplateAttribute[] before = t.clone();
        Mock.setOutputLength("C_GetAttributeValue", FILL_PHASE, 1000);
        assertRv(CKR_GENERAL_ERROR, p11.getAttributeValueNative(session, DATA, t));
        assertUntouched(before, t);

        // All-ones with CKR_OK from the query: no buffer, and no length may then appear.
        Mock.reset();
        bindAgain();
        Mock.setOutputLength("C_GetAttributeValue", QUERY_PHASE, -1L);
        assertRv(CKR_GENERAL_ERROR, p11.getAttributeValueNative(session, DATA, t));
        assertUntouched(before, t);

        // A query asking for more than the value needs is fine: the value is what was written.
        Mock.reset();
        bindAgain();
        Mock.setOutputLength("C_GetAttributeValue", QUERY_PHASE, 100);
        TemplateAttribute[] value = Attributes.of().read(CKA_VALUE).array();
        assertRv(CKR_OK, p11.getAttributeValueNative(session, DATA, value));
        assertArrayEquals("hello".getBytes(), (byte[]) value[0].getValue());
    }

    @Test
    void attributeLengthsNoJavaArrayCouldHoldAreRefusedBeforeTheValueCall() {
        TemplateAttribute[] template = {new TemplateAttribute(new AttributeType(0x11)),
                new TemplateAttribute(new AttributeType(0x3))};
        TemplateAttribute[] before = template.clone();
        Mock.setOutputLength("C_GetAttributeValue", Mock.QUERY, 0x80000000L);
        ReturnValue rv = p11.getAttributeValueNative(session, DATA, template);
        assertNotEquals(CKR_OK, rv.getValue());
        assertEquals(1, Mock.callCount("C_GetAttributeValue"), "the length query only");
        assertArrayEquals(before, template, "the template is left as it was");
    }

    private static final int QUERY_PHASE = Mock.QUERY, FILL_PHASE = Mock.FILL;

    private void bindAgain() {
        p11.finalize();
        bindAndOpen();
    }

    @Test
    void findFillsTheHeadOfTheArrayAndLeavesTheTail() {
        assertRv(CKR_OK, p11.findObjectsInitNative(session, new TemplateAttribute[0]));
        Handle sentinel = new Handle(-7);
        Handle[] found = new Handle[10];
        Arrays.fill(found, sentinel);
        FindObjectsResult r = p11.findObjects(session, found);
        assertRv(CKR_OK, r.getResult());
        assertEquals(4, r.getNumObjects());
        for (int i = 0; i < 4; i++) assertEquals(new Handle(i + 1), found[i]);
        for (int i = 4; i < 10; i++) assertSame(sentinel, found[i]);
        assertEquals(0, p11.findObjects(session, found).getNumObjects());
        assertRv(CKR_OK, p11.findObjectsFinal(session));
        assertCalls("C_FindObjectsInit(session=1,template=[],count=0)",
                "C_FindObjects(session=1,object=ptr,maxObjectCount=10,objectCount=ptr)",
                "C_FindObjects(session=1,object=ptr,maxObjectCount=10,objectCount=ptr)",
                "C_FindObjectsFinal(session=1)");

        assertRv(CKR_OK, p11.findObjectsInitNative(session, new TemplateAttribute[0]));
        FindObjectsResult none = p11.findObjects(session, new Handle[0]);
        assertRv(CKR_OK, none.getResult());
        assertEquals(0, none.getNumObjects());
        assertEquals("C_FindObjects(session=1,object=ptr,maxObjectCount=0,objectCount=ptr)", Mock.lastCall("C_FindObjects"));

        assertRv(CKR_OK, p11.findObjectsFinal(session));
        // More handles than JNI's 16 local references, fewer than the library releases one by one.
        for (int i = 0; i < 36; i++) assertRv(CKR_OK, p11.createObjectNative(session, Attributes.of().ulong(CKA_CLASS, CKO_DATA).array()).getResult());
        assertRv(CKR_OK, p11.findObjectsInitNative(session, new TemplateAttribute[0]));
        assertEquals(40, Mock.withinLocalRoom(() -> p11.findObjects(session, new Handle[50])).getNumObjects());
    }

    @Test
    void findCountsAboveTheArrayOrFromAFailureStoreNothing() {
        Handle sentinel = new Handle(-7);
        Handle[] found = new Handle[3];
        Arrays.fill(found, sentinel);
        assertRv(CKR_OK, p11.findObjectsInitNative(session, new TemplateAttribute[0]));
        Mock.setOutputLength("C_FindObjects", FILL_PHASE, 4);
        FindObjectsResult lie = p11.findObjects(session, found);
        assertRv(CKR_GENERAL_ERROR, lie.getResult());
        assertEquals(0, lie.getNumObjects());
        for (Handle h : found) assertSame(sentinel, h);

        nextRv("C_FindObjects", 1, 0x91);
        FindObjectsResult failed = p11.findObjects(session, found);
        assertRv(0x91, failed.getResult());
        assertEquals(0, failed.getNumObjects());
        for (Handle h : found) assertSame(sentinel, h);
    }

    @Test
    void handlesAboveTwoToThe31StayPositive() {
        Mock.setNextObjectHandle(0xFFFFFFF0L);
        CreateObjectResult r = p11.createObjectNative(session, Attributes.of().ulong(CKA_CLASS, CKO_DATA).array());
        assertEquals(0xFFFFFFF0L, r.getObjectHandle().getValue());
        Mock.clearCalls();
        assertRv(CKR_OK, p11.destroyObject(session, r.getObjectHandle()));
        assertCalls("C_DestroyObject(session=1,object=4294967280)");
    }

    @Test
    void objectNativesPassTheirArgumentsAndResults() {
        CopyObjectResult copy = p11.copyObjectNative(session, DATA, Attributes.of().text(CKA_LABEL, "c").array());
        assertRv(CKR_OK, copy.getResult());
        assertEquals(Mock.FIRST_NEW_OBJECT, copy.getObjectHandle().getValue());
        assertRv(CKR_OK, p11.setAttributeValueNative(session, copy.getObjectHandle(),
                Attributes.of().text(CKA_LABEL, "d").array()));
        GetObjectSizeResult size = p11.getObjectSize(session, copy.getObjectHandle());
        assertRv(CKR_OK, size.getResult());
        assertTrue(size.getSize() > 5, "at least the value and the label: " + size.getSize());
        assertRv(CKR_OK, p11.destroyObject(session, copy.getObjectHandle()));
        assertCalls("C_CopyObject(session=1,object=4,template=[{type=3,value=63,valueLen=1}],count=1,newObject=ptr)",
                "C_SetAttributeValue(session=1,object=5,template=[{type=3,value=64,valueLen=1}],count=1)",
                "C_GetObjectSize(session=1,object=5,size=ptr)",
                "C_DestroyObject(session=1,object=5)");

        // Failures: the code, and no handle or size from a call that made none.
        nextRv("C_CreateObject", 1, 0xD1);
        CreateObjectResult failed = p11.createObjectNative(session, new TemplateAttribute[0]);
        assertRv(0xD1, failed.getResult());
        assertEquals(0, failed.getObjectHandle().getValue());
        nextRv("C_CopyObject", 1, 0x82);
        assertEquals(0, p11.copyObjectNative(session, DATA, new TemplateAttribute[0]).getObjectHandle().getValue());
        GetObjectSizeResult noSize = p11.getObjectSize(session, new Handle(99));
        assertRv(0x82, noSize.getResult());
        assertEquals(0, noSize.getSize());
    }

    @Test
    void nullArgumentsReturnNullWithoutACall() {
        TemplateAttribute[] t = new TemplateAttribute[0];
        assertNull(p11.createObjectNative(null, t));
        assertNull(p11.createObjectNative(session, null));
        assertNull(p11.copyObjectNative(session, null, t));
        assertNull(p11.copyObjectNative(session, DATA, null));
        assertNull(p11.destroyObject(session, null));
        assertNull(p11.getObjectSize(null, DATA));
        assertNull(p11.getAttributeValueNative(session, DATA, null));
        assertNull(p11.getAttributeValueNative(session, null, t));
        assertNull(p11.setAttributeValueNative(null, DATA, t));
        assertNull(p11.findObjectsInitNative(session, null));
        assertNull(p11.findObjects(session, null));
        assertNull(p11.findObjects(null, new Handle[1]));
        assertNull(p11.findObjectsFinal(null));
        assertNoCalls();
    }
}
