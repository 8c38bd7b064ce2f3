package quorvel.pkcs.pkcs11;

/**
 * The output of a digest.
 *
 * <p>The array is copied in and out, so the record cannot be changed.
 */
public final class DigestResult {

    private final byte[] data;
    private final ReturnValue result;

    public DigestResult(byte[] data, ReturnValue result) {
        this.data = data == null ? null : data.clone();
        this.result = result;
    }

    /** The digest, or null when the call failed or gave no bytes. */
    public byte[] getData() {
        return data == null ? null : data.clone();
    }

    /** The module's return code. */
    public ReturnValue getResult() {
        return result;
    }

    @Override
    public String toString() {
        return "DigestResult[data=" + (data == null ? "null" : "byte[" + data.length + "]")
                + ", result=" + result + "]";
    }
}
