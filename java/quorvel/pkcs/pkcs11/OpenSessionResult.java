package quorvel.pkcs.pkcs11;

/**
 * The answer to a request to open a session.
 */
public final class OpenSessionResult {

    private final SessionHandle handle;
    private final ReturnValue result;

    public OpenSessionResult(SessionHandle handle, ReturnValue result) {
        this.handle = handle;
        this.result = result;
    }

    /** The new session; meaningless unless the code is CKR_OK. */
    public SessionHandle getHandle() {
        return handle;
    }

    /** The module's return code. */
    public ReturnValue getResult() {
        return result;
    }

    @Override
    public String toString() {
        return "OpenSessionResult[handle=" + handle
                + ", result=" + result + "]";
    }
}
