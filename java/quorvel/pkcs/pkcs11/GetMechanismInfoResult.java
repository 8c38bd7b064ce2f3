package quorvel.pkcs.pkcs11;

/**
 * A mechanism's information together with the module's return code.
 */
public final class GetMechanismInfoResult {

    private final MechanismInformation info;
    private final ReturnValue result;

    public GetMechanismInfoResult(MechanismInformation info, ReturnValue result) {
        this.info = info;
        this.result = result;
    }

    public MechanismInformation getInfo() {
        return info;
    }

    /** The module's return code. */
    public ReturnValue getResult() {
        return result;
    }

    @Override
    public String toString() {
        return "GetMechanismInfoResult[info=" + info
                + ", result=" + result + "]";
    }
}
