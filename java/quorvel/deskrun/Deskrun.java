package quorvel.deskrun;

/**
 * Windows shell and window services of deskrun.dll.
 *
 * Nothing is loaded when the class initialises, so code that only mentions
 * it keeps working where the DLL is absent; call {@link #load(String)} or
 * {@link #loadLibrary()} once before the first native call.
 *
 * Results are the raw 32-bit Win32 values: {@code shellExecute} answers the
 * shell's instance value (above 32 on success, the shell's error code
 * otherwise); {@code enableWindow} is nonzero when the window was disabled
 * before the call; the two activation calls answer 0 when a window was found
 * and activated, nonzero when none matched.
 */
public final class Deskrun {
    /** Show commands accepted by {@link #shellExecute}; any other value shows normally. */
    public static final int SHOW_NORMAL = 0;
    public static final int HIDE = 1;
    public static final int MAXIMIZE = 2;
    public static final int MINIMIZE = 3;
    public static final int RESTORE = 4;
    public static final int SHOW = 5;
    public static final int SHOW_DEFAULT = 6;
    public static final int SHOW_MINIMIZED = 7;
    public static final int SHOW_MIN_NO_ACTIVE = 8;
    public static final int SHOW_NA = 9;
    public static final int SHOW_NO_ACTIVATE = 10;

    private Deskrun() {
    }

    /** Loads deskrun.dll from an absolute path. */
    public static void load(String path) {
        System.load(path);
    }

    /** Loads deskrun.dll from java.library.path. */
    public static void loadLibrary() {
        System.loadLibrary("deskrun");
    }

    /** Window 0 or negative: the desktop window owns any shell dialog. Null strings are allowed except the file. */
    public static native int shellExecute(int window, String operation, String file,
                                          String parameters, String directory, int showCommand);

    /** Only the low 32 bits of the window handle are used. */
    public static native int enableWindow(long window, boolean enable);

    /** Only the low 32 bits of the window handle are used. */
    public static native int setForegroundWindow(long window);

    public static native int activateCurrentWindow();

    /** Also writes "windowPID=" and the identifier to standard output, without a line feed. */
    public static native int activateWindow(int processId);

    public static native int getPID();
}
