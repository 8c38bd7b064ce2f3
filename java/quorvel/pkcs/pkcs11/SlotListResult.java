package quorvel.pkcs.pkcs11;

import java.util.Arrays;

/**
 * The answer to a request for the slot list.
 *
 * <p>The array is copied in and out, so the record cannot be changed.
 */
public final class SlotListResult {

    private final SlotId[] slotIds;
    private final ReturnValue result;

    public SlotListResult(SlotId[] slotIds, ReturnValue result) {
        this.slotIds = slotIds == null ? null : slotIds.clone();
        this.result = result;
    }

    /** The slots, or null when the call failed. */
    public SlotId[] getSlotIds() {
        return slotIds == null ? null : slotIds.clone();
    }

    /** The module's return code. */
    public ReturnValue getReturnValue() {
        return result;
    }

    @Override
    public String toString() {
        return "SlotListResult[slotIds=" + Arrays.toString(slotIds)
                + ", result=" + result + "]";
    }
}
