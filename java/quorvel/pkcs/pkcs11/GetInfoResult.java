package quorvel.pkcs.pkcs11;

/**
 * The answer to a request for the library's information.
 */
public final class GetInfoResult {

    private final CryptokiInformation info;
    private final ReturnValue result;

    public GetInfoResult(CryptokiInformation info, ReturnValue result) {
        this.info = info;
        this.result = result;
    }

    /** The information; meaningless unless the code is CKR_OK. */
    public CryptokiInformation getInfo() {
        return info;
    }

    /** The module's return code. */
    public ReturnValue getReturnValue() {
        return result;
    }

    @Override
    public String toString() {
        return "GetInfoResult[info=" + info
                + ", result=" + result + "]";
    }
}
