package quorvel.pkcs.pkcs11;

/**
 * The saved state of the operations running in a session.
 *
 * <p>The array is copied in and out, so the record cannot be changed.
 */
public final class GetOperationStateResult {

    private final byte[] state;
    private final ReturnValue result;

    public GetOperationStateResult(byte[] state, ReturnValue result) {
        this.state = state == null ? null : state.clone();
        this.result = result;
    }

    /** The module's opaque state bytes, or null when the call failed. */
    public byte[] getState() {
        return state == null ? null : state.clone();
    }

    /** The module's return code. */
    public ReturnValue getResult() {
        return result;
    }

    @Override
    public String toString() {
        return "GetOperationStateResult["
                + "state=" + (state == null ? "null" : "byte[" + state.length + "]")
                + ", result=" + result + "]";
    }
}
