package quorvel.pkcs.pkcs11;

import java.util.Arrays;

/**
 * The answer to a request for the mechanisms of a token.
 *
 * <p>The array is copied in and out, so the record cannot be changed.
 */
public final class GetMechanismListResult {

    private final MechanismType[] mechanisms;
    private final ReturnValue result;

    public GetMechanismListResult(MechanismType[] mechanisms, ReturnValue result) {
        this.mechanisms = mechanisms == null ? null : mechanisms.clone();
        this.result = result;
    }

    /** The mechanisms, or null when the call failed. */
    public MechanismType[] getMechanisms() {
        return mechanisms == null ? null : mechanisms.clone();
    }

    /** The module's return code. */
    public ReturnValue getResult() {
        return result;
    }

    @Override
    public String toString() {
        return "GetMechanismListResult[mechanisms=" + Arrays.toString(mechanisms)
                + ", result=" + result + "]";
    }
}
