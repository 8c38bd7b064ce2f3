import quorvel.pkcs.pkcs11.jni.NativeCryptokiFunctions;

/**
 * A tour of a PKCS#11 module through libcorvale.
 *   java -Dcorvale.library=build/linux-x64/libcorvale.so.0 CorvaleDemo [--module NAME]...
 */
public final class CorvaleDemo {

    private static final String[] KINDS = {"generic", "kulm", "softoken"};

    public static void main(String[] args) {
        java.util.List<String> modules = new java.util.ArrayList<>();
        for (int i = 0; i < args.length; i++) {
            if (args[i].equals("--module") && i + 1 < args.length) {
                modules.add(args[++i]);
            } else {
                System.err.println("usage: CorvaleDemo [--module NAME]...");
                System.exit(2);
            }
        }
        if (modules.isEmpty()) {
            modules.add("softhsm2");
            modules.add("softoken");
        }
        for (String module : modules) {
            tour(module);
        }
    }

    private static void tour(String module) {
        System.out.println("== Module \"" + module + "\" (file lib" + module + ".so)");
        NativeCryptokiFunctions p11 = new NativeCryptokiFunctions();
        int bound = p11.doInitialize(module);
        System.out.printf("   doInitialize        %d (%s)%n", bound, bound == 1 ? "bound and initialised" : "C_Initialize refused");
        System.out.printf("   kind                %d (%s)%n", p11.getTokenType(), KINDS[p11.getTokenType()]);
        System.out.printf("   function table      0x%x%n", p11.getFunctionsPtr());
        System.out.printf("   library handle      0x%x%n", p11.getLibraryHandlePtr());
        System.out.printf("   unsupported         %s%n", p11.getUnsupported().isEmpty() ? "none" : p11.getUnsupported());
        p11.finalize();
        System.out.printf("   finalized           table 0x%x, handle 0x%x%n", p11.getFunctionsPtr(), p11.getLibraryHandlePtr());
        System.out.println();
    }
}
