package quorvel.pkcs.pkcs11;

/**
 * The answer to a request that makes one key: generating, unwrapping or
 * deriving it.
 */
public final class GenerateKeyResult {

    private final Handle keyHandle;
    private final ReturnValue result;

    public GenerateKeyResult(Handle keyHandle, ReturnValue result) {
        this.keyHandle = keyHandle;
        this.result = result;
    }

    /** The new key; meaningless unless the code is CKR_OK. */
    public Handle getKeyHandle() {
        return keyHandle;
    }

    /** The module's return code. */
    public ReturnValue getResult() {
        return result;
    }

    @Override
    public String toString() {
        return "GenerateKeyResult[keyHandle=" + keyHandle
                + ", result=" + result + "]";
    }
}
