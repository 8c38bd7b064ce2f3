package quorvel.pkcs.pkcs11;

/**
 * The answer to a request to create an object.
 */
public final class CreateObjectResult {

    private final Handle objectHandle;
    private final ReturnValue result;

    public CreateObjectResult(Handle objectHandle, ReturnValue result) {
        this.objectHandle = objectHandle;
        this.result = result;
    }

    /** The new object; meaningless unless the code is CKR_OK. */
    public Handle getObjectHandle() {
        return objectHandle;
    }

    /** The module's return code. */
    public ReturnValue getResult() {
        return result;
    }

    @Override
    public String toString() {
        return "CreateObjectResult[objectHandle=" + objectHandle
                + ", result=" + result + "]";
    }
}
