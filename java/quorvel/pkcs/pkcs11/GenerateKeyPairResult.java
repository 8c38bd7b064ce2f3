package quorvel.pkcs.pkcs11;

/**
 * The answer to a request to generate a key pair. Note the order of the
 * constructor: the private key comes first, then the public key.
 */
public final class GenerateKeyPairResult {

    private final Handle privateKeyHandle;
    private final Handle publicKeyHandle;
    private final ReturnValue result;

    public GenerateKeyPairResult(Handle privateKeyHandle, Handle publicKeyHandle,
            ReturnValue result) {
        this.privateKeyHandle = privateKeyHandle;
        this.publicKeyHandle = publicKeyHandle;
        this.result = result;
    }

    /** The new public key; meaningless unless the code is CKR_OK. */
    public Handle getPublicKeyHandle() {
        return publicKeyHandle;
    }

    /** The new private key; meaningless unless the code is CKR_OK. */
    public Handle getPrivateKeyHandle() {
        return privateKeyHandle;
    }

    /** The module's return code. */
    public ReturnValue getResult() {
        return result;
    }

    @Override
    public String toString() {
        return "GenerateKeyPairResult[privateKeyHandle=" + privateKeyHandle
                + ", publicKeyHandle=" + publicKeyHandle
                + ", result=" + result + "]";
    }
}
