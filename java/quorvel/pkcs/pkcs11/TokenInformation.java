package quorvel.pkcs.pkcs11;

import java.util.Date;

/**
 * Information about a token ({@code CK_TOKEN_INFO}). The text fields keep the
 * module's full fixed width, trailing blanks included. Counts and sizes are
 * unsigned; {@link #UNAVAILABLE_INFORMATION} in one of them means the token
 * does not say (in the two PIN lengths that value reads as -1).
 */
public final class TokenInformation {

    /** {@code CK_UNAVAILABLE_INFORMATION} as it arrives in the {@code long} fields. */
    public static final long UNAVAILABLE_INFORMATION = 0xFFFFFFFFL;
    /** {@code CK_EFFECTIVELY_INFINITE}, used by the session limits. */
    public static final long EFFECTIVELY_INFINITE = 0L;

    private final String label;
    private final String manufacturerID;
    private final String model;
    private final String serialNumber;
    private final TokenInformationFlags flags;
    private final long maxSessionCount;
    private final long sessionCount;
    private final long maxReadWriteSessionCount;
    private final long readWriteSessionCount;
    private final int maxPinLen;
    private final int minPinLen;
    private final long totalPublicMemory;
    private final long freePublicMemory;
    private final long totalPrivateMemory;
    private final long freePrivateMemory;
    private final Version hardwareVersion;
    private final Version firmwareVersion;
    private final Date utcTime;

    public TokenInformation(String label, String manufacturerID, String model,
            String serialNumber, TokenInformationFlags flags, long maxSessionCount,
            long sessionCount, long maxReadWriteSessionCount, long readWriteSessionCount,
            int maxPinLen, int minPinLen, long totalPublicMemory, long freePublicMemory,
            long totalPrivateMemory, long freePrivateMemory, Version hardwareVersion,
            Version firmwareVersion, Date utcTime) {
        this.label = label;
        this.manufacturerID = manufacturerID;
        this.model = model;
        this.serialNumber = serialNumber;
        this.flags = flags;
        this.maxSessionCount = maxSessionCount;
        this.sessionCount = sessionCount;
        this.maxReadWriteSessionCount = maxReadWriteSessionCount;
        this.readWriteSessionCount = readWriteSessionCount;
        this.maxPinLen = maxPinLen;
        this.minPinLen = minPinLen;
        this.totalPublicMemory = totalPublicMemory;
        this.freePublicMemory = freePublicMemory;
        this.totalPrivateMemory = totalPrivateMemory;
        this.freePrivateMemory = freePrivateMemory;
        this.hardwareVersion = hardwareVersion;
        this.firmwareVersion = firmwareVersion;
        // Date is mutable; copy it so the record stays as it was made.
        this.utcTime = utcTime == null ? null : new Date(utcTime.getTime());
    }

    public String getLabel() {
        return label;
    }

    /** The manufacturer's identifier; the native library calls it by this spelling. */
    public String getManufacterID() {
        return manufacturerID;
    }

    /** Same as {@link #getManufacterID()}, spelled as in the other information records. */
    public String getManufacturerID() {
        return manufacturerID;
    }

    public String getModel() {
        return model;
    }

    public String getSerialNumber() {
        return serialNumber;
    }

    public TokenInformationFlags getFlags() {
        return flags;
    }

    public long getMaxSessionCount() {
        return maxSessionCount;
    }

    public long getSessionCount() {
        return sessionCount;
    }

    public long getMaxReadWriteSessionCount() {
        return maxReadWriteSessionCount;
    }

    public long getReadWriteSessionCount() {
        return readWriteSessionCount;
    }

    public int getMaxPinLen() {
        return maxPinLen;
    }

    public int getMinPinLen() {
        return minPinLen;
    }

    public long getTotalPublicMemory() {
        return totalPublicMemory;
    }

    public long getFreePublicMemory() {
        return freePublicMemory;
    }

    public long getTotalPrivateMemory() {
        return totalPrivateMemory;
    }

    public long getFreePrivateMemory() {
        return freePrivateMemory;
    }

    public Version getHardwareVersion() {
        return hardwareVersion;
    }

    public Version getFirmwareVersion() {
        return firmwareVersion;
    }

    /** The token's clock, or null when it has none or its text could not be read. */
    public Date getUTCTime() {
        return utcTime == null ? null : new Date(utcTime.getTime());
    }

    @Override
    public String toString() {
        return "TokenInformation[label=\"" + FixedText.trimmed(label) + "\""
                + ", manufacturerID=\"" + FixedText.trimmed(manufacturerID) + "\""
                + ", model=\"" + FixedText.trimmed(model) + "\""
                + ", serialNumber=\"" + FixedText.trimmed(serialNumber) + "\""
                + ", flags=" + flags
                + ", sessions=" + count(sessionCount) + " of " + count(maxSessionCount)
                + ", rwSessions=" + count(readWriteSessionCount) + " of "
                + count(maxReadWriteSessionCount)
                + ", pinLen=" + count(minPinLen & 0xFFFFFFFFL) + ".."
                + count(maxPinLen & 0xFFFFFFFFL)
                + ", publicMemory=" + count(freePublicMemory) + " free of "
                + count(totalPublicMemory)
                + ", privateMemory=" + count(freePrivateMemory) + " free of "
                + count(totalPrivateMemory)
                + ", hardwareVersion=" + hardwareVersion
                + ", firmwareVersion=" + firmwareVersion
                + ", utcTime=" + (utcTime == null ? null : utcTime.toInstant()) + "]";
    }

    private static String count(long value) {
        return value == UNAVAILABLE_INFORMATION ? "n/a" : Long.toString(value);
    }
}
