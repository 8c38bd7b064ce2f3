/* Asks a PKCS#11 module directly what the Java tests ask through the
 * bridge, and prints it one record a line as key=value words: text fields
 * as hex of their full width, flags and types as hex, sizes as decimal.
 *
 *   p11probe [--symbols] MODULE_PATH [NSS_PARAMETERS]
 *
 * With --symbols, the functions are the module's exported symbols, as the
 * bridge binds a generic module (a module may answer differently through
 * them: OpenSC's C_GetInfo reports the Cryptoki version of the interface the
 * caller obtained); otherwise they come from C_GetFunctionList.
 * With NSS_PARAMETERS (NSS softoken's "configdir=... certPrefix= ..."), the
 * module is initialised with them as NSS expects, in the arguments' seventh
 * field; otherwise with NULL.
 *
 * Exit status: 0 when everything was read, 1 on a usage or load error,
 * 2 when a module call failed (the line says which). */
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <p11-kit/pkcs11.h>

static CK_FUNCTION_LIST_PTR p11;

static void hex(const char* key, const unsigned char* bytes, size_t n) {
    printf(" %s=", key);
    for (size_t i = 0; i < n; ++i) printf("%02x", bytes[i]);
}

static void version(const char* key, CK_VERSION v) { printf(" %s=%u.%u", key, v.major, v.minor); }

static int check(const char* what, CK_RV rv) {
    if (rv == CKR_OK) return 1;
    printf("error %s rv=0x%lx\n", what, (unsigned long)rv);
    return 0;
}

static int mechanisms(CK_SLOT_ID slot) {
    CK_ULONG count = 0;
    if (!check("C_GetMechanismList", p11->C_GetMechanismList(slot, NULL, &count))) return 0;
    CK_MECHANISM_TYPE* types = calloc(count ? count : 1, sizeof *types);
    if (!types || !check("C_GetMechanismList", p11->C_GetMechanismList(slot, types, &count))) {
        free(types);
        return 0;
    }
    int ok = 1;
    for (CK_ULONG i = 0; i < count; ++i) {
        CK_MECHANISM_INFO info = {0};
        if (!check("C_GetMechanismInfo", p11->C_GetMechanismInfo(slot, types[i], &info))) {
            ok = 0;
            continue;
        }
        printf("mechanism slot=%lu type=0x%lx min=%lu max=%lu flags=0x%lx\n", (unsigned long)slot,
               (unsigned long)types[i], (unsigned long)info.ulMinKeySize, (unsigned long)info.ulMaxKeySize,
               (unsigned long)info.flags);
    }
    free(types);
    return ok;
}

static int slot(CK_SLOT_ID id) {
    CK_SLOT_INFO s = {0};
    if (!check("C_GetSlotInfo", p11->C_GetSlotInfo(id, &s))) return 0;
    printf("slot id=%lu flags=0x%lx", (unsigned long)id, (unsigned long)s.flags);
    hex("description", s.slotDescription, sizeof s.slotDescription);
    hex("manufacturer", s.manufacturerID, sizeof s.manufacturerID);
    version("hw", s.hardwareVersion);
    version("fw", s.firmwareVersion);
    printf("\n");
    if (!(s.flags & CKF_TOKEN_PRESENT)) return 1;

    CK_TOKEN_INFO t = {0};
    if (!check("C_GetTokenInfo", p11->C_GetTokenInfo(id, &t))) return 0;
    printf("token slot=%lu flags=0x%lx", (unsigned long)id, (unsigned long)t.flags);
    hex("label", t.label, sizeof t.label);
    hex("manufacturer", t.manufacturerID, sizeof t.manufacturerID);
    hex("model", t.model, sizeof t.model);
    hex("serial", t.serialNumber, sizeof t.serialNumber);
    printf(" maxSessions=%lu maxRwSessions=%lu maxPin=%lu minPin=%lu", (unsigned long)t.ulMaxSessionCount,
           (unsigned long)t.ulMaxRwSessionCount, (unsigned long)t.ulMaxPinLen, (unsigned long)t.ulMinPinLen);
    printf(" totalPublic=%lu totalPrivate=%lu", (unsigned long)t.ulTotalPublicMemory,
           (unsigned long)t.ulTotalPrivateMemory);
    version("hw", t.hardwareVersion);
    version("fw", t.firmwareVersion);
    printf("\n");
    return mechanisms(id);
}

/* NSS's CK_C_INITIALIZE_ARGS: the standard six fields and its parameter string. */
struct nss_init_args {
    CK_CREATEMUTEX CreateMutex;
    CK_DESTROYMUTEX DestroyMutex;
    CK_LOCKMUTEX LockMutex;
    CK_UNLOCKMUTEX UnlockMutex;
    CK_FLAGS flags;
    char* parameters;
    void* reserved;
};

/* The functions the probe calls, each looked up by its exported name. */
static int bySymbols(void* module, CK_FUNCTION_LIST* list) {
#define LOOKUP(name) (list->name = (CK_##name)dlsym(module, #name)) != NULL
    return LOOKUP(C_Initialize) && LOOKUP(C_Finalize) && LOOKUP(C_GetInfo) && LOOKUP(C_GetSlotList) &&
           LOOKUP(C_GetSlotInfo) && LOOKUP(C_GetTokenInfo) && LOOKUP(C_GetMechanismList) &&
           LOOKUP(C_GetMechanismInfo);
#undef LOOKUP
}

int main(int argc, char** argv) {
    int symbols = argc > 1 && strcmp(argv[1], "--symbols") == 0;
    argv += symbols;
    argc -= symbols;
    if (argc != 2 && argc != 3) {
        fprintf(stderr, "usage: p11probe [--symbols] MODULE_PATH [NSS_PARAMETERS]\n");
        return 1;
    }
    void* module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    CK_C_GetFunctionList getList = module ? (CK_C_GetFunctionList)dlsym(module, "C_GetFunctionList") : NULL;
    static CK_FUNCTION_LIST exported;
    if (symbols ? !module || !bySymbols(module, &exported) : !getList || getList(&p11) != CKR_OK || !p11) {
        fprintf(stderr, "cannot load %s: %s\n", argv[1], module ? "missing functions" : dlerror());
        return 1;
    }
    if (symbols) p11 = &exported;
    struct nss_init_args nss = {0};
    nss.parameters = argc == 3 ? argv[2] : NULL;
    if (!check("C_Initialize", p11->C_Initialize(argc == 3 ? &nss : NULL))) return 2;

    int ok = 1;
    CK_INFO info = {0};
    if (check("C_GetInfo", p11->C_GetInfo(&info))) {
        printf("info");
        version("cryptoki", info.cryptokiVersion);
        version("library", info.libraryVersion);
        hex("manufacturer", info.manufacturerID, sizeof info.manufacturerID);
        hex("description", info.libraryDescription, sizeof info.libraryDescription);
        printf("\n");
    } else {
        ok = 0;
    }

    CK_ULONG count = 0;
    CK_SLOT_ID* slots = NULL;
    if (check("C_GetSlotList", p11->C_GetSlotList(CK_FALSE, NULL, &count))) {
        slots = calloc(count ? count : 1, sizeof *slots);
        if (slots && check("C_GetSlotList", p11->C_GetSlotList(CK_FALSE, slots, &count))) {
            for (CK_ULONG i = 0; i < count; ++i) ok &= slot(slots[i]);
        } else {
            ok = 0;
        }
    } else {
        ok = 0;
    }
    free(slots);
    p11->C_Finalize(NULL);
    return ok ? 0 : 2;
}
