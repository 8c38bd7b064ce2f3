package quorvel.pkcs.pkcs11.jni;

import java.util.Collections;
import java.util.LinkedHashSet;
import java.util.Set;

import quorvel.pkcs.pkcs11.*;

/**
 * One binding of a PKCS#11 module. Every native below is one Cryptoki
 * function of the module bound by {@link #doInitialize(String)}; module
 * errors come back as the {@link ReturnValue}, never as exceptions.
 *
 * <p>The native library is loaded from the path in the system property
 * {@code corvale.library} when it is set, otherwise as {@code corvale} from
 * {@code java.library.path}, otherwise from the jar's own copy for this
 * JVM's architecture, extracted once under {@code corvale.native.dir} (by
 * default {@code java.io.tmpdir}).
 */
public class NativeCryptokiFunctions {

    static {
        LibraryLoader.load();
    }

    /** Module kinds stored in {@link #tokenType}. */
    public static final int TOKEN_GENERIC = 0;
    public static final int TOKEN_KULM = 1;
    public static final int TOKEN_SOFTOKEN = 2;

    // Written by the native library only.
    protected int tokenType;
    protected long functionsPtr;
    protected long libraryHandlePtr;

    private final Set<String> unsupported = new LinkedHashSet<>();

    /** Called by the library while binding a module that lacks an optional function. */
    public void setUnsupported(String functionName) {
        synchronized (unsupported) {
            unsupported.add(functionName);
        }
    }

    public Set<String> getUnsupported() {
        synchronized (unsupported) {
            return Collections.unmodifiableSet(new LinkedHashSet<>(unsupported));
        }
    }

    public boolean isSupported(String functionName) {
        synchronized (unsupported) {
            return !unsupported.contains(functionName);
        }
    }

    public int getTokenType() { return tokenType; }
    public long getFunctionsPtr() { return functionsPtr; }
    public long getLibraryHandlePtr() { return libraryHandlePtr; }
    public boolean isBound() { return functionsPtr != 0; }

    // Lifecycle

    /** Loads "lib" + name + ".so" and initialises it: 1 when bound, 0 when C_Initialize refused. */
    public native int doInitialize(String moduleName);
    public native int doInitialize();
    /** C_Finalize, unload; safe to call again (the collector's call then does nothing). */
    @Override
    @SuppressWarnings("deprecation")
    public native void finalize();
    public native boolean check();
    public native GenerateKeyResult deriveKeyNative(SessionHandle session, MechanismType mechanism,
            byte[] parameter, Handle baseKey, TemplateAttribute[] template);
    public native ReturnValue getFunctionStatus(SessionHandle session);
    public native ReturnValue cancelFunction(SessionHandle session);

    // Attribute value codecs (sizes follow the native CK_ULONG)

    public static native int getULongSize();
    public static native int getBoolSize();
    public static native int getDateSize();
    public static native void encodeULong(long value, byte[] destination);
    public static native long decodeULong(byte[] source);
    public static native void encodeBool(boolean value, byte[] destination);
    public static native boolean decodeBool(byte[] source);
    public static native void encodeDate(String day, String month, String year, byte[] destination);
    public static native void decodeDate(byte[] source, String[] dayMonthYear);

    // Library, slot, token and mechanism queries

    public native GetInfoResult getInfo();
    public native SlotListResult getSlotList(boolean tokenPresent);
    public native GetSlotInfoResult getSlotInfo(SlotId slot);
    public native GetTokenInfoResult getTokenInfo(SlotId slot);
    public native GetMechanismListResult getMechanismList(SlotId slot);
    /** flags[0] receives the flags; keySizes[0] and [1] the minimum and maximum key size. */
    public native ReturnValue getMechanismInfo(SlotId slot, MechanismType type,
            MechanismInformationFlags[] flags, int[] keySizes);
    public native WaitForSlotEventResult _waitForSlotEvent(boolean wait);

    /** C_WaitForSlotEvent; without wait it returns CKR_NO_EVENT at once when nothing happened. */
    public WaitForSlotEventResult waitForSlotEvent(boolean wait) {
        return _waitForSlotEvent(wait);
    }

    // Token initialisation, PINs and login

    public native ReturnValue initToken(SlotId slot, String soPin, String label);
    public native ReturnValue initPIN(SessionHandle session, String pin);
    public native ReturnValue setPIN(SessionHandle session, String oldPin, String newPin);
    public native ReturnValue login(SessionHandle session, UserType userType, String pin);
    public native ReturnValue logout(SessionHandle session);

    // Sessions and operation state

    public native OpenSessionResult openSession(SlotId slot, OpenSessionFlags flags);
    public native OpenSessionResult openSession(SlotId slot, OpenSessionFlags flags,
            NotifyEventHandler handler);
    public native ReturnValue closeSession(SessionHandle session);
    public native ReturnValue closeAllSessions(SlotId slot);
    public native GetSessionInfoResult getSessionInfo(SessionHandle session);
    public native GetOperationStateResult getOperationState(SessionHandle session);
    public native ReturnValue setOperationState(SessionHandle session, byte[] state,
            Handle encryptionKey, Handle authenticationKey);

    // Objects

    public native CreateObjectResult createObjectNative(SessionHandle session, TemplateAttribute[] template);
    public native CopyObjectResult copyObjectNative(SessionHandle session, Handle object,
            TemplateAttribute[] template);
    public native ReturnValue destroyObject(SessionHandle session, Handle object);
    public native GetObjectSizeResult getObjectSize(SessionHandle session, Handle object);
    /** Replaces every element of the template with the object's value, or changes nothing. */
    public native ReturnValue getAttributeValueNative(SessionHandle session, Handle object,
            TemplateAttribute[] template);
    public native ReturnValue setAttributeValueNative(SessionHandle session, Handle object,
            TemplateAttribute[] template);
    public native ReturnValue findObjectsInitNative(SessionHandle session, TemplateAttribute[] template);
    public native FindObjectsResult findObjects(SessionHandle session, Handle[] found);
    public native ReturnValue findObjectsFinal(SessionHandle session);

    // Cryptographic operations

    public native ReturnValue encryptInit(SessionHandle session, MechanismType mechanism,
            byte[] parameter, Handle key);
    public native ReturnValue decryptInit(SessionHandle session, MechanismType mechanism,
            byte[] parameter, Handle key);
    public native ReturnValue digestInit(SessionHandle session, MechanismType mechanism, byte[] parameter);
    public native ReturnValue signInit(SessionHandle session, MechanismType mechanism,
            byte[] parameter, Handle key);
    public native ReturnValue signRecoverInit(SessionHandle session, MechanismType mechanism,
            byte[] parameter, Handle key);
    public native ReturnValue verifyInit(SessionHandle session, MechanismType mechanism,
            byte[] parameter, Handle key);
    public native ReturnValue verifyRecoverInit(SessionHandle session, MechanismType mechanism,
            byte[] parameter, Handle key);

    public native CipherResult encrypt(SessionHandle session, byte[] data, int offset, int length);
    public native CipherResult decrypt(SessionHandle session, byte[] data, int offset, int length);
    public native DigestResult digest(SessionHandle session, byte[] data, int offset, int length);
    public native SignResult sign(SessionHandle session, byte[] data, int offset, int length);
    public native CipherResult signRecover(SessionHandle session, byte[] data, int offset, int length);
    public native CipherResult encryptUpdate(SessionHandle session, byte[] data, int offset, int length);
    public native CipherResult decryptUpdate(SessionHandle session, byte[] data, int offset, int length);
    public native CipherResult digestEncryptUpdate(SessionHandle session, byte[] data, int offset, int length);
    public native CipherResult decryptDigestUpdate(SessionHandle session, byte[] data, int offset, int length);
    public native CipherResult signEncryptUpdate(SessionHandle session, byte[] data, int offset, int length);
    public native CipherResult decryptVerifyUpdate(SessionHandle session, byte[] data, int offset, int length);
    public native CipherResult verifyRecover(SessionHandle session, byte[] signature);

    public native CipherResult encryptFinal(SessionHandle session);
    public native CipherResult decryptFinal(SessionHandle session);
    public native DigestResult digestFinal(SessionHandle session);
    public native SignResult signFinal(SessionHandle session);

    public native ReturnValue digestUpdate(SessionHandle session, byte[] data, int offset, int length);
    public native ReturnValue signUpdate(SessionHandle session, byte[] data, int offset, int length);
    public native ReturnValue verifyUpdate(SessionHandle session, byte[] data, int offset, int length);
    public native ReturnValue digestKey(SessionHandle session, Handle key);
    public native ReturnValue verify(SessionHandle session, byte[] data, int offset, int length,
            byte[] signature);
    public native ReturnValue verifyFinal(SessionHandle session, byte[] signature);

    // Keys and random numbers

    public native GenerateKeyResult generateKeyNative(SessionHandle session, MechanismType mechanism,
            byte[] parameter, TemplateAttribute[] template);
    /** The result holds the private key first, then the public key. */
    public native GenerateKeyPairResult generateKeyPairNative(SessionHandle session,
            MechanismType mechanism, byte[] parameter, TemplateAttribute[] publicKeyTemplate,
            TemplateAttribute[] privateKeyTemplate);
    public native WrapKeyResult wrapKey(SessionHandle session, MechanismType mechanism,
            byte[] parameter, Handle wrappingKey, Handle key);
    public native GenerateKeyResult unwrapKeyNative(SessionHandle session, MechanismType mechanism,
            byte[] parameter, Handle unwrappingKey, byte[] wrappedKey, TemplateAttribute[] template);
    public native ReturnValue seedRandom(SessionHandle session, byte[] seed);
    public native ReturnValue generateRandom(SessionHandle session, byte[] buffer);
}
