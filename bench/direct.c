/* The floor: the benchmark's module calls made straight from C. One process
 * per call sequence ("jdk": the calls OpenJDK's wrapper makes, one call with a
 * preallocated output buffer; "corvale": libcorvale's, a length query before
 * every data-returning call). Commands on stdin, one per line:
 *   run OP N   ->  prints the nanoseconds N iterations took
 *   quit
 */
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <p11-kit/pkcs11.h>

static CK_FUNCTION_LIST *f;
static CK_SESSION_HANDLE s;
static CK_SLOT_ID slot;
static CK_OBJECT_HANDLE aesKey, ecPrivate;
static int withQuery; /* libcorvale's sequence */

static CK_BYTE data64k[65536], data4k[4096], data32[32], out[8192];
static CK_BYTE iv[16];
static CK_BYTE label[] = "bench-find";

static void check(CK_RV rv, const char *what) {
    if (rv != CKR_OK) {
        fprintf(stderr, "direct: %s failed: 0x%lx\n", what, (unsigned long)rv);
        exit(1);
    }
}

static CK_BBOOL yes = CK_TRUE, no = CK_FALSE;

static void setup(const char *module, const char *pin) {
    void *lib = dlopen(module, RTLD_NOW);
    if (!lib) { fprintf(stderr, "direct: %s\n", dlerror()); exit(1); }
    CK_C_GetFunctionList gfl = (CK_C_GetFunctionList)dlsym(lib, "C_GetFunctionList");
    check(gfl(&f), "C_GetFunctionList");
    check(f->C_Initialize(NULL), "C_Initialize");
    check(f->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, NULL, NULL, &s), "C_OpenSession");
    check(f->C_Login(s, CKU_USER, (CK_BYTE *)pin, strlen(pin)), "C_Login");

    CK_ULONG keyLen = 32;
    CK_ATTRIBUTE aes[] = {{CKA_TOKEN, &no, 1}, {CKA_ENCRYPT, &yes, 1}, {CKA_VALUE_LEN, &keyLen, sizeof keyLen}};
    CK_MECHANISM aesGen = {CKM_AES_KEY_GEN, NULL, 0};
    check(f->C_GenerateKey(s, &aesGen, aes, 3, &aesKey), "C_GenerateKey");

    static CK_BYTE p256[] = {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};
    CK_ATTRIBUTE pub[] = {{CKA_TOKEN, &no, 1}, {CKA_VERIFY, &yes, 1}, {CKA_EC_PARAMS, p256, sizeof p256}};
    CK_ATTRIBUTE priv[] = {{CKA_TOKEN, &no, 1}, {CKA_SIGN, &yes, 1}, {CKA_PRIVATE, &yes, 1}};
    CK_MECHANISM ecGen = {CKM_EC_KEY_PAIR_GEN, NULL, 0};
    CK_OBJECT_HANDLE ecPublic;
    check(f->C_GenerateKeyPair(s, &ecGen, pub, 3, priv, 3, &ecPublic, &ecPrivate), "C_GenerateKeyPair");

    CK_OBJECT_CLASS dataClass = CKO_DATA;
    for (int i = 0; i < 16; ++i) {
        CK_BYTE value[4] = {(CK_BYTE)i, 1, 2, 3};
        CK_ATTRIBUTE obj[] = {{CKA_CLASS, &dataClass, sizeof dataClass}, {CKA_TOKEN, &no, 1},
                              {CKA_LABEL, label, sizeof label - 1}, {CKA_VALUE, value, sizeof value}};
        CK_OBJECT_HANDLE h;
        check(f->C_CreateObject(s, obj, 4, &h), "C_CreateObject");
    }
    for (size_t i = 0; i < sizeof data64k; ++i) data64k[i] = (CK_BYTE)i;
    memcpy(data4k, data64k, sizeof data4k);
    memcpy(data32, data64k, sizeof data32);
}

/* A data-returning call: libcorvale asks for the length first and gives
 * exactly that room; OpenJDK's wrapper passes its buffer of `room` bytes. */
#define OUTPUT_CALL(call_with, room, what)                  \
    do {                                                    \
        CK_ULONG len = 0;                                   \
        if (withQuery) check(call_with(NULL, &len), what);  \
        else len = (room);                                  \
        check(call_with(out, &len), what);                  \
    } while (0)

static CK_RV digest64(CK_BYTE *o, CK_ULONG *l) { return f->C_Digest(s, data64k, 64, o, l); }
static CK_RV digest64k(CK_BYTE *o, CK_ULONG *l) { return f->C_Digest(s, data64k, sizeof data64k, o, l); }
static CK_RV encrypt4k(CK_BYTE *o, CK_ULONG *l) { return f->C_Encrypt(s, data4k, sizeof data4k, o, l); }
static CK_RV sign32(CK_BYTE *o, CK_ULONG *l) { return f->C_Sign(s, data32, sizeof data32, o, l); }

static const char *const names[] = {"random32", "digest64", "digest64k", "getAttributes3",
                                    "find16", "tokenInfo", "encrypt4k", "signEcdsa"};

static int opIndex(const char *name) {
    for (int i = 0; i < (int)(sizeof names / sizeof names[0]); ++i)
        if (!strcmp(name, names[i])) return i;
    fprintf(stderr, "direct: unknown operation %s\n", name);
    exit(1);
}

static void op(int id) {
    static CK_MECHANISM sha256 = {CKM_SHA256, NULL, 0};
    static CK_MECHANISM cbcPad = {CKM_AES_CBC_PAD, iv, sizeof iv};
    static CK_MECHANISM ecdsa = {CKM_ECDSA, NULL, 0};
    if (id == 0) {
        check(f->C_GenerateRandom(s, out, 32), "C_GenerateRandom");
    } else if (id == 1) {
        check(f->C_DigestInit(s, &sha256), "C_DigestInit");
        OUTPUT_CALL(digest64, 32, "C_Digest");
    } else if (id == 2) {
        check(f->C_DigestInit(s, &sha256), "C_DigestInit");
        OUTPUT_CALL(digest64k, 32, "C_Digest");
    } else if (id == 3) {
        /* Both bridges read attributes the same way: lengths, then values. */
        CK_BYTE v[3][16];
        CK_ATTRIBUTE t[] = {{CKA_CLASS, NULL, 0}, {CKA_KEY_TYPE, NULL, 0}, {CKA_VALUE_LEN, NULL, 0}};
        check(f->C_GetAttributeValue(s, aesKey, t, 3), "C_GetAttributeValue");
        for (int i = 0; i < 3; ++i) t[i].pValue = v[i];
        check(f->C_GetAttributeValue(s, aesKey, t, 3), "C_GetAttributeValue");
    } else if (id == 4) {
        CK_ATTRIBUTE t[] = {{CKA_LABEL, label, sizeof label - 1}};
        CK_OBJECT_HANDLE found[16];
        CK_ULONG count = 0;
        check(f->C_FindObjectsInit(s, t, 1), "C_FindObjectsInit");
        check(f->C_FindObjects(s, found, 16, &count), "C_FindObjects");
        check(f->C_FindObjectsFinal(s), "C_FindObjectsFinal");
        if (count != 16) { fprintf(stderr, "direct: found %lu objects\n", (unsigned long)count); exit(1); }
    } else if (id == 5) {
        CK_TOKEN_INFO info;
        check(f->C_GetTokenInfo(slot, &info), "C_GetTokenInfo");
    } else if (id == 6) {
        check(f->C_EncryptInit(s, &cbcPad, aesKey), "C_EncryptInit");
        OUTPUT_CALL(encrypt4k, sizeof data4k + 16, "C_Encrypt");
    } else if (id == 7) {
        check(f->C_SignInit(s, &ecdsa, ecPrivate), "C_SignInit");
        OUTPUT_CALL(sign32, 4096, "C_Sign");  /* OpenJDK's stack buffer */
    }
}

static long long nowNs(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

int main(int argc, char **argv) {
    if (argc != 5) {
        fprintf(stderr, "usage: direct jdk|corvale MODULE SLOT PIN\n");
        return 2;
    }
    withQuery = !strcmp(argv[1], "corvale");
    slot = strtoul(argv[3], NULL, 10);
    setup(argv[2], argv[4]);
    printf("ready\n");
    fflush(stdout);
    char line[256], name[64];
    long n;
    while (fgets(line, sizeof line, stdin)) {
        if (sscanf(line, "run %63s %ld", name, &n) == 2) {
            int id = opIndex(name);
            long long t0 = nowNs();
            for (long i = 0; i < n; ++i) op(id);
            printf("%lld\n", nowNs() - t0);
            fflush(stdout);
        } else {
            break;
        }
    }
    f->C_Finalize(NULL);
    return 0;
}
