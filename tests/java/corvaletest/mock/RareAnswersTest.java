package corvaletest.mock;

import static org.junit.jupiter.api.Assertions.*;

import corvaletest.Mock;
import org.junit.jupiter.api.Test;
import quorvel.pkcs.pkcs11.*;

/** Module answers that the other suites do not give: impossible attribute lengths, notifications. */
class RareAnswersTest extends MockSession {

    @Test
    void attributeLengthsNoJavaArrayCouldHoldAreRefusedBeforeTheValueCall() {
        TemplateAttribute[] template = {new TemplateAttribute(new AttributeType(0x11)),
                new TemplateAttribute(new AttributeType(0x3))};
        TemplateAttribute[] before = template.clone();
        Mock.setOutputLength("C_GetAttributeValue", Mock.QUERY, 0x80000000L);
        ReturnValue rv = p11.getAttributeValueNative(session, new Handle(Mock.DATA_OBJECT), template);
        assertNotEquals(CKR_OK, rv.getValue());
        assertEquals(1, Mock.callCount("C_GetAttributeValue"), "the length query only");
        assertArrayEquals(before, template, "the template is left as it was");
    }

    @Test
    void aNotificationIsAnsweredByTheLibraryWithoutCallingTheHandler() {
        boolean[] called = {false};
        OpenSessionResult r = p11.openSession(new SlotId(1), OpenSessionFlags.readWrite(),
                (s, event) -> called[0] = true);
        assertEquals(CKR_OK, r.getResult().getValue());
        assertArrayEquals(new long[] {CKR_OK}, Mock.notifySessions(NotifyEventHandler.CKN_SURRENDER));
        assertFalse(called[0]);
    }
}
