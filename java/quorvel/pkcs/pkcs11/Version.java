package quorvel.pkcs.pkcs11;

/** A {@code CK_VERSION}: two bytes, each 0 to 255. */
public final class Version {

    private final int major;
    private final int minor;

    public Version(int major, int minor) {
        this.major = major;
        this.minor = minor;
    }

    public int getMajor() {
        return major;
    }

    public int getMinor() {
        return minor;
    }

    @Override
    public boolean equals(Object other) {
        if (!(other instanceof Version)) {
            return false;
        }
        Version that = (Version) other;
        return that.major == major && that.minor == minor;
    }

    @Override
    public int hashCode() {
        return 31 * major + minor;
    }

    /** The minor byte is the part after the point, so 2/1 reads "2.01" and 2/20 "2.20". */
    @Override
    public String toString() {
        return minor >= 0 && minor < 10 ? major + ".0" + minor : major + "." + minor;
    }
}
