package quorvel.pkcs.pkcs11;

/**
 * The answer to a request for a slot's information.
 */
public final class GetSlotInfoResult {

    private final SlotInformation info;
    private final ReturnValue result;

    public GetSlotInfoResult(SlotInformation info, ReturnValue result) {
        this.info = info;
        this.result = result;
    }

    /** The information; meaningless unless the code is CKR_OK. */
    public SlotInformation getInfo() {
        return info;
    }

    /** The module's return code. */
    public ReturnValue getResult() {
        return result;
    }

    @Override
    public String toString() {
        return "GetSlotInfoResult[info=" + info
                + ", result=" + result + "]";
    }
}
