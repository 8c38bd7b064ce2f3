package quorvel.pkcs.pkcs11;

/**
 * One step of an object search: how many handles the module wrote into the
 * caller's array.
 */
public final class FindObjectsResult {

    private final int numObjects;
    private final ReturnValue result;

    public FindObjectsResult(int numObjects, ReturnValue result) {
        this.numObjects = numObjects;
        this.result = result;
    }

    /** The number of handles found in this step; 0 when the search is exhausted. */
    public int getNumObjects() {
        return numObjects;
    }

    /** The module's return code. */
    public ReturnValue getResult() {
        return result;
    }

    @Override
    public String toString() {
        return "FindObjectsResult[numObjects=" + numObjects
                + ", result=" + result + "]";
    }
}
