package quorvel.pkcs.pkcs11;

/**
 * The flags of the Cryptoki library ({@code CK_INFO.flags}). No flag is
 * defined there, so the record carries nothing.
 */
public final class CryptokiInformationFlags {

    public CryptokiInformationFlags() {
    }

    @Override
    public boolean equals(Object other) {
        return other instanceof CryptokiInformationFlags;
    }

    @Override
    public int hashCode() {
        return 0;
    }

    @Override
    public String toString() {
        return "CryptokiInformationFlags[]";
    }
}
