package corvaletest.mock;

import static org.junit.jupiter.api.Assertions.*;

import corvaletest.Mock;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import quorvel.pkcs.pkcs11.SlotId;
import quorvel.pkcs.pkcs11.jni.NativeCryptokiFunctions;

/** A fresh mock, bound, with an empty call log. */
abstract class MockBound {

    static final SlotId SLOT = new SlotId(1);

    NativeCryptokiFunctions p11;

    @BeforeEach
    void bind() {
        Mock.resetAll();
        p11 = new NativeCryptokiFunctions();
        assertEquals(1, p11.doInitialize("mock"));
        Mock.clearCalls();
    }

    @AfterEach
    void unbind() {
        p11.finalize();
    }

    /** Scripts the n-th call of the function from now on. */
    static void nextRv(String function, int n, long rv) {
        Mock.setRv(function, Mock.callCount(function) + n, rv);
    }
}
