/* Asks a PKCS#11 module directly what the Java tests ask through the
 * bridge, and prints it one record a line as key=value words: text fields
 * as hex of their full width, flags and types as hex, sizes as decimal.
 *
 *   p11probe MODULE_PATH
 *
 * Exit status: 0 when everything was read, 1 on a usage or load error,
 * 2 when a module call failed (the line says which). */
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>

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

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s MODULE_PATH\n", argv[0]);
        return 1;
    }
    void* module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    CK_C_GetFunctionList getList = module ? (CK_C_GetFunctionList)dlsym(module, "C_GetFunctionList") : NULL;
    if (!getList || getList(&p11) != CKR_OK || !p11) {
        fprintf(stderr, "cannot load %s: %s\n", argv[1], module ? "no function list" : dlerror());
        return 1;
    }
    if (!check("C_Initialize", p11->C_Initialize(NULL))) return 2;

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
