package corvaletest;

import quorvel.pkcs.pkcs11.GetTokenInfoResult;
import quorvel.pkcs.pkcs11.SlotId;
import quorvel.pkcs.pkcs11.SlotListResult;
import quorvel.pkcs.pkcs11.TokenInformation;
import quorvel.pkcs.pkcs11.jni.NativeCryptokiFunctions;

/**
 * A child-JVM script: binds the module named by the first argument and asks
 * for the token information of every slot with a token, twice, printing one
 * line per answer:
 *   token rv=0 label=[...] clock=<epoch millis or null>
 * and "exception <class>" if anything reaches Java. Used with deliberately
 * broken DateHelper classes first on the class path.
 */
public final class TokenInfoScenario {

    public static void main(String[] args) {
        NativeCryptokiFunctions p11 = new NativeCryptokiFunctions();
        try {
            if (p11.doInitialize(args[0]) != 1) {
                System.out.println("refused");
                return;
            }
            SlotListResult slots = p11.getSlotList(true);
            for (int round = 0; round < 2; round++) {
                for (SlotId slot : slots.getSlotIds()) {
                    GetTokenInfoResult r = p11.getTokenInfo(slot);
                    TokenInformation t = r.getInfo();
                    System.out.println("token rv=" + r.getResult().getValue()
                            + " label=[" + (t == null ? null : t.getLabel()) + "]"
                            + " clock=" + (t == null || t.getUTCTime() == null ? null : t.getUTCTime().getTime()));
                }
            }
        } catch (Throwable e) {
            System.out.println("exception " + e.getClass().getName());
        } finally {
            p11.finalize();
        }
        System.out.flush();
    }
}
