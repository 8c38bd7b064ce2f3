package quorvel.pkcs.pkcs11;

/**
 * The answer to a request for an object's size.
 */
public final class GetObjectSizeResult {

    private final long size;
    private final ReturnValue result;

    public GetObjectSizeResult(long size, ReturnValue result) {
        this.size = size;
        this.result = result;
    }

    /** The size in bytes, unsigned; meaningless unless the code is CKR_OK. */
    public long getSize() {
        return size;
    }

    /** The module's return code. */
    public ReturnValue getResult() {
        return result;
    }

    @Override
    public String toString() {
        return "GetObjectSizeResult[size=" + size
                + ", result=" + result + "]";
    }
}
