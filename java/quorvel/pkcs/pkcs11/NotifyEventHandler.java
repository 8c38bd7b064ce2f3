package quorvel.pkcs.pkcs11;

/**
 * Receiver of a session's notifications, given when the session is opened.
 *
 * <p>The native library answers the module's notifications itself (with
 * {@code CKR_OK}) and does not call this handler yet, so a session opened with
 * a handler behaves like one opened without. The library keeps a reference to
 * each handler it is given until the process ends: keep handlers small.
 */
@FunctionalInterface
public interface NotifyEventHandler {

    /** {@code CKN_SURRENDER}: the module offers to give up a long operation. */
    long CKN_SURRENDER = 0L;

    /**
     * Called with the session the notification is about and its
     * {@code CK_NOTIFICATION} code.
     */
    void handleEvent(SessionHandle session, long event);
}
