package quorvel.pkcs.pkcs11;

/**
 * The answer to a wait for a slot event.
 */
public final class WaitForSlotEventResult {

    private final SlotId slotId;
    private final ReturnValue result;

    public WaitForSlotEventResult(SlotId slotId, ReturnValue result) {
        this.slotId = slotId;
        this.result = result;
    }

    /** The slot where the event happened; meaningless unless the code is CKR_OK. */
    public SlotId getSlotId() {
        return slotId;
    }

    /** The module's return code. */
    public ReturnValue getResult() {
        return result;
    }

    @Override
    public String toString() {
        return "WaitForSlotEventResult[slotId=" + slotId
                + ", result=" + result + "]";
    }
}
