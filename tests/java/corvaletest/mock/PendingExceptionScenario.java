package corvaletest.mock;

import corvaletest.Mock;
import quorvel.pkcs.pkcs11.*;
import quorvel.pkcs.pkcs11.jni.NativeCryptokiFunctions;

/**
 * Child of PendingExceptionTest, run with a broken value class first on the
 * class path. Argument "encrypt": C_Encrypt answers a code whose ReturnValue
 * cannot be made. Argument "mechanism": the mechanism's flags cannot be made.
 * The native must raise that exception and make no further JNI call (with
 * -Xcheck:jni, any call made while the exception is pending is reported);
 * the binding works afterwards.
 */
public final class PendingExceptionScenario {

    public static void main(String[] args) {
        NativeCryptokiFunctions p11 = Mock.bound();
        SessionHandle s = p11.openSession(new SlotId(1), OpenSessionFlags.readWrite()).getHandle();
        String raised = "nothing";
        try {
            if (args[0].equals("encrypt")) {
                Mock.setRv("C_Encrypt", 1, 0x87654321L);
                raised = "a result " + p11.encrypt(s, new byte[] {1, 2, 3}, 0, 3);
            } else {
                Mock.setMechanismInfo(0x80000001L, 1, 2, MechanismInformationFlags.CKF_HW
                        | MechanismInformationFlags.CKF_EXTENSION);
                int[] sizes = {-1, -1};
                MechanismInformationFlags[] flags = new MechanismInformationFlags[1];
                raised = "a result " + p11.getMechanismInfo(new SlotId(1), new MechanismType(0x80000001L), flags, sizes);
            }
        } catch (IllegalStateException e) {
            raised = e.getMessage();
        }
        System.out.println("raised " + raised);
        p11.encryptInit(s, MechanismType.CKM_AES_CBC_PAD, null, new Handle(Mock.AES_KEY));
        CipherResult ok = p11.encrypt(s, new byte[] {1}, 0, 1);
        System.out.println("then rv=" + ok.getResult().getValue());
        p11.finalize();
    }
}
