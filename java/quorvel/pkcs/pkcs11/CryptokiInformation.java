package quorvel.pkcs.pkcs11;

/**
 * General information about the Cryptoki library ({@code CK_INFO}). The text
 * fields keep the module's full fixed width, trailing blanks included.
 */
public final class CryptokiInformation {

    private final Version version;
    private final String manufacturerID;
    private final CryptokiInformationFlags flags;
    private final String libraryDescription;
    private final Version libraryVersion;

    public CryptokiInformation(Version version, String manufacturerID,
            CryptokiInformationFlags flags, String libraryDescription, Version libraryVersion) {
        this.version = version;
        this.manufacturerID = manufacturerID;
        this.flags = flags;
        this.libraryDescription = libraryDescription;
        this.libraryVersion = libraryVersion;
    }

    /** The Cryptoki interface version the library implements. */
    public Version getVersion() {
        return version;
    }

    public String getManufacturerID() {
        return manufacturerID;
    }

    public CryptokiInformationFlags getFlags() {
        return flags;
    }

    public String getLibraryDescription() {
        return libraryDescription;
    }

    public Version getLibraryVersion() {
        return libraryVersion;
    }

    @Override
    public String toString() {
        return "CryptokiInformation[version=" + version
                + ", manufacturerID=\"" + FixedText.trimmed(manufacturerID) + "\""
                + ", libraryDescription=\"" + FixedText.trimmed(libraryDescription) + "\""
                + ", libraryVersion=" + libraryVersion + "]";
    }
}
