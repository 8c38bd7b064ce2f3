package corvaletest;

import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.LinkedHashSet;
import java.util.List;
import java.util.Objects;
import java.util.Set;
import quorvel.pkcs.pkcs11.jni.NativeCryptokiFunctions;

/**
 * Control of the mock PKCS#11 module that the native tests bind.
 *
 * <h2>Variants</h2>
 * One mock, built into four libraries that differ only in the {@code C_}
 * symbols they export: {@code libmock.so} (all 68, including
 * {@code C_GetFunctionList}), {@code libmock-nowait.so} (no
 * {@code C_WaitForSlotEvent}), {@code libmock-nosign.so} (no {@code C_Sign},
 * no {@code C_Verify}) and {@code libmock-nogfl.so} (no
 * {@code C_GetFunctionList}). Each has its own state. The module names
 * {@code kulm} and {@code softoken} are links to {@code libmock.so} in the
 * mock suite, so they share its state. {@link #use} selects which variant the
 * following calls control (default {@code "mock"}); the variant is opened by
 * its bare file name, so it is the very instance that the library under test
 * opens later, and it stays loaded (keeping its state) until the JVM ends.
 * Every function list a variant hands out is complete (68 entries) unless
 * {@link #setNullEntry} says otherwise.
 *
 * <h2>Defaults (after {@link #reset})</h2>
 * <ul>
 * <li>Not initialised; recording on; no scripts.</li>
 * <li>Slots 1 (token present) and 2 (no token). One token, shared by every
 * slot with a token: label "Mock Token", manufacturer "Mock Manufacturer",
 * model "Mock Model", serial "MOCK0001" (all blank-padded), clock
 * {@value #CLOCK}, flags RNG, LOGIN_REQUIRED, USER_PIN_INITIALIZED,
 * CLOCK_ON_TOKEN, TOKEN_INITIALIZED; PIN lengths 4 to 32; session limits 256;
 * versions 1.0. CK_INFO: Cryptoki 2.40, library "Mock PKCS#11 Module" 1.0.
 * Slot description "Mock Slot &lt;id&gt;".</li>
 * <li>PINs {@value #USER_PIN} (user) and {@value #SO_PIN} (SO), kept as raw
 * bytes. Login follows PKCS#11: wrong PIN 0xA0, same user again 0x100, the
 * other user 0x104, logout when nobody is logged in 0x101; C_InitPIN needs
 * the SO; C_SetPIN changes the SO PIN when the SO is logged in, else the user
 * PIN; new PINs must be 4 to 32 bytes (0xA2); C_InitToken needs the SO PIN and
 * no open session, then clears the user PIN and all objects.</li>
 * <li>Mechanisms RSA_PKCS, SHA256, EC_KEY_PAIR_GEN, ECDSA, AES_KEY_GEN,
 * AES_CBC_PAD with plausible infos; unknown mechanism 0x70. Operations accept
 * any mechanism.</li>
 * <li>Objects: {@link #AES_KEY} (secret, CKA_VALUE 00..0f sensitive),
 * {@link #EC_PUBLIC_KEY}, {@link #EC_PRIVATE_KEY} (CKA_VALUE sensitive, not
 * extractable), {@link #DATA_OBJECT} (CKA_VALUE "hello"); new handles count
 * from {@link #FIRST_NEW_OBJECT}. CKA_VALUE and the RSA private parts of a
 * secret or private key with CKA_SENSITIVE true answer 0x11; absent types
 * 0x12; short buffers 0x150; length queries with a null pValue. Objects with
 * CKA_TOKEN false die with their session; objects with CKA_TOKEN true (the
 * four above) are created, changed and destroyed only in read-write sessions
 * (0xB5). C_CreateObject needs CKA_CLASS (0xD0). C_GetObjectSize is the sum of
 * the value lengths. C_FindObjects yields handles in ascending order.</li>
 * <li>Sessions: handles 1, 2, 3... (never reused until reset); slot without
 * token 0xE0, unknown slot 0x3, no SERIAL flag 0xB4. Closing the last session
 * logs out.</li>
 * <li>Crypto, independent of mechanism and key: encrypt, decrypt, wrap and
 * unwrap XOR every byte with 0x5A ({@link #encrypted}); digest is 32 bytes
 * ({@link #digest}); a signature is the digest with every byte XOR 0xFF
 * ({@link #signature}), a wrong one gives 0xC0, a wrong length 0xC1; sign
 * recover and verify recover XOR every byte with 0xFF ({@link #recovered});
 * final steps of encrypt/decrypt give 0 bytes. Steps without init give 0x91,
 * a second init 0x90. A null output buffer is a length query (CKR_OK, the
 * operation stays active); a short buffer gives 0x150 with the needed length;
 * a delivered single-part or final output ends the operation.
 * C_GenerateKey makes a secret key (CKA_TOKEN false unless the template says
 * otherwise) with CKA_VALUE 00, 01, ... of CKA_VALUE_LEN (default 16) bytes;
 * C_GenerateKeyPair a public and then a private key (handles n and n + 1);
 * C_WrapKey needs the key's CKA_VALUE (0x69) and no CKA_EXTRACTABLE false
 * (0x6A); C_UnwrapKey makes a secret key whose CKA_VALUE is the wrapped bytes
 * XOR 0x5A (0 bytes: 0x112); C_DeriveKey likewise from the base key's value.
 * C_GenerateRandom writes the session's counter bytes 0, 1, 2, ...
 * ({@link #random}); C_SeedRandom sets the counter to the sum of the seed
 * bytes mod 256. C_GetOperationState saves all operations of the session
 * (a few hundred bytes), C_SetOperationState restores them (0x160 for
 * anything else). C_WaitForSlotEvent returns queued events
 * ({@link #addSlotEvent}), else 8 with CKF_DONT_BLOCK, else blocks until an
 * event, C_Finalize or reset (0x190), at most a minute (then 0x6).
 * C_GetFunctionStatus and C_CancelFunction answer
 * 0x51. The module calls a session's Notify callback only when told to
 * ({@link #notifySessions}).</li>
 * <li>C_Initialize answers 0x191 when already initialised; C_Finalize undoes
 * it; every function but C_GetFunctionList answers 0x190 before C_Initialize. The mock reads
 * C_Initialize's argument as the six standard fields, and a seventh when the sixth is set
 * (the softoken form). It locks by itself unless told otherwise ({@link #cannotLock}).</li>
 * </ul>
 *
 * <h2>Call log</h2>
 * One line per call, in call order, made when the call enters the module and
 * so showing exactly what the module received:
 * <pre>C_Name(name=value,name=value,...)</pre>
 * Arguments follow the C prototype; a name is the PKCS#11 parameter name
 * without its type prefix ({@code hSession} &rarr; {@code session},
 * {@code pPin} &rarr; {@code pin}, {@code ulPinLen} &rarr; {@code pinLen},
 * {@code pulCount} &rarr; {@code count}, {@code phKey} &rarr; {@code key},
 * {@code ppFunctionList} &rarr; {@code functionList}; {@code slotID},
 * {@code flags}, {@code type},
 * {@code userType}, {@code tokenPresent} stay). Values:
 * <ul>
 * <li>numbers (handles, ids, flags, types, lengths, counts, CK_BBOOL):
 * unsigned decimal of the CK_ULONG received (on i386 only the low 32 bits of
 * a Java long arrive);</li>
 * <li>input byte buffers (data, parts, PINs, the 32-byte label, seeds,
 * signatures to verify, wrapped keys, states): lowercase hex of exactly the
 * given length, nothing for a non-null buffer of length 0, {@code null} for a
 * null pointer;</li>
 * <li>output buffers and pure output pointers: {@code ptr} or {@code null};</li>
 * <li>in/out length pointers ({@code pulXxxLen}, the {@code pulCount} of
 * C_GetSlotList and C_GetMechanismList): the value held on entry, or
 * {@code null};</li>
 * <li>mechanism: {@code {mechanism=N,parameter=HEX,parameterLen=N}} or
 * {@code null} ({@code parameter=null} for a null pParameter);</li>
 * <li>template: {@code [{type=N,value=HEX,valueLen=N},...]}, {@code []} when
 * empty, {@code null} for a null pointer; in C_GetAttributeValue the values
 * are output buffers and show as {@code ptr} or {@code null};</li>
 * <li>C_Initialize: {@code initArgs=null} or
 * {@code initArgs={createMutex=N,destroyMutex=N,lockMutex=N,unlockMutex=N,flags=N,reserved="TEXT",reserved2=N}}
 * with pointers as decimal addresses (0 when null), the sixth field as quoted
 * text ({@code reserved=null} when null; bytes outside printable ASCII and
 * {@code "} and {@code \} written as {@code \xNN}); the seventh field
 * only when the sixth is set (the softoken form).</li>
 * </ul>
 * The lines of all 68 functions:
 * <pre>
 * C_Initialize(initArgs=...)                  C_Finalize(reserved=ptr|null)
 * C_GetInfo(info=ptr)                         C_GetFunctionList(functionList=ptr)
 * C_GetSlotList(tokenPresent=1,slotList=ptr,count=10)
 * C_GetSlotInfo(slotID=1,info=ptr)            C_GetTokenInfo(slotID=1,info=ptr)
 * C_GetMechanismList(slotID=1,mechanismList=null,count=0)
 * C_GetMechanismInfo(slotID=1,type=592,info=ptr)
 * C_InitToken(slotID=1,pin=HEX,pinLen=8,label=HEX(32 bytes))
 * C_InitPIN(session=1,pin=HEX,pinLen=4)
 * C_SetPIN(session=1,oldPin=HEX,oldLen=4,newPin=HEX,newLen=4)
 * C_OpenSession(slotID=1,flags=6,application=null,notify=null,session=ptr)
 * C_CloseSession(session=1)                   C_CloseAllSessions(slotID=1)
 * C_GetSessionInfo(session=1,info=ptr)
 * C_GetOperationState(session=1,operationState=null,operationStateLen=0)
 * C_SetOperationState(session=1,operationState=HEX,operationStateLen=N,encryptionKey=0,authenticationKey=0)
 * C_Login(session=1,userType=1,pin=31323334,pinLen=4)   C_Logout(session=1)
 * C_CreateObject(session=1,template=[...],count=N,object=ptr)
 * C_CopyObject(session=1,object=4,template=[...],count=N,newObject=ptr)
 * C_DestroyObject(session=1,object=5)         C_GetObjectSize(session=1,object=5,size=ptr)
 * C_GetAttributeValue(session=1,object=5,template=[{type=3,value=null,valueLen=0}],count=1)
 * C_SetAttributeValue(session=1,object=5,template=[...],count=N)
 * C_FindObjectsInit(session=1,template=[...],count=N)
 * C_FindObjects(session=1,object=ptr,maxObjectCount=10,objectCount=ptr)
 * C_FindObjectsFinal(session=1)
 * C_EncryptInit, C_DecryptInit, C_SignInit, C_SignRecoverInit, C_VerifyInit, C_VerifyRecoverInit:
 *     (session=1,mechanism={mechanism=4229,parameter=HEX,parameterLen=16},key=1)
 * C_DigestInit(session=1,mechanism={...})
 * C_Encrypt(session=1,data=HEX,dataLen=N,encryptedData=null,encryptedDataLen=0)
 * C_EncryptUpdate(session=1,part=HEX,partLen=N,encryptedPart=ptr,encryptedPartLen=N)
 * C_EncryptFinal(session=1,lastEncryptedPart=ptr,lastEncryptedPartLen=0)
 * C_Decrypt(session=1,encryptedData=HEX,encryptedDataLen=N,data=ptr,dataLen=N)
 * C_DecryptUpdate(session=1,encryptedPart=HEX,encryptedPartLen=N,part=ptr,partLen=N)
 * C_DecryptFinal(session=1,lastPart=ptr,lastPartLen=0)
 * C_Digest(session=1,data=HEX,dataLen=N,digest=ptr,digestLen=32)
 * C_DigestUpdate(session=1,part=HEX,partLen=N)   C_DigestKey(session=1,key=1)
 * C_DigestFinal(session=1,digest=ptr,digestLen=32)
 * C_Sign(session=1,data=HEX,dataLen=N,signature=ptr,signatureLen=32)
 * C_SignUpdate(session=1,part=HEX,partLen=N)  C_SignFinal(session=1,signature=ptr,signatureLen=32)
 * C_SignRecover(session=1,data=HEX,dataLen=N,signature=ptr,signatureLen=N)
 * C_Verify(session=1,data=HEX,dataLen=N,signature=HEX,signatureLen=32)
 * C_VerifyUpdate(session=1,part=HEX,partLen=N)  C_VerifyFinal(session=1,signature=HEX,signatureLen=32)
 * C_VerifyRecover(session=1,signature=HEX,signatureLen=N,data=ptr,dataLen=N)
 * C_DigestEncryptUpdate, C_SignEncryptUpdate:
 *     (session=1,part=HEX,partLen=N,encryptedPart=ptr,encryptedPartLen=N)
 * C_DecryptDigestUpdate, C_DecryptVerifyUpdate:
 *     (session=1,encryptedPart=HEX,encryptedPartLen=N,part=ptr,partLen=N)
 * C_GenerateKey(session=1,mechanism={...},template=[...],count=N,key=ptr)
 * C_GenerateKeyPair(session=1,mechanism={...},publicKeyTemplate=[...],publicKeyAttributeCount=N,
 *     privateKeyTemplate=[...],privateKeyAttributeCount=N,publicKey=ptr,privateKey=ptr)
 * C_WrapKey(session=1,mechanism={...},wrappingKey=1,key=5,wrappedKey=null,wrappedKeyLen=0)
 * C_UnwrapKey(session=1,mechanism={...},unwrappingKey=1,wrappedKey=HEX,wrappedKeyLen=N,
 *     template=[...],attributeCount=N,key=ptr)
 * C_DeriveKey(session=1,mechanism={...},baseKey=1,template=[...],attributeCount=N,key=ptr)
 * C_SeedRandom(session=1,seed=HEX,seedLen=N)  C_GenerateRandom(session=1,randomData=ptr,randomLen=N)
 * C_GetFunctionStatus(session=1)              C_CancelFunction(session=1)
 * C_WaitForSlotEvent(flags=1,slot=ptr,reserved=null)
 * </pre>
 * Recording can be switched off ({@link #setRecording}); then, as long as no
 * script is set either, the module takes no lock and counts nothing.
 *
 * <h2>Scripts</h2>
 * All cleared by {@link #reset}. A scripted return code ({@link #setRv},
 * {@link #setRvAlways}) replaces the whole call: the call is logged and
 * counted, then the module returns the code without acting or writing any
 * output. Calls are numbered from 1 per function since reset, counting every
 * call while recording is on or a script is set. Output functions report
 * through the length-query convention; {@link #setOutputLength} makes the
 * module report chosen lengths (and counts) instead and {@link #setOutput}
 * chosen bytes; a module made to lie never writes past the room it was given.
 */
public final class Mock {

    /** Phase of an output call whose output buffer is null (a length query). */
    public static final int QUERY = 1;
    /** Phase of an output call with an output buffer. */
    public static final int FILL = 2;

    public static final String USER_PIN = "1234";
    public static final String SO_PIN = "12345678";
    public static final String CLOCK = "2026120812000000";
    public static final int DIGEST_LENGTH = 32;

    public static final long AES_KEY = 1;
    public static final long EC_PUBLIC_KEY = 2;
    public static final long EC_PRIVATE_KEY = 3;
    public static final long DATA_OBJECT = 4;
    public static final long FIRST_NEW_OBJECT = 5;

    /** The file names (without "lib" and ".so") of the four variants. */
    public static final List<String> VARIANTS =
            List.of("mock", "mock-nowait", "mock-nosign", "mock-nogfl");

    private static final String LIB_DIR;

    static {
        String dir = System.getProperty("corvale.testlib");
        if (dir == null || dir.isEmpty()) {
            String build = System.getProperty("corvale.build");
            if (build == null || build.isEmpty()) {
                throw new IllegalStateException(
                        "set corvale.testlib (or corvale.build) to find libmockctl.so");
            }
            dir = build + "/tests/lib";
        }
        LIB_DIR = dir;
        System.load(dir + "/libmockctl.so");
    }

    private static String current;
    private static final Set<String> opened = new LinkedHashSet<>();

    private Mock() {
    }

    // ---- variants -------------------------------------------------------------------

    /**
     * Selects the variant that the following calls control, by its module name
     * ("mock", "mock-nowait", "mock-nosign", "mock-nogfl", or "kulm" /
     * "softoken", which are the same instance as "mock"). Opens it on first use.
     */
    public static synchronized void use(String name) {
        control("use", "lib" + name + ".so", null, LIB_DIR.getBytes(StandardCharsets.UTF_8));
        current = name;
        opened.add(name);
    }

    /** The 68 C_ functions in the order of CK_FUNCTION_LIST: the library's own list, as the mock has it. */
    public static synchronized List<String> functions() {
        return List.of(run("functions", null).split("\n"));
    }

    /** The module name of the selected variant. */
    public static synchronized String current() {
        select();
        return current;
    }

    /** A child JVM's start: the default mock, reset, and a binding object bound to it. */
    public static NativeCryptokiFunctions bound() {
        use("mock");
        reset();
        NativeCryptokiFunctions p11 = new NativeCryptokiFunctions();
        if (p11.doInitialize("mock") != 1) throw new AssertionError("binding the mock");
        return p11;
    }

    /** Puts the selected variant back to its defaults (see the class comment). */
    public static synchronized void reset() {
        run("reset", null);
    }

    /** Resets every variant opened so far and selects "mock". */
    public static synchronized void resetAll() {
        for (String name : opened.toArray(new String[0])) {
            use(name);
            reset();
        }
        use("mock");
        reset();
    }

    // ---- call log ---------------------------------------------------------------------

    /** Switches recording of the call log (and call counting) on or off. */
    public static synchronized void setRecording(boolean on) {
        run("set_recording", null, on ? 1 : 0);
    }

    /** All log lines since reset or {@link #clearCalls}, oldest first. */
    public static synchronized String[] calls() {
        String text = run("log", null);
        return text.isEmpty() ? new String[0] : text.split("\n", -1);
    }

    /** The log lines of one function, e.g. {@code calls("C_Login")}. */
    public static String[] calls(String function) {
        checkFunction(function);
        List<String> lines = new ArrayList<>();
        for (String line : calls()) {
            if (line.startsWith(function + "(")) {
                lines.add(line);
            }
        }
        return lines.toArray(new String[0]);
    }

    /** The last log line of one function, or null when it was not called. */
    public static String lastCall(String function) {
        String[] lines = calls(function);
        return lines.length == 0 ? null : lines[lines.length - 1];
    }

    /** Empties the log; the call numbers of the scripts keep counting. */
    public static synchronized void clearCalls() {
        run("clear_log", null);
    }

    /** Calls of one function since reset (counted while recording or scripted). */
    public static synchronized int callCount(String function) {
        return Integer.parseInt(run("call_count", function));
    }

    // ---- return codes -----------------------------------------------------------------

    /** The n-th call (from 1, since reset) of the function returns rv and does nothing else. */
    public static synchronized void setRv(String function, int call, long rv) {
        if (call < 1) {
            throw new IllegalArgumentException("calls count from 1: " + call);
        }
        run("set_rv", function, call, rv);
    }

    /** Every call of the function returns rv and does nothing else (n-th call scripts win). */
    public static synchronized void setRvAlways(String function, long rv) {
        run("set_rv", function, 0, rv);
    }

    // ---- outputs ----------------------------------------------------------------------

    /**
     * Makes the function report {@code length} in the given phase instead of
     * the true length (or count). {@link #QUERY}: the call with a null output
     * buffer writes this length and returns CKR_OK. {@link #FILL}: the call
     * with a buffer writes at most as many bytes (entries) as the room it was
     * given, reports this length and returns CKR_OK; the step counts as done.
     * Applies to the byte-output functions, C_GetSlotList, C_GetMechanismList,
     * C_FindObjects (FILL only: the count reported) and C_GetAttributeValue
     * (every attribute's ulValueLen).
     */
    public static synchronized void setOutputLength(String function, int phase, long length) {
        run("set_output_length", function, phase, length);
    }

    /**
     * The bytes the function hands out in place of the computed output, on
     * every call (length queries report their length). For C_GenerateRandom:
     * written at the start of the buffer, at most its length; the rest of the
     * buffer is left as it was.
     */
    public static synchronized void setOutput(String function, byte[] bytes) {
        select();
        control("set_output", function, null, bytes);
    }

    // ---- slots, fields, mechanisms --------------------------------------------------------

    /** Replaces the slot list (any length); present[i] tells whether slot ids[i] has the token. */
    public static synchronized void setSlots(long[] ids, boolean[] present) {
        byte[] flags = new byte[present.length];
        for (int i = 0; i < flags.length; i++) {
            flags[i] = (byte) (present[i] ? 1 : 0);
        }
        select();
        control("set_slots", null, ids, flags);
    }

    /** Slots 1..count, all with or all without the token. */
    public static void setSlots(int count, boolean present) {
        long[] ids = new long[count];
        boolean[] flags = new boolean[count];
        for (int i = 0; i < count; i++) {
            ids[i] = i + 1;
            flags[i] = present;
        }
        setSlots(ids, flags);
    }

    /**
     * After every length query of C_GetSlotList (new slots with the token,
     * ids above the highest) or C_GetMechanismList (vendor mechanisms
     * 0x80000000 + index), the list grows by {@code extra} entries.
     */
    public static synchronized void growAfterQuery(String function, int extra) {
        run("grow_after_query", function, extra);
    }

    /**
     * Sets a text field of an information structure to raw bytes, blank-padded
     * to the field's width or cut to it. Names: {@code info.manufacturerID},
     * {@code info.libraryDescription}, {@code slot.slotDescription},
     * {@code slot.manufacturerID}, {@code token.label}, {@code token.manufacturerID},
     * {@code token.model}, {@code token.serialNumber}, {@code token.utcTime}.
     * A field setting applies to every answer of its structure (all slots,
     * sessions, mechanisms) and changes only what the module reports.
     */
    public static synchronized void setField(String name, byte[] raw) {
        select();
        control("set_field_text", name, null, raw);
    }

    /** {@link #setField(String, byte[])} with the chars of an ISO-8859-1 text as bytes. */
    public static void setField(String name, String text) {
        setField(name, text.getBytes(StandardCharsets.ISO_8859_1));
    }

    /**
     * Sets a number field, cut to a CK_ULONG (or a byte for versions); -1 is
     * all-ones. Names: {@code info.flags}, {@code info.cryptokiVersion.major}
     * (and {@code .minor}, {@code info.libraryVersion.*}), {@code slot.flags},
     * {@code slot.hardwareVersion.*}, {@code slot.firmwareVersion.*},
     * {@code token.flags}, {@code token.ulMaxSessionCount}, {@code token.ulSessionCount},
     * {@code token.ulMaxRwSessionCount}, {@code token.ulRwSessionCount},
     * {@code token.ulMaxPinLen}, {@code token.ulMinPinLen},
     * {@code token.ulTotalPublicMemory}, {@code token.ulFreePublicMemory},
     * {@code token.ulTotalPrivateMemory}, {@code token.ulFreePrivateMemory},
     * {@code token.hardwareVersion.*}, {@code token.firmwareVersion.*},
     * {@code session.slotID}, {@code session.state}, {@code session.flags},
     * {@code session.ulDeviceError}, {@code mechanism.ulMinKeySize},
     * {@code mechanism.ulMaxKeySize}, {@code mechanism.flags}.
     */
    public static synchronized void setField(String name, long value) {
        run("set_field_number", name, value);
    }

    /** Replaces the mechanism list; known types keep their default info, others get zeros. */
    public static synchronized void setMechanisms(long... types) {
        run("set_mechanisms", null, Objects.requireNonNull(types, "types"));
    }

    /** Sets (or adds) one mechanism with its info. */
    public static synchronized void setMechanismInfo(long type, long minKeySize, long maxKeySize,
            long flags) {
        run("set_mechanism_info", null, type, minKeySize, maxKeySize, flags);
    }

    // ---- function list, events, objects ------------------------------------------------------

    /** The function list that C_GetFunctionList hands out has this entry null. */
    public static synchronized void setNullEntry(String function) {
        run("set_null_entry", function);
    }

    /** C_GetFunctionList returns CKR_OK but sets the list pointer to null. */
    public static synchronized void setFunctionListNull() {
        run("set_function_list_null", null);
    }

    /** Queues a slot event for C_WaitForSlotEvent (and wakes a blocked wait). */
    public static synchronized void addSlotEvent(long slotId) {
        run("add_slot_event", null, slotId);
    }

    /** Makes an attribute of an object unreadable (CKR_ATTRIBUTE_SENSITIVE). */
    public static synchronized void setSensitive(long object, long attributeType) {
        run("set_sensitive", null, object, attributeType);
    }

    /** The handle the next new object gets (e.g. 0xFFFFFFF0L for handles above 2^31). */
    public static synchronized void setNextObjectHandle(long handle) {
        run("set_next_object_handle", null, handle);
    }

    /** The handle the next session gets. */
    public static synchronized void setNextSessionHandle(long handle) {
        run("set_next_session_handle", null, handle);
    }

    /**
     * Calls the Notify callback of every open session that was given one
     * (with the session handle, {@code event} and the application pointer),
     * from a thread of the module's own, and returns the callbacks' return
     * codes in session-table order.
     */
    public static synchronized long[] notifySessions(long event) {
        return run("notify_sessions", null, event).lines().mapToLong(Long::parseUnsignedLong).toArray();
    }

    /**
     * Hostile mode: from now on every call of the selected variant except
     * C_GetFunctionList is answered from a random stream seeded with
     * {@code seed} (the same seed and call sequence give the same answers),
     * ignoring its arguments and the mock's state: any return code (mostly
     * CKR_OK, often CKR_BUFFER_TOO_SMALL, vendor codes from 0x80000000,
     * all-ones); output structures and text fields full of garbage (zero
     * bytes, invalid UTF-8); handles, ids and sizes of any value; lengths and
     * counts below, at or above the room the caller gave, different on every
     * call (absurd ones such as 0xFFFFFFFF now and then). The module still
     * writes only within the room it was given, as a real module that lies
     * would. Calls are counted and logged as usual; {@link #reset} ends it.
     */
    public static synchronized void hostile(long seed) {
        run("hostile", null, seed);
    }

    /**
     * The selected variant becomes a module that cannot lock by itself: it
     * answers CKR_CANT_LOCK to a C_Initialize that asks for locking (the OS
     * locking flag or mutex callbacks), and counts every call that enters it
     * while another is inside ({@link #overlaps}). Until reset.
     */
    public static synchronized void cannotLock() {
        run("cannot_lock", null);
    }

    /** Calls that entered a module that cannot lock while another call was inside it. */
    public static synchronized long overlaps() {
        return Long.parseLong(run("overlaps", null));
    }

    /**
     * The selected variant becomes a chained module, as pkcs11-spy is: its
     * C_Initialize and C_Finalize load the variant named (by its bare file
     * name, "lib" + name + ".so") and pass the call on through that one's
     * own function list. With "mock-inner", built as SoftHSM2 is (its names
     * resolved through the process's global scope first), a chained module
     * opened globally would be called back by its inner one without end.
     */
    public static synchronized void chain(String variant) {
        select();
        control("chain", null, new long[0], ("lib" + variant + ".so").getBytes(StandardCharsets.UTF_8));
    }

    /** Secrets the module was handed and the library has not wiped since the last ask (-1: no wipe check preloaded). */
    public static synchronized long unwiped() {
        return Long.parseLong(run("unwiped", null));
    }

    /**
     * Runs call (one native) and fails if the native kept more local
     * references than JNI's 16 and the room it asked for with
     * EnsureLocalCapacity: this JDK's -Xcheck:jni does not tell. The JNI
     * functions the library makes references with are counted on this thread.
     */
    public static <T> T withinLocalRoom(java.util.function.Supplier<T> call) {
        control("local_refs", null, new long[] {1}, null);
        T result = call.get();
        long over = Long.parseLong(control("local_refs", null, new long[] {0}, null));
        if (over > 0) throw new AssertionError("the native kept " + over + " local references past its room");
        return result;
    }

    /** Whether the selected variant is between C_Initialize and C_Finalize. */
    public static synchronized boolean isInitialized() {
        return run("is_initialized", null).equals("1");
    }

    // ---- expected values ------------------------------------------------------------------

    /** Whether CK_ULONG is 32 bits in this JVM (the i386 build). */
    public static boolean is32Bit() {
        return "32".equals(System.getProperty("sun.arch.data.model"));
    }

    /** Bytes in a CK_ULONG of this JVM's width. */
    public static int ulongSize() {
        return is32Bit() ? 4 : 8;
    }

    /** An all-ones CK_ULONG as the natives hand it to Java (zero-extended). */
    public static long ulongMax() {
        return is32Bit() ? 0xFFFFFFFFL : -1L;
    }

    /** Lowercase hex, as in the call log. */
    public static String hex(byte[] bytes) {
        StringBuilder sb = new StringBuilder(bytes.length * 2);
        for (byte b : bytes) {
            sb.append(Character.forDigit((b >> 4) & 15, 16)).append(Character.forDigit(b & 15, 16));
        }
        return sb.toString();
    }

    /** ISO-8859-1 bytes of the text, blank-padded (or cut) to width. */
    public static byte[] padded(String text, int width) {
        byte[] out = new byte[width];
        Arrays.fill(out, (byte) ' ');
        byte[] b = text.getBytes(StandardCharsets.ISO_8859_1);
        System.arraycopy(b, 0, out, 0, Math.min(b.length, width));
        return out;
    }

    /** What encrypt, decrypt, wrap and unwrap make of the data: every byte XOR 0x5A. */
    public static byte[] encrypted(byte[] data) {
        return xor(data, 0x5A);
    }

    /** Sign recover and verify recover: every byte XOR 0xFF. */
    public static byte[] recovered(byte[] data) {
        return xor(data, 0xFF);
    }

    /**
     * The mock's digest of the parts taken together: d[i] starts at i; input
     * byte k sets d[k % 32] = d[k % 32] * 31 + byte (mod 256).
     */
    public static byte[] digest(byte[]... parts) {
        byte[] d = new byte[DIGEST_LENGTH];
        for (int i = 0; i < d.length; i++) {
            d[i] = (byte) i;
        }
        long k = 0;
        for (byte[] part : parts) {
            for (byte b : part) {
                int i = (int) (k++ % DIGEST_LENGTH);
                d[i] = (byte) ((d[i] & 0xFF) * 31 + (b & 0xFF));
            }
        }
        return d;
    }

    /** The mock's signature of the parts taken together: the digest, every byte XOR 0xFF. */
    public static byte[] signature(byte[]... parts) {
        return xor(digest(parts), 0xFF);
    }

    /** n bytes of C_GenerateRandom starting at counter value first. */
    public static byte[] random(int first, int n) {
        byte[] out = new byte[n];
        for (int i = 0; i < n; i++) {
            out[i] = (byte) (first + i);
        }
        return out;
    }

    private static byte[] xor(byte[] data, int mask) {
        byte[] out = data.clone();
        for (int i = 0; i < out.length; i++) {
            out[i] ^= (byte) mask;
        }
        return out;
    }

    // ---- plumbing -------------------------------------------------------------------------

    private static void select() {
        if (current == null) {
            use("mock");
        }
    }

    private static void checkFunction(String function) {
        if (function == null || !function.startsWith("C_")) {
            throw new IllegalArgumentException("not a C_ function name: " + function);
        }
    }

    /** Runs one command of the selected variant's mock_control; its answer. */
    private static String run(String op, String name, long... numbers) {
        select();
        return control(op, name, numbers, null);
    }

    /**
     * The one entry point of libmockctl.so: "use" opens or selects a variant,
     * every other command goes to the selected variant. Unknown names and
     * settings a function does not take throw IllegalArgumentException.
     */
    private static native String control(String op, String name, long[] numbers, byte[] bytes);
}
