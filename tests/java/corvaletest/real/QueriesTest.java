package corvaletest.real;

import static corvaletest.real.Tokens.*;
import static org.junit.jupiter.api.Assertions.*;

import corvaletest.modules.Probed;
import org.junit.jupiter.api.Test;
import quorvel.pkcs.pkcs11.*;
import quorvel.pkcs.pkcs11.jni.NativeCryptokiFunctions;

/**
 * SoftHSM2's answers through the bridge agree with what it tells a plain C
 * client, field by field as the modules tier compares every module.
 */
class QueriesTest {

    @Test
    void librarySlotsTokensAndMechanismsAgree() throws Exception {
        NativeCryptokiFunctions p11 = Tokens.bind("softhsm2");
        String label = uniqueLabel("queries");
        newSoftHsmToken(p11, label, "so-pin-q", "user-pin-q");
        // SoftHSM2 numbers a token's slot anew when it loads it: bind again
        // so that this process and the probe see the same numbering.
        p11.finalize();
        p11 = Tokens.bind("softhsm2");
        try {
            Probed probed = Probed.run(System.getProperty("corvale.softhsm"), p11.getTokenType(), "softhsm2");
            probed.compareInfo(p11);
            SlotId[] slots = probed.compareSlots(p11);
            TokenInformation t = token(p11, slotLabelled(p11, label));
            assertTrue(t.getFlags().isTokenInitialized() && t.getFlags().isUserPinInitialized());
            assertTrue(probed.compareMechanisms(p11, slots) > 0, "mechanisms compared");
        } finally {
            p11.finalize();
        }
    }
}
