package quorvel.pkcs.pkcs11;

/** Information about a session ({@code CK_SESSION_INFO}). */
public final class SessionInformation {

    private final SlotId slotId;
    private final SessionState state;
    private final SessionInformationFlags flags;
    private final long deviceErrorCode;

    public SessionInformation(SlotId slotId, SessionState state, SessionInformationFlags flags,
            long deviceErrorCode) {
        this.slotId = slotId;
        this.state = state;
        this.flags = flags;
        this.deviceErrorCode = deviceErrorCode;
    }

    public SlotId getSlotId() {
        return slotId;
    }

    public SessionState getState() {
        return state;
    }

    public SessionInformationFlags getFlags() {
        return flags;
    }

    /** The device-specific error code ({@code ulDeviceError}), unsigned. */
    public long getDeviceErrorCode() {
        return deviceErrorCode;
    }

    @Override
    public String toString() {
        return "SessionInformation[slotId=" + slotId
                + ", state=" + state
                + ", flags=" + flags
                + ", deviceErrorCode=" + String.format("0x%08X", deviceErrorCode) + "]";
    }
}
