package corvaletest.mock;

import java.util.function.Consumer;

/**
 * Child-JVM program for DumpsTest: drives libcorvale's exported dump
 * functions through a test JNI library and brackets each dump with markers,
 * all written by C stdio so that stderr keeps the order of the calls.
 */
public final class DumpProbe {

    static {
        System.load(System.getProperty("corvale.build") + "/tests/lib/libdumpprobe.so");
    }

    static native void mark(String text);
    static native void printTemplate(long[] types, byte[][] values, long[] lengths);
    static native void dumpTemplate(long[] types, byte[][] values, long[] lengths);
    static native void dumpCharArray(char[] array);
    static native void dumpCharArrayArray(char[][] array);
    static native void dumpByteArray(byte[] array);
    static native void dumpIntArray(int[] array);
    static native void dumpObjectArray(Object[] array);
    /** throwException(env, className, "%s #%d", text, number). */
    static native int throwException(String className, String text, int number);

    static final long UNAVAILABLE = -1L;

    private static void step(String name, Runnable dump) {
        mark("<" + name + ">");
        dump.run();
        mark("</" + name + ">\n");
    }

    public static void main(String[] args) {
        long[] types = {0x0L, 0x11L, 0x80000001L, 0x3L, 0x2L};
        byte[][] values = {new byte[] {(byte) 0x80, 0x00, 0x7f}, new byte[0], null, new byte[] {1, 2}, new byte[] {9}};
        long[] lengths = {3, 0, 0, UNAVAILABLE, 1};
        step("print", () -> printTemplate(types, values, lengths));
        step("print-empty", () -> printTemplate(new long[0], new byte[0][], new long[0]));
        step("dump", () -> dumpTemplate(types, values, lengths));
        step("dump-empty", () -> dumpTemplate(new long[0], new byte[0][], new long[0]));
        step("chars", () -> dumpCharArray(new char[] {'A', 'B', '\u0141'}));
        step("chars-empty", () -> dumpCharArray(new char[0]));
        step("chars-null", () -> dumpCharArray(null));
        step("char-arrays", () -> dumpCharArrayArray(new char[][] {{'x'}, null, {}}));
        step("char-arrays-one-null", () -> dumpCharArrayArray(new char[][] {null}));
        step("char-arrays-null", () -> dumpCharArrayArray(null));
        step("bytes", () -> dumpByteArray(new byte[] {-1, 0, 16}));
        step("bytes-null", () -> dumpByteArray(null));
        step("ints", () -> dumpIntArray(new int[] {-7, 0, 2147483647}));
        step("ints-empty", () -> dumpIntArray(new int[0]));
        step("ints-null", () -> dumpIntArray(null));
        step("objects", () -> dumpObjectArray(new Object[] {"a", null, 3}));
        step("objects-null", () -> dumpObjectArray(null));
    }
}
