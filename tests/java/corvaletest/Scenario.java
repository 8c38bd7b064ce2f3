package corvaletest;

import quorvel.pkcs.pkcs11.*;
import quorvel.pkcs.pkcs11.jni.NativeCryptokiFunctions;

/**
 * A child-JVM script over one binding object. Steps:
 *   init NAME | init-null | finalize | loud
 *   use VARIANT | null-entry FUNCTION | rv FUNCTION CODE | list-null | chain VARIANT   (mock module scripting)
 *   destroy-object   (on a new session of slot 1: what destroyObject did, and the module's count of the call)
 * "loud" switches to an object whose setUnsupported reports on stderr, so the
 * order of that call and the library's own message can be seen.
 */
public final class Scenario {

    static final class Loud extends NativeCryptokiFunctions {
        @Override
        public void setUnsupported(String functionName) {
            System.err.print("setUnsupported(" + functionName + ")\n");
            System.err.flush();
            super.setUnsupported(functionName);
        }
    }

    public static void main(String[] args) {
        NativeCryptokiFunctions p11 = new NativeCryptokiFunctions();
        for (int i = 0; i < args.length; i++) {
            switch (args[i]) {
                case "loud":
                    p11 = new Loud();
                    break;
                case "init":
                    report("init", p11, p11.doInitialize(args[++i]));
                    break;
                case "init-null":
                    report("init", p11, p11.doInitialize((String) null));
                    break;
                case "finalize":
                    p11.finalize();
                    report("finalize", p11, 0);
                    break;
                case "use":
                    Mock.use(args[++i]);
                    Mock.reset();
                    break;
                case "null-entry":
                    Mock.setNullEntry(args[++i]);
                    break;
                case "rv":
                    Mock.setRvAlways(args[i + 1], Long.decode(args[i + 2]));
                    i += 2;
                    break;
                case "list-null":
                    Mock.setFunctionListNull();
                    break;
                case "chain":
                    Mock.chain(args[++i]);
                    break;
                case "destroy-object": {
                    SessionHandle session = p11.openSession(new SlotId(1), OpenSessionFlags.readWrite()).getHandle();
                    String outcome;
                    try {
                        outcome = "returned " + p11.destroyObject(session, new Handle(Mock.AES_KEY));
                    } catch (Throwable t) {
                        outcome = "threw " + t.getClass().getName();
                    }
                    System.out.println("destroyObject " + outcome + ", module calls " + Mock.callCount("C_DestroyObject"));
                    break;
                }
                default:
                    throw new IllegalArgumentException(args[i]);
            }
        }
    }

    private static void report(String step, NativeCryptokiFunctions p11, int result) {
        System.out.println(step + " " + result + " kind=" + p11.getTokenType()
                + " table=" + (p11.getFunctionsPtr() != 0) + " library=" + (p11.getLibraryHandlePtr() != 0)
                + " unsupported=" + p11.getUnsupported());
        System.out.flush();
    }
}
