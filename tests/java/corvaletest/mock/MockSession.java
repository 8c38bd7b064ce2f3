package corvaletest.mock;

import static org.junit.jupiter.api.Assertions.*;

import corvaletest.Mock;
import java.util.List;
import org.junit.jupiter.api.BeforeEach;
import quorvel.pkcs.pkcs11.*;

/** A fresh mock, bound, with read-write session 1 open and an empty call log. */
abstract class MockSession extends MockBound {

    static final long CKR_OK = 0, CKR_GENERAL_ERROR = 0x5, CKR_ARGUMENTS_BAD = 0x7;
    static final long CKR_BUFFER_TOO_SMALL = 0x150, CKR_CRYPTOKI_NOT_INITIALIZED = 0x190;
    static final Handle AES_KEY = new Handle(Mock.AES_KEY);

    SessionHandle session;

    @BeforeEach
    void open() {
        OpenSessionResult r = p11.openSession(SLOT, OpenSessionFlags.readWrite());
        assertEquals(CKR_OK, r.getResult().getValue());
        session = r.getHandle();
        assertEquals(1, session.getHandle());
        Mock.clearCalls();
    }

    void bindAndOpen() {
        bind();
        open();
    }

    /** The module saw exactly these calls since the last check; the log is then emptied. */
    static void assertCalls(String... lines) {
        assertEquals(List.of(lines), List.of(Mock.calls()));
        Mock.clearCalls();
    }

    /** The module saw no call since the last check. */
    static void assertNoCalls() {
        assertCalls();
    }

    static void assertRv(long expected, ReturnValue rv) {
        assertNotNull(rv);
        assertEquals(expected, rv.getValue(), rv::toString);
    }

    static String hex(byte[] b) {
        return Mock.hex(b);
    }

    /** A number as the log shows a CK_ULONG made from a Java long. */
    static String logged(long v) {
        return Mock.is32Bit() ? Long.toString(v & 0xFFFFFFFFL) : Long.toUnsignedString(v);
    }
}
