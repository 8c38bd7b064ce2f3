package quorvel.pkcs.pkcs11;

/** Test double of the mechanism flags record: its constructor refuses HW with EXTENSION. */
public final class MechanismInformationFlags {

    public MechanismInformationFlags(boolean hw, boolean encrypt, boolean decrypt, boolean digest,
            boolean sign, boolean signRecover, boolean verify, boolean verifyRecover,
            boolean generate, boolean generateKeyPair, boolean wrap, boolean unwrap, boolean derive,
            boolean ecFp, boolean ecF2m, boolean ecEcParameters, boolean ecNamedCurve,
            boolean ecUncompress, boolean ecCompress, boolean extension) {
        // Fails as an OutOfMemoryError would, for the one combination the test asks for.
        if (hw && extension) throw new IllegalStateException("flags refused");
    }
}
