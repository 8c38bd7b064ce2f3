package quorvel.pkcs.pkcs11;

/**
 * The answer to a request for a session's information.
 */
public final class GetSessionInfoResult {

    private final SessionInformation info;
    private final ReturnValue result;

    public GetSessionInfoResult(SessionInformation info, ReturnValue result) {
        this.info = info;
        this.result = result;
    }

    /** The information; meaningless unless the code is CKR_OK. */
    public SessionInformation getInfo() {
        return info;
    }

    /** The module's return code. */
    public ReturnValue getResult() {
        return result;
    }

    @Override
    public String toString() {
        return "GetSessionInfoResult[info=" + info
                + ", result=" + result + "]";
    }
}
