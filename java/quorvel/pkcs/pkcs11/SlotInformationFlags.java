package quorvel.pkcs.pkcs11;

/**
 * The flags of a slot ({@code CK_SLOT_INFO.flags}), one boolean per flag.
 */
public final class SlotInformationFlags {

    public static final long CKF_TOKEN_PRESENT = 0x1L;
    public static final long CKF_REMOVABLE_DEVICE = 0x2L;
    public static final long CKF_HW_SLOT = 0x4L;

    private static final long[] BITS = {
        CKF_TOKEN_PRESENT, CKF_REMOVABLE_DEVICE, CKF_HW_SLOT,
    };
    private static final String[] NAMES = {
        "CKF_TOKEN_PRESENT", "CKF_REMOVABLE_DEVICE", "CKF_HW_SLOT",
    };

    private final boolean tokenPresent;
    private final boolean removableDevice;
    private final boolean hardwareSlot;

    /** One argument per flag, in the order of the constants above. */
    public SlotInformationFlags(boolean tokenPresent, boolean removableDevice,
            boolean hardwareSlot) {
        this.tokenPresent = tokenPresent;
        this.removableDevice = removableDevice;
        this.hardwareSlot = hardwareSlot;
    }

    /** The flags set in a {@code CK_FLAGS} word; bits without a constant here are dropped. */
    public static SlotInformationFlags fromBits(long bits) {
        boolean[] set = new boolean[BITS.length];
        for (int i = 0; i < BITS.length; i++) {
            set[i] = (bits & BITS[i]) != 0;
        }
        return new SlotInformationFlags(set[0], set[1], set[2]);
    }

    /** {@code CKF_TOKEN_PRESENT}: a token is in the slot. */
    public boolean isTokenPresent() {
        return tokenPresent;
    }

    /** {@code CKF_REMOVABLE_DEVICE}: the reader supports removable devices. */
    public boolean isRemovableDevice() {
        return removableDevice;
    }

    /** {@code CKF_HW_SLOT}: the slot is a hardware slot, not a software one. */
    public boolean isHardwareSlot() {
        return hardwareSlot;
    }

    /** The flags as a {@code CK_FLAGS} word. */
    public long toBits() {
        boolean[] set = values();
        long bits = 0L;
        for (int i = 0; i < BITS.length; i++) {
            if (set[i]) {
                bits |= BITS[i];
            }
        }
        return bits;
    }

    private boolean[] values() {
        return new boolean[] {
            tokenPresent, removableDevice, hardwareSlot,
        };
    }

    @Override
    public boolean equals(Object other) {
        return other instanceof SlotInformationFlags
                && ((SlotInformationFlags) other).toBits() == toBits();
    }

    @Override
    public int hashCode() {
        return Long.hashCode(toBits());
    }

    /** The names of the flags that are set, e.g. "SlotInformationFlags[CKF_TOKEN_PRESENT]". */
    @Override
    public String toString() {
        boolean[] set = values();
        StringBuilder text = new StringBuilder("SlotInformationFlags[");
        String separator = "";
        for (int i = 0; i < set.length; i++) {
            if (set[i]) {
                text.append(separator).append(NAMES[i]);
                separator = ", ";
            }
        }
        return text.append(']').toString();
    }
}
