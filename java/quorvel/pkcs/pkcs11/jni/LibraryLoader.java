package quorvel.pkcs.pkcs11.jni;

import java.io.BufferedReader;
import java.io.ByteArrayOutputStream;
import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.FileAlreadyExistsException;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardCopyOption;
import java.nio.file.attribute.PosixFileAttributes;
import java.nio.file.attribute.PosixFilePermission;
import java.nio.file.attribute.PosixFilePermissions;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.util.Set;

/**
 * Loads libcorvale for {@link NativeCryptokiFunctions}, in this order: the
 * file named by the system property {@code corvale.library}; {@code corvale}
 * from {@code java.library.path} (an installed package); the copy the jar
 * carries for this JVM's architecture, extracted once into a directory of
 * the user's own under {@code corvale.native.dir} or else
 * {@code java.io.tmpdir}. When nothing loads, one line names every step
 * tried. Java 8 API only.
 */
final class LibraryLoader {

    private static final Set<PosixFilePermission> OWNER_ONLY = PosixFilePermissions.fromString("rwx------");

    private LibraryLoader() {
    }

    static void load() {
        String path = System.getProperty("corvale.library");
        if (path != null && !path.isEmpty()) {
            // Asked for by name: that file or nothing.
            try {
                System.load(path);
                return;
            } catch (UnsatisfiedLinkError e) {
                throw failure("corvale.library=" + path + " could not be loaded: " + e.getMessage(), e);
            }
        }
        UnsatisfiedLinkError byName;
        try {
            System.loadLibrary("corvale");
            return;
        } catch (UnsatisfiedLinkError e) {
            byName = e;
        }
        String fromJar = loadFromJar();
        if (fromJar == null) return;
        throw failure("corvale.library is not set; " + byName(byName) + "; the jar's copy: " + fromJar, byName);
    }

    private static UnsatisfiedLinkError failure(String what, Throwable cause) {
        UnsatisfiedLinkError error = new UnsatisfiedLinkError(("libcorvale not loaded: " + what).replace('\n', ' '));
        error.initCause(cause);
        return error;
    }

    /** What System.loadLibrary("corvale") found. */
    private static String byName(UnsatisfiedLinkError e) {
        String file = System.mapLibraryName("corvale");
        String searched = System.getProperty("java.library.path", "");
        for (String dir : searched.split(File.pathSeparator)) {
            if (!dir.isEmpty() && new File(dir, file).isFile()) {
                return "System.loadLibrary(\"corvale\") found " + new File(dir, file) + " but could not load it: "
                        + e.getMessage();
            }
        }
        return "System.loadLibrary(\"corvale\") found no " + file + " in java.library.path=" + searched;
    }

    /** Extracts and loads the jar's copy: null when loaded, else why not. */
    private static String loadFromJar() {
        String os = System.getProperty("os.name");
        String arch = System.getProperty("os.arch");
        String platform = null;
        if ("Linux".equals(os)) {
            if (arch.equals("amd64") || arch.equals("x86_64")) platform = "linux-x86_64";
            if (arch.matches("x86|i[3-6]86")) platform = "linux-x86";
        }
        if (platform == null) return "the jar carries libcorvale for Linux on x86_64 and x86 only, not " + os + " on " + arch;
        String entry = "native/" + platform + "/libcorvale.so.0";
        byte[] library;
        try (InputStream in = LibraryLoader.class.getResourceAsStream("/" + entry)) {
            if (in == null) return "no " + entry + " on the class path";
            library = readAll(in);
        } catch (IOException e) {
            return "reading " + entry + " failed: " + e;
        }
        if (musl()) {
            return "this JVM runs on musl libc (Alpine Linux?), which is not supported: the jar's " + entry
                    + " is built for glibc; build libcorvale on this system and set corvale.library to it";
        }
        String hash = sha256(library);
        String propertySet = System.getProperty("corvale.native.dir");
        String base = propertySet != null && !propertySet.isEmpty() ? propertySet : System.getProperty("java.io.tmpdir");
        Path file = null;
        try {
            Path dir = privateDirectory(Paths.get(base));
            file = dir.resolve("libcorvale-" + hash + ".so");
            // Named by its content: a file there that differs is replaced, never loaded.
            if (!hash.equals(sha256(file))) {
                Path temporary = Files.createTempFile(dir, "libcorvale-", ".tmp");
                try {
                    Files.write(temporary, library);
                    // rename(2): another JVM's identical copy may land first; either is whole.
                    Files.move(temporary, file, StandardCopyOption.ATOMIC_MOVE);
                } finally {
                    Files.deleteIfExists(temporary);
                }
                if (!hash.equals(sha256(file))) return file + " does not hold the content written to it";
            }
        } catch (IOException e) {
            return "extracting " + entry + " under " + base + " failed (" + e + "); set corvale.native.dir"
                    + " to a writable directory of your own";
        }
        try {
            System.load(file.toString());
            return null;
        } catch (UnsatisfiedLinkError e) {
            return "extracted to " + file + ", but it could not be loaded (" + e.getMessage() + "); if " + base
                    + " is mounted noexec, set corvale.native.dir to a directory that allows executable files";
        }
    }

    /** base/corvale-UID, made mode 0700; refused unless it is a directory of this user's with that mode. */
    private static Path privateDirectory(Path base) throws IOException {
        // /proc/self belongs to the process's effective user.
        int uid = (Integer) Files.getAttribute(Paths.get("/proc/self"), "unix:uid");
        Files.createDirectories(base);
        Path dir = base.resolve("corvale-" + uid);
        try {
            Files.createDirectory(dir, PosixFilePermissions.asFileAttribute(OWNER_ONLY));
            Files.setPosixFilePermissions(dir, OWNER_ONLY); // whatever the umask took away
        } catch (FileAlreadyExistsException e) {
            // Made earlier, by this user or not: checked below.
        }
        PosixFileAttributes seen = Files.readAttributes(dir, PosixFileAttributes.class, LinkOption.NOFOLLOW_LINKS);
        int owner = (Integer) Files.getAttribute(dir, "unix:uid", LinkOption.NOFOLLOW_LINKS);
        if (!seen.isDirectory() || owner != uid || !seen.permissions().equals(OWNER_ONLY)) {
            throw new IOException(dir + " is not a private directory (" + (seen.isDirectory() ? "" : "not a directory, ")
                    + "owner uid " + owner + ", mode " + PosixFilePermissions.toString(seen.permissions())
                    + "; wanted uid " + uid + ", rwx------)");
        }
        return dir;
    }

    /** Hex SHA-256 of a regular file, or null when there is none. */
    private static String sha256(Path file) throws IOException {
        if (!Files.isRegularFile(file, LinkOption.NOFOLLOW_LINKS)) return null;
        return sha256(Files.readAllBytes(file));
    }

    private static String sha256(byte[] bytes) {
        try {
            StringBuilder hex = new StringBuilder(64);
            for (byte b : MessageDigest.getInstance("SHA-256").digest(bytes)) {
                hex.append(Character.forDigit((b >> 4) & 15, 16)).append(Character.forDigit(b & 15, 16));
            }
            return hex.toString();
        } catch (NoSuchAlgorithmException e) {
            throw new IllegalStateException("every Java platform has SHA-256", e);
        }
    }

    private static byte[] readAll(InputStream in) throws IOException {
        ByteArrayOutputStream out = new ByteArrayOutputStream(1 << 20);
        byte[] buffer = new byte[1 << 16];
        for (int n; (n = in.read(buffer)) != -1; ) out.write(buffer, 0, n);
        return out.toByteArray();
    }

    /** Whether the JVM's own C library is musl: its loader is mapped into the process. */
    private static boolean musl() {
        try (BufferedReader maps = Files.newBufferedReader(Paths.get("/proc/self/maps"), StandardCharsets.ISO_8859_1)) {
            for (String line; (line = maps.readLine()) != null; ) {
                if (line.contains("/ld-musl-")) return true;
            }
        } catch (IOException e) {
            // No /proc: assume glibc, and let the loader's own message speak.
        }
        return false;
    }
}
