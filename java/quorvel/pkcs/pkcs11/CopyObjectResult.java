package quorvel.pkcs.pkcs11;

/**
 * The answer to a request to copy an object.
 */
public final class CopyObjectResult {

    private final Handle objectHandle;
    private final ReturnValue result;

    public CopyObjectResult(Handle objectHandle, ReturnValue result) {
        this.objectHandle = objectHandle;
        this.result = result;
    }

    /** The copy; meaningless unless the code is CKR_OK. */
    public Handle getObjectHandle() {
        return objectHandle;
    }

    /** The module's return code. */
    public ReturnValue getResult() {
        return result;
    }

    @Override
    public String toString() {
        return "CopyObjectResult[objectHandle=" + objectHandle
                + ", result=" + result + "]";
    }
}
