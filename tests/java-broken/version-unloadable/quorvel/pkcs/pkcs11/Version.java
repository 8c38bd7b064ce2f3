package quorvel.pkcs.pkcs11;

/** A Version that cannot be loaded: its initialiser fails, so FindClass finds nothing. */
public final class Version {

    static {
        if (Boolean.parseBoolean("true")) throw new IllegalStateException("Version unloadable");
    }

    public Version(int major, int minor) {
    }

    public int getMajor() {
        return 0;
    }

    public int getMinor() {
        return 0;
    }
}
