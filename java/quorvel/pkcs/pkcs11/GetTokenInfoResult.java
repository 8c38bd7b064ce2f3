package quorvel.pkcs.pkcs11;

/**
 * The answer to a request for a token's information.
 */
public final class GetTokenInfoResult {

    private final TokenInformation info;
    private final ReturnValue result;

    public GetTokenInfoResult(TokenInformation info, ReturnValue result) {
        this.info = info;
        this.result = result;
    }

    /** The information; meaningless unless the code is CKR_OK. */
    public TokenInformation getInfo() {
        return info;
    }

    /** The module's return code. */
    public ReturnValue getResult() {
        return result;
    }

    @Override
    public String toString() {
        return "GetTokenInfoResult[info=" + info
                + ", result=" + result + "]";
    }
}
