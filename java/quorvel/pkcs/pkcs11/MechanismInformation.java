package quorvel.pkcs.pkcs11;

/**
 * What a token supports of one mechanism ({@code CK_MECHANISM_INFO}): the key
 * size range, in bits or bytes depending on the mechanism, and its flags.
 */
public final class MechanismInformation {

    private final int minKeySize;
    private final int maxKeySize;
    private final MechanismInformationFlags flags;

    public MechanismInformation(int minKeySize, int maxKeySize, MechanismInformationFlags flags) {
        this.minKeySize = minKeySize;
        this.maxKeySize = maxKeySize;
        this.flags = flags;
    }

    public int getMinKeySize() {
        return minKeySize;
    }

    public int getMaxKeySize() {
        return maxKeySize;
    }

    /** Always 0. */
    public int getTest() {
        return 0;
    }

    public MechanismInformationFlags getFlags() {
        return flags;
    }

    @Override
    public String toString() {
        return "MechanismInformation[minKeySize=" + minKeySize
                + ", maxKeySize=" + maxKeySize
                + ", flags=" + flags + "]";
    }
}
