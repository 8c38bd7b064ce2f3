package quorvel.pkcs.pkcs11;

/**
 * Information about a slot ({@code CK_SLOT_INFO}). The text fields keep the
 * module's full fixed width, trailing blanks included.
 */
public final class SlotInformation {

    private final String slotDescription;
    private final String manufacturerID;
    private final SlotInformationFlags flags;
    private final Version hardwareVersion;
    private final Version firmwareVersion;

    public SlotInformation(String slotDescription, String manufacturerID,
            SlotInformationFlags flags, Version hardwareVersion, Version firmwareVersion) {
        this.slotDescription = slotDescription;
        this.manufacturerID = manufacturerID;
        this.flags = flags;
        this.hardwareVersion = hardwareVersion;
        this.firmwareVersion = firmwareVersion;
    }

    public String getSlotDescription() {
        return slotDescription;
    }

    public String getManufacturerID() {
        return manufacturerID;
    }

    public SlotInformationFlags getFlags() {
        return flags;
    }

    public Version getHardwareVersion() {
        return hardwareVersion;
    }

    public Version getFirmwareVersion() {
        return firmwareVersion;
    }

    @Override
    public String toString() {
        return "SlotInformation[slotDescription=\"" + FixedText.trimmed(slotDescription) + "\""
                + ", manufacturerID=\"" + FixedText.trimmed(manufacturerID) + "\""
                + ", flags=" + flags
                + ", hardwareVersion=" + hardwareVersion
                + ", firmwareVersion=" + firmwareVersion + "]";
    }
}
