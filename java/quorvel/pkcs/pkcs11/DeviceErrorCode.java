package quorvel.pkcs.pkcs11;

/**
 * Marker for a device-specific error code. It carries nothing: the code itself
 * comes as a number, see {@link SessionInformation#getDeviceErrorCode()}.
 */
public final class DeviceErrorCode {

    public DeviceErrorCode() {
    }

    @Override
    public String toString() {
        return "DeviceErrorCode";
    }
}
