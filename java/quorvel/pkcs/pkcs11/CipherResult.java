package quorvel.pkcs.pkcs11;

/**
 * The output of an encryption, decryption, recovery or dual-function step.
 *
 * <p>The array is copied in and out, so the record cannot be changed.
 */
public final class CipherResult {

    private final byte[] data;
    private final ReturnValue result;

    public CipherResult(byte[] data, ReturnValue result) {
        this.data = data == null ? null : data.clone();
        this.result = result;
    }

    /** The output bytes, or null when the call failed. */
    public byte[] getData() {
        return data == null ? null : data.clone();
    }

    /** The module's return code. */
    public ReturnValue getResult() {
        return result;
    }

    @Override
    public String toString() {
        return "CipherResult[data=" + (data == null ? "null" : "byte[" + data.length + "]")
                + ", result=" + result + "]";
    }
}
