/* The floor: the natives the benchmark calls, under the same Java names as
 * libcorvale's, making only the JNI calls the binding contract requires of
 * them, and nothing else:
 *   - the function table read from the object's functionsPtr field (an
 *     object bound to no module gets a null answer, not a crash);
 *   - each value-class getter called once (CallLongMethodA), followed by one
 *     ExceptionCheck, since no JNI call may follow a pending exception;
 *   - array lengths and one region copy in each direction;
 *   - the result objects constructed (NewObjectA), nothing else allocated
 *     on the Java side;
 *   - the module calls of the two-call output protocol.
 * Class references and method IDs are looked up once. Input copies (which
 * may be plaintext or key material), mechanism parameters (which may carry
 * keys or passwords: a bridge cannot tell an IV from a key) and random bytes
 * are wiped; digests, ciphertext and signatures are not. A native that
 * keeps more than the 16 local references JNI guarantees asks for room once
 * (EnsureLocalCapacity). Text fields are the module's UTF-8, which is not the
 * JVM's modified UTF-8 and must not reach NewStringUTF: they are decoded
 * (U+FFFD for what is not UTF-8, ASCII eight bytes at a time) and made with
 * NewString. Failure paths are kept to what keeps the JVM safe; the
 * benchmark never takes them.
 *
 * Loaded in place of libcorvale with -Dcorvale.library, over the no-op
 * module, it is the cost any implementation of the contract must pay. */
#include <dlfcn.h>
#include <jni.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <p11-kit/pkcs11.h>

#define NATIVE(type, name) JNIEXPORT type JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_##name
#define PKG "quorvel/pkcs/pkcs11/"
#define LIB_V "L" PKG

enum { STACK_BYTES = 4096 + 64 };

static jfieldID functionsPtr, libraryHandlePtr;
static jclass cReturnValue, cHandle, cSessionHandle, cOpenSessionResult, cCipherResult, cDigestResult,
    cSignResult, cFindObjectsResult, cAttributeType, cTemplateAttribute, cTokenInformationFlags, cVersion,
    cTokenInformation, cGetTokenInfoResult, cDateHelper, cByteArray;
static jmethodID newReturnValue, newHandle, newSessionHandle, newOpenSessionResult, newCipherResult, newDigestResult,
    newSignResult, newFindObjectsResult, newAttributeType, newTemplateAttribute, newTokenInformationFlags,
    newVersion, newTokenInformation, newGetTokenInfoResult, toDate;
static jmethodID getHandle, getValue, getType, getId, getFlags, getAttrType, getAttrValue, getCode;
static int ready;

static jclass global(JNIEnv *env, const char *name) {
    jclass local = (*env)->FindClass(env, name);
    if (!local) {
        fprintf(stderr, "floor: no class %s\n", name);
        exit(1);
    }
    jclass g = (*env)->NewGlobalRef(env, local);
    (*env)->DeleteLocalRef(env, local);
    return g;
}

static jmethodID method(JNIEnv *env, jclass c, const char *name, const char *sig) {
    jmethodID id = (*env)->GetMethodID(env, c, name, sig);
    if (!id) {
        fprintf(stderr, "floor: no method %s%s\n", name, sig);
        exit(1);
    }
    return id;
}

static void lookUp(JNIEnv *env) {
    jclass self = global(env, "quorvel/pkcs/pkcs11/jni/NativeCryptokiFunctions");
    functionsPtr = (*env)->GetFieldID(env, self, "functionsPtr", "J");
    libraryHandlePtr = (*env)->GetFieldID(env, self, "libraryHandlePtr", "J");
    cReturnValue = global(env, PKG "ReturnValue");
    newReturnValue = method(env, cReturnValue, "<init>", "(J)V");
    cHandle = global(env, PKG "Handle");
    newHandle = method(env, cHandle, "<init>", "(J)V");
    getValue = method(env, cHandle, "getValue", "()J");
    cSessionHandle = global(env, PKG "SessionHandle");
    newSessionHandle = method(env, cSessionHandle, "<init>", "(J)V");
    getHandle = method(env, cSessionHandle, "getHandle", "()J");
    getType = method(env, global(env, PKG "MechanismType"), "getType", "()J");
    getId = method(env, global(env, PKG "SlotId"), "getId", "()J");
    getFlags = method(env, global(env, PKG "OpenSessionFlags"), "getFlags", "()J");
    cOpenSessionResult = global(env, PKG "OpenSessionResult");
    newOpenSessionResult = method(env, cOpenSessionResult, "<init>", "(" LIB_V "SessionHandle;" LIB_V "ReturnValue;)V");
    cCipherResult = global(env, PKG "CipherResult");
    newCipherResult = method(env, cCipherResult, "<init>", "([B" LIB_V "ReturnValue;)V");
    cDigestResult = global(env, PKG "DigestResult");
    newDigestResult = method(env, cDigestResult, "<init>", "([B" LIB_V "ReturnValue;)V");
    cSignResult = global(env, PKG "SignResult");
    newSignResult = method(env, cSignResult, "<init>", "([B" LIB_V "ReturnValue;)V");
    cFindObjectsResult = global(env, PKG "FindObjectsResult");
    newFindObjectsResult = method(env, cFindObjectsResult, "<init>", "(I" LIB_V "ReturnValue;)V");
    cAttributeType = global(env, PKG "AttributeType");
    newAttributeType = method(env, cAttributeType, "<init>", "(J)V");
    getCode = method(env, cAttributeType, "getCode", "()J");
    cTemplateAttribute = global(env, PKG "TemplateAttribute");
    newTemplateAttribute = method(env, cTemplateAttribute, "<init>", "(" LIB_V "AttributeType;Ljava/lang/Object;)V");
    getAttrType = method(env, cTemplateAttribute, "getType", "()" LIB_V "AttributeType;");
    getAttrValue = method(env, cTemplateAttribute, "getValue", "()Ljava/lang/Object;");
    cTokenInformationFlags = global(env, PKG "TokenInformationFlags");
    newTokenInformationFlags = method(env, cTokenInformationFlags, "<init>", "(ZZZZZZZZZZZZZZZZZZ)V");
    cVersion = global(env, PKG "Version");
    newVersion = method(env, cVersion, "<init>", "(II)V");
    cTokenInformation = global(env, PKG "TokenInformation");
    newTokenInformation = method(env, cTokenInformation, "<init>",
        "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;" LIB_V "TokenInformationFlags;"
        "JJJJIIJJJJ" LIB_V "Version;" LIB_V "Version;Ljava/util/Date;)V");
    cGetTokenInfoResult = global(env, PKG "GetTokenInfoResult");
    newGetTokenInfoResult = method(env, cGetTokenInfoResult, "<init>", "(" LIB_V "TokenInformation;" LIB_V "ReturnValue;)V");
    cDateHelper = global(env, "quorvel/pkcs/pkcs11/jni/DateHelper");
    toDate = (*env)->GetStaticMethodID(env, cDateHelper, "toDate", "(Ljava/lang/String;I)Ljava/util/Date;");
    cByteArray = global(env, "[B");
    ready = 1;
}

/* The bound table; also fills the caches on the first call. */
static CK_FUNCTION_LIST *table(JNIEnv *env, jobject self) {
    if (!ready) lookUp(env);
    return (CK_FUNCTION_LIST *)(intptr_t)(*env)->GetLongField(env, self, functionsPtr);
}

/* A getter's value; *failed is set when it threw. */
static CK_ULONG get(JNIEnv *env, jobject obj, jmethodID id, int *failed) {
    jlong v = (*env)->CallLongMethodA(env, obj, id, NULL);
    if ((*env)->ExceptionCheck(env)) *failed = 1;
    return (CK_ULONG)v;
}

static jobject object(JNIEnv *env, jclass c, jmethodID ctor, const jvalue *args) {
    return (*env)->NewObjectA(env, c, ctor, args);
}

static jobject returnValue(JNIEnv *env, CK_RV rv) {
    jvalue a[1];
    a[0].j = (jlong)rv;
    return object(env, cReturnValue, newReturnValue, a);
}

/* Native bytes of one call: on the stack when they fit. */
typedef struct {
    CK_BYTE *p;
    CK_BYTE stack[STACK_BYTES];
} Buffer;

static CK_BYTE *room(Buffer *b, size_t n) {
    b->p = n <= sizeof b->stack ? b->stack : malloc(n);
    return b->p;
}

static void release(Buffer *b, size_t wipe) {
    if (wipe) explicit_bzero(b->p, wipe);
    if (b->p != b->stack) free(b->p);
}

/* ---- binding, not measured ---- */

NATIVE(jint, doInitialize__Ljava_lang_String_2)(JNIEnv *env, jobject self, jstring name) {
    if (!ready) lookUp(env);
    const char *chars = (*env)->GetStringUTFChars(env, name, NULL);
    char file[256];
    snprintf(file, sizeof file, "lib%s.so", chars);
    (*env)->ReleaseStringUTFChars(env, name, chars);
    void *lib = dlopen(file, RTLD_NOW | RTLD_LOCAL);
    CK_C_GetFunctionList getList = lib ? (CK_C_GetFunctionList)dlsym(lib, "C_GetFunctionList") : NULL;
    CK_FUNCTION_LIST *f = NULL;
    if (!getList || getList(&f) != CKR_OK || f->C_Initialize(NULL) != CKR_OK) {
        fprintf(stderr, "floor: cannot bind %s\n", file);
        return 0;
    }
    (*env)->SetLongField(env, self, libraryHandlePtr, (jlong)(intptr_t)lib);
    (*env)->SetLongField(env, self, functionsPtr, (jlong)(intptr_t)f);
    return 1;
}

NATIVE(void, finalize)(JNIEnv *env, jobject self) {
    CK_FUNCTION_LIST *f = table(env, self);
    if (!f) return;  /* not bound */
    f->C_Finalize(NULL);
    (*env)->SetLongField(env, self, functionsPtr, 0);
    dlclose((void *)(intptr_t)(*env)->GetLongField(env, self, libraryHandlePtr));
}

NATIVE(jobject, openSession__Lquorvel_pkcs_pkcs11_SlotId_2Lquorvel_pkcs_pkcs11_OpenSessionFlags_2)(
    JNIEnv *env, jobject self, jobject slot, jobject flags) {
    CK_FUNCTION_LIST *f = table(env, self);
    if (!f) return NULL;
    int failed = 0;
    CK_SLOT_ID id = get(env, slot, getId, &failed);
    CK_FLAGS fl = failed ? 0 : get(env, flags, getFlags, &failed);
    if (failed) return NULL;
    CK_SESSION_HANDLE s = 0;
    CK_RV rv = f->C_OpenSession(id, fl, NULL, NULL, &s);
    jvalue a[2];
    a[0].j = (jlong)s;
    a[0].l = object(env, cSessionHandle, newSessionHandle, a);
    a[1].l = returnValue(env, rv);
    return object(env, cOpenSessionResult, newOpenSessionResult, a);
}

/* ---- measured ---- */

NATIVE(jobject, generateRandom)(JNIEnv *env, jobject self, jobject session, jbyteArray buffer) {
    if (!session || !buffer) return NULL;
    CK_FUNCTION_LIST *f = table(env, self);
    if (!f) return NULL;
    int failed = 0;
    CK_SESSION_HANDLE s = get(env, session, getHandle, &failed);
    if (failed) return NULL;
    jsize n = (*env)->GetArrayLength(env, buffer);
    Buffer b;
    if (!room(&b, (size_t)n)) return NULL;
    (*env)->GetByteArrayRegion(env, buffer, 0, n, (jbyte *)b.p);
    CK_RV rv = f->C_GenerateRandom(s, n ? b.p : NULL, (CK_ULONG)n);
    (*env)->SetByteArrayRegion(env, buffer, 0, n, (jbyte *)b.p);
    release(&b, (size_t)n);
    return returnValue(env, rv);
}

/* Mechanism type and parameter (the caller wipes the parameter). */
static int mechanism(JNIEnv *env, jobject type, jbyteArray parameter, CK_MECHANISM *m, CK_BYTE *stack, size_t room) {
    int failed = 0;
    m->mechanism = get(env, type, getType, &failed);
    m->pParameter = NULL;
    m->ulParameterLen = 0;
    if (failed) return 0;
    if (parameter) {
        jsize n = (*env)->GetArrayLength(env, parameter);
        if ((size_t)n > room) return 0;  /* large parameters: not in the benchmark */
        (*env)->GetByteArrayRegion(env, parameter, 0, n, (jbyte *)stack);
        m->pParameter = n ? stack : NULL;
        m->ulParameterLen = (CK_ULONG)n;
    }
    return 1;
}

typedef CK_RV (*KeyedInit)(CK_SESSION_HANDLE, CK_MECHANISM *, CK_OBJECT_HANDLE);

static jobject keyedInit(JNIEnv *env, jobject self, jobject session, jobject type, jbyteArray parameter, jobject key,
                         size_t slot) {
    if (!session || !type || !key) return NULL;
    CK_FUNCTION_LIST *f = table(env, self);
    if (!f) return NULL;
    CK_MECHANISM m;
    CK_BYTE param[256];
    if (!mechanism(env, type, parameter, &m, param, sizeof param)) return NULL;
    int failed = 0;
    CK_OBJECT_HANDLE k = get(env, key, getValue, &failed);
    CK_SESSION_HANDLE s = failed ? 0 : get(env, session, getHandle, &failed);
    if (failed) return NULL;
    KeyedInit init = *(KeyedInit *)((char *)f + slot);
    CK_RV rv = init(s, &m, k);
    if (m.ulParameterLen) explicit_bzero(param, m.ulParameterLen);
    return returnValue(env, rv);
}

NATIVE(jobject, encryptInit)(JNIEnv *env, jobject self, jobject session, jobject type, jbyteArray parameter,
                             jobject key) {
    return keyedInit(env, self, session, type, parameter, key, offsetof(CK_FUNCTION_LIST, C_EncryptInit));
}

NATIVE(jobject, signInit)(JNIEnv *env, jobject self, jobject session, jobject type, jbyteArray parameter,
                          jobject key) {
    return keyedInit(env, self, session, type, parameter, key, offsetof(CK_FUNCTION_LIST, C_SignInit));
}

NATIVE(jobject, digestInit)(JNIEnv *env, jobject self, jobject session, jobject type, jbyteArray parameter) {
    if (!session || !type) return NULL;
    CK_FUNCTION_LIST *f = table(env, self);
    if (!f) return NULL;
    CK_MECHANISM m;
    CK_BYTE param[256];
    if (!mechanism(env, type, parameter, &m, param, sizeof param)) return NULL;
    int failed = 0;
    CK_SESSION_HANDLE s = get(env, session, getHandle, &failed);
    if (failed) return NULL;
    CK_RV rv = f->C_DigestInit(s, &m);
    if (m.ulParameterLen) explicit_bzero(param, m.ulParameterLen);
    return returnValue(env, rv);
}

typedef CK_RV (*DataOut)(CK_SESSION_HANDLE, CK_BYTE *, CK_ULONG, CK_BYTE *, CK_ULONG *);

/* Slice in, data out by the two-call protocol. */
static jobject sliceOut(JNIEnv *env, jobject self, jobject session, jbyteArray data, jint offset, jint length,
                        size_t slot, jclass resultClass, jmethodID resultCtor) {
    if (!session || !data) return NULL;
    CK_FUNCTION_LIST *f = table(env, self);
    if (!f) return NULL;
    int failed = 0;
    CK_SESSION_HANDLE s = get(env, session, getHandle, &failed);
    if (failed || length <= 0 || offset < 0 || (jlong)offset + length > (*env)->GetArrayLength(env, data)) return NULL;
    Buffer in, out;
    if (!room(&in, (size_t)length)) return NULL;
    (*env)->GetByteArrayRegion(env, data, offset, length, (jbyte *)in.p);
    DataOut call = *(DataOut *)((char *)f + slot);
    CK_ULONG n = 0;
    CK_RV rv = call(s, in.p, (CK_ULONG)length, NULL, &n);
    jbyteArray array = NULL;
    if (rv == CKR_OK) {
        CK_ULONG given = n ? n : 1;
        if (given > 0x7fffffff || !room(&out, given)) {
            rv = CKR_HOST_MEMORY;
        } else {
            n = given;
            rv = call(s, in.p, (CK_ULONG)length, out.p, &n);
            if (rv == CKR_OK && n > given) rv = CKR_GENERAL_ERROR;
            if (rv == CKR_OK) {
                array = (*env)->NewByteArray(env, (jsize)n);
                if (array) (*env)->SetByteArrayRegion(env, array, 0, (jsize)n, (jbyte *)out.p);
            }
            release(&out, 0);
        }
    }
    release(&in, (size_t)length);
    jvalue a[2];
    a[0].l = array;
    a[1].l = returnValue(env, rv);
    return object(env, resultClass, resultCtor, a);
}

NATIVE(jobject, encrypt)(JNIEnv *env, jobject self, jobject session, jbyteArray data, jint offset, jint length) {
    return sliceOut(env, self, session, data, offset, length, offsetof(CK_FUNCTION_LIST, C_Encrypt), cCipherResult,
                    newCipherResult);
}

NATIVE(jobject, digest)(JNIEnv *env, jobject self, jobject session, jbyteArray data, jint offset, jint length) {
    return sliceOut(env, self, session, data, offset, length, offsetof(CK_FUNCTION_LIST, C_Digest), cDigestResult,
                    newDigestResult);
}

NATIVE(jobject, sign)(JNIEnv *env, jobject self, jobject session, jbyteArray data, jint offset, jint length) {
    return sliceOut(env, self, session, data, offset, length, offsetof(CK_FUNCTION_LIST, C_Sign), cSignResult,
                    newSignResult);
}

/* ---- templates (up to 16 attributes, values up to 256 bytes each: the benchmark's) ---- */

enum { MAX_ATTRS = 16, VALUE_BYTES = 256 };

typedef struct {
    CK_ATTRIBUTE a[MAX_ATTRS];
    CK_BYTE values[MAX_ATTRS][VALUE_BYTES];
    CK_ULONG n;
} Template;

/* The n elements' types, and their values when copyValues; 0 when an
 * element cannot be read. Three local references each. */
static int readTemplate(JNIEnv *env, jobjectArray array, Template *t, jsize n, int copyValues) {
    if (n > MAX_ATTRS) return 0;
    t->n = (CK_ULONG)n;
    for (jsize i = 0; i < n; ++i) {
        int failed = 0;
        jobject element = (*env)->GetObjectArrayElement(env, array, i);
        if (!element) return 0;
        jobject type = (*env)->CallObjectMethodA(env, element, getAttrType, NULL);
        if ((*env)->ExceptionCheck(env) || !type) return 0;
        jobject value = (*env)->CallObjectMethodA(env, element, getAttrValue, NULL);
        if ((*env)->ExceptionCheck(env)) return 0;
        t->a[i].pValue = NULL;
        t->a[i].ulValueLen = 0;
        if (value) {
            /* Only a byte[] is a value; anything else would crash GetArrayLength. */
            if (!(*env)->IsInstanceOf(env, value, cByteArray)) return 0;
            if (copyValues) {
                jsize m = (*env)->GetArrayLength(env, value);
                if (m > VALUE_BYTES) return 0;
                (*env)->GetByteArrayRegion(env, value, 0, m, (jbyte *)t->values[i]);
                t->a[i].pValue = t->values[i];
                t->a[i].ulValueLen = (CK_ULONG)m;
            }
        }
        t->a[i].type = get(env, type, getCode, &failed);
        if (failed) return 0;
    }
    return 1;
}

static void wipeTemplate(Template *t) {
    for (CK_ULONG i = 0; i < t->n; ++i)
        if (t->a[i].pValue) explicit_bzero(t->a[i].pValue, t->a[i].ulValueLen);
}

NATIVE(jobject, findObjectsInitNative)(JNIEnv *env, jobject self, jobject session, jobjectArray attributes) {
    if (!session || !attributes) return NULL;
    CK_FUNCTION_LIST *f = table(env, self);
    if (!f) return NULL;
    Template t;
    if (!readTemplate(env, attributes, &t, (*env)->GetArrayLength(env, attributes), 1)) return NULL;
    int failed = 0;
    CK_SESSION_HANDLE s = get(env, session, getHandle, &failed);
    CK_RV rv = failed ? CKR_OK : f->C_FindObjectsInit(s, t.a, t.n);
    wipeTemplate(&t);
    return failed ? NULL : returnValue(env, rv);
}

NATIVE(jobject, findObjects)(JNIEnv *env, jobject self, jobject session, jobjectArray found) {
    if (!session || !found) return NULL;
    CK_FUNCTION_LIST *f = table(env, self);
    if (!f) return NULL;
    int failed = 0;
    CK_SESSION_HANDLE s = get(env, session, getHandle, &failed);
    if (failed) return NULL;
    jsize max = (*env)->GetArrayLength(env, found);
    CK_OBJECT_HANDLE stack[64], *h = max <= 64 ? stack : malloc(sizeof *h * (size_t)max);
    if (!h) return NULL;
    CK_ULONG count = 0;
    CK_RV rv = f->C_FindObjects(s, h, (CK_ULONG)max, &count);
    if (count > (CK_ULONG)max) count = (CK_ULONG)max;
    /* A Handle each, the result and its ReturnValue. */
    if (count + 2 > 16) (*env)->EnsureLocalCapacity(env, (jint)count + 2);
    jvalue a[2];
    for (CK_ULONG i = 0; rv == CKR_OK && i < count; ++i) {
        a[0].j = (jlong)h[i];
        jobject handle = object(env, cHandle, newHandle, a);
        if (!handle) break;
        (*env)->SetObjectArrayElement(env, found, (jsize)i, handle);
    }
    if (h != stack) free(h);
    a[0].i = (jint)count;
    a[1].l = returnValue(env, rv);
    return object(env, cFindObjectsResult, newFindObjectsResult, a);
}

NATIVE(jobject, findObjectsFinal)(JNIEnv *env, jobject self, jobject session) {
    if (!session) return NULL;
    CK_FUNCTION_LIST *f = table(env, self);
    if (!f) return NULL;
    int failed = 0;
    CK_SESSION_HANDLE s = get(env, session, getHandle, &failed);
    if (failed) return NULL;
    return returnValue(env, f->C_FindObjectsFinal(s));
}

/* Lengths, then values; on success every element becomes a new
 * TemplateAttribute of a new AttributeType and a byte[] (null when empty). */
NATIVE(jobject, getAttributeValueNative)(JNIEnv *env, jobject self, jobject session, jobject object_,
                                         jobjectArray attributes) {
    if (!session || !object_ || !attributes) return NULL;
    CK_FUNCTION_LIST *f = table(env, self);
    if (!f) return NULL;
    /* Three per element read (it, its type, its value), three per element
     * written (the value, the type, the attribute), and the ReturnValue. */
    jsize n = (*env)->GetArrayLength(env, attributes);
    if (n <= MAX_ATTRS && 6 * n + 1 > 16) (*env)->EnsureLocalCapacity(env, 6 * n + 1);
    Template t;
    if (!readTemplate(env, attributes, &t, n, 0)) return NULL;
    int failed = 0;
    CK_OBJECT_HANDLE o = get(env, object_, getValue, &failed);
    CK_SESSION_HANDLE s = failed ? 0 : get(env, session, getHandle, &failed);
    if (failed) return NULL;
    CK_RV rv = f->C_GetAttributeValue(s, o, t.a, t.n);
    if (rv == CKR_OK) {
        for (CK_ULONG i = 0; i < t.n; ++i) {
            CK_ULONG len = t.a[i].ulValueLen;
            if (len == CK_UNAVAILABLE_INFORMATION || len > VALUE_BYTES) rv = CKR_GENERAL_ERROR;
            t.a[i].pValue = len ? t.values[i] : NULL;
        }
    }
    if (rv == CKR_OK) rv = f->C_GetAttributeValue(s, o, t.a, t.n);
    for (CK_ULONG i = 0; rv == CKR_OK && i < t.n; ++i) {
        jbyteArray value = NULL;
        if (t.a[i].pValue) {
            if (t.a[i].ulValueLen > VALUE_BYTES) break;
            value = (*env)->NewByteArray(env, (jsize)t.a[i].ulValueLen);
            if (!value) break;
            (*env)->SetByteArrayRegion(env, value, 0, (jsize)t.a[i].ulValueLen, (jbyte *)t.a[i].pValue);
        }
        jvalue a[2];
        a[0].j = (jlong)t.a[i].type;
        a[0].l = object(env, cAttributeType, newAttributeType, a);
        a[1].l = value;
        jobject element = a[0].l ? object(env, cTemplateAttribute, newTemplateAttribute, a) : NULL;
        if (!element) break;
        (*env)->SetObjectArrayElement(env, attributes, (jsize)i, element);
    }
    wipeTemplate(&t);
    return returnValue(env, rv);
}

/* ---- token information ---- */

/* Four bytes as four UTF-16 units, each byte into a 16-bit lane of its own. */
static void widen4(const unsigned char *in, jchar *out) {
    uint32_t v;
    memcpy(&v, in, 4);
    uint64_t x = v;
    x = (x | x << 16) & 0x0000FFFF0000FFFFu;
    x = (x | x << 8) & 0x00FF00FF00FF00FFu;
    memcpy(out, &x, 8);
}

/* UTF-8 to UTF-16 up to the first zero byte, U+FFFD for each invalid
 * sequence (its maximal valid prefix); at most n units for n bytes. */
static size_t decode(const unsigned char *in, size_t n, jchar *out) {
    size_t i = 0, o = 0;
    while (n - i >= 8) {
        uint64_t w;
        memcpy(&w, in + i, 8);
        if (((w - 0x0101010101010101u) | w) & 0x8080808080808080u) break;  /* not 8 bytes of 1..0x7F */
        widen4(in + i, out + o);
        widen4(in + i + 4, out + o + 4);
        i += 8;
        o += 8;
    }
    while (i < n && in[i]) {
        unsigned char b = in[i];
        if (b < 0x80) {
            out[o++] = b;
            ++i;
            continue;
        }
        size_t len = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2, k = 1;
        unsigned char lo = b == 0xE0 ? 0xA0 : b == 0xF0 ? 0x90 : 0x80, hi = b == 0xED ? 0x9F : b == 0xF4 ? 0x8F : 0xBF;
        uint32_t cp = b & (0x7F >> len);
        if (b < 0xC2 || b > 0xF4) {
            out[o++] = 0xFFFD;
            ++i;
            continue;
        }
        for (; k < len && i + k < n; ++k) {
            unsigned char c = in[i + k];
            if (k == 1 ? c < lo || c > hi : (c & 0xC0) != 0x80) break;
            cp = cp << 6 | (c & 0x3F);
        }
        if (k < len) {
            out[o++] = 0xFFFD;
            i += k;
            continue;
        }
        i += len;
        if (cp >= 0x10000) {
            out[o++] = (jchar)(0xD800 + ((cp - 0x10000) >> 10));
            out[o++] = (jchar)(0xDC00 + (cp & 0x3FF));
        } else {
            out[o++] = (jchar)cp;
        }
    }
    return o;
}

static jstring text(JNIEnv *env, const CK_UTF8CHAR *field, size_t width) {
    jchar units[64];
    return (*env)->NewString(env, units, (jsize)decode(field, width, units));
}

static jvalue version(JNIEnv *env, CK_VERSION v) {
    jvalue a[2], r;
    a[0].i = v.major;
    a[1].i = v.minor;
    r.l = object(env, cVersion, newVersion, a);
    return r;
}

NATIVE(jobject, getTokenInfo)(JNIEnv *env, jobject self, jobject slot) {
    if (!slot) return NULL;
    CK_FUNCTION_LIST *f = table(env, self);
    if (!f) return NULL;
    int failed = 0;
    CK_SLOT_ID id = get(env, slot, getId, &failed);
    if (failed) return NULL;
    CK_TOKEN_INFO info;
    CK_RV rv = f->C_GetTokenInfo(id, &info);
    jobject result = returnValue(env, rv);
    static const CK_FLAGS bits[18] = {0x1, 0x2, 0x4, 0x8, 0x20, 0x40, 0x100, 0x200, 0x400, 0x800, 0x10000, 0x20000,
                                      0x40000, 0x80000, 0x100000, 0x200000, 0x400000, 0x800000};
    jvalue a[18];
    for (int i = 0; i < 18; ++i) a[i].z = (info.flags & bits[i]) ? JNI_TRUE : JNI_FALSE;
    jobject flags = object(env, cTokenInformationFlags, newTokenInformationFlags, a);
    jvalue d[2];
    d[0].l = text(env, info.utcTime, sizeof info.utcTime);
    d[1].i = 0;
    jobject date = (*env)->CallStaticObjectMethodA(env, cDateHelper, toDate, d);
    if ((*env)->ExceptionCheck(env)) {
        (*env)->ExceptionDescribe(env);
        date = NULL;
    }
    a[0].l = text(env, info.label, sizeof info.label);
    a[1].l = text(env, info.manufacturerID, sizeof info.manufacturerID);
    a[2].l = text(env, info.model, sizeof info.model);
    a[3].l = text(env, info.serialNumber, sizeof info.serialNumber);
    a[4].l = flags;
    a[5].j = (jlong)info.ulMaxSessionCount;
    a[6].j = (jlong)info.ulSessionCount;
    a[7].j = (jlong)info.ulMaxRwSessionCount;
    a[8].j = (jlong)info.ulRwSessionCount;
    a[9].i = (jint)info.ulMaxPinLen;
    a[10].i = (jint)info.ulMinPinLen;
    a[11].j = (jlong)info.ulTotalPublicMemory;
    a[12].j = (jlong)info.ulFreePublicMemory;
    a[13].j = (jlong)info.ulTotalPrivateMemory;
    a[14].j = (jlong)info.ulFreePrivateMemory;
    a[15] = version(env, info.hardwareVersion);
    a[16] = version(env, info.firmwareVersion);
    a[17].l = date;
    jvalue r[2];
    r[0].l = object(env, cTokenInformation, newTokenInformation, a);
    r[1].l = result;
    return object(env, cGetTokenInfoResult, newGetTokenInfoResult, r);
}
