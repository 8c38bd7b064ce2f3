#include "corvale/templates/dumps.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>

namespace {

bool hasValue(const CK_ATTRIBUTE& a) { return a.pValue && a.ulValueLen != CK_UNAVAILABLE_INFORMATION; }

// "[", the elements joined by ",", "]"; "null" for a null array.
template <class Element>
void dumpArray(jobject array, jsize length, Element&& element) {
    if (!array) {
        std::fputs("null", stderr);
        return;
    }
    std::fputc('[', stderr);
    for (jsize i = 0; i < length; ++i) {
        if (i) std::fputc(',', stderr);
        element(i);
    }
    std::fputc(']', stderr);
}

jsize lengthOf(JNIEnv* env, jarray array) { return array ? env->GetArrayLength(array) : 0; }

} // namespace

extern "C" {

JNIEXPORT void printTemplate(CK_ATTRIBUTE* attributes, unsigned int count) {
    std::fprintf(stderr, "Template (size:%u) {\n", count);
    for (unsigned int i = 0; i < count; ++i) {
        const CK_ATTRIBUTE& a = attributes[i];
        std::fprintf(stderr, "\tattrType : %lu size : %lu value : ", a.type, a.ulValueLen);
        if (hasValue(a)) {
            auto bytes = static_cast<const unsigned char*>(a.pValue);
            for (CK_ULONG k = 0; k < a.ulValueLen; ++k) std::fprintf(stderr, "%02x ", bytes[k]);
        }
        std::fputc('\n', stderr);
    }
    std::fputs("}\n", stderr);
}

JNIEXPORT void dumpTemplate(CK_ATTRIBUTE* attributes, unsigned int count) {
    std::fprintf(stderr, "Dumping template len=%u\n", count);
    for (unsigned int i = 0; i < count; ++i) {
        const CK_ATTRIBUTE& a = attributes[i];
        std::fprintf(stderr, "\ttype:%lu ", a.type);
        if (hasValue(a)) {
            auto bytes = static_cast<const unsigned char*>(a.pValue);
            for (CK_ULONG k = 0; k < a.ulValueLen; ++k) std::fprintf(stderr, "%02x", bytes[k]);
        }
        std::fputc('\n', stderr);
    }
    std::fputs("Finished dumping template\n", stderr);
}

JNIEXPORT void dumpCharArray(JNIEnv* env, jcharArray array) {
    jsize length = lengthOf(env, array);
    jchar* chars = array ? env->GetCharArrayElements(array, nullptr) : nullptr;
    if (array && !chars) return;  // out of memory: the VM's error is pending
    dumpArray(array, length, [&](jsize i) {
        std::fprintf(stderr, "%02x(%c)", static_cast<unsigned>(chars[i]), static_cast<unsigned char>(chars[i] & 0xFF));
    });
    if (chars) env->ReleaseCharArrayElements(array, chars, 0);
}

JNIEXPORT void dumpCharArrayArray(JNIEnv* env, jobjectArray array) {
    dumpArray(array, lengthOf(env, array), [&](jsize i) {
        auto inner = static_cast<jcharArray>(env->GetObjectArrayElement(array, i));
        dumpCharArray(env, inner);
        if (inner) env->DeleteLocalRef(inner);
    });
}

JNIEXPORT void dumpByteArray(JNIEnv* env, jbyteArray array) {
    jsize length = lengthOf(env, array);
    jbyte* bytes = array ? env->GetByteArrayElements(array, nullptr) : nullptr;
    if (array && !bytes) return;
    dumpArray(array, length, [&](jsize i) { std::fprintf(stderr, "%02x", static_cast<unsigned char>(bytes[i])); });
    if (bytes) env->ReleaseByteArrayElements(array, bytes, 0);
}

JNIEXPORT void dumpIntArray(JNIEnv* env, jintArray array) {
    jsize length = lengthOf(env, array);
    jint* ints = array ? env->GetIntArrayElements(array, nullptr) : nullptr;
    if (array && !ints) return;
    dumpArray(array, length, [&](jsize i) { std::fprintf(stderr, "%i", static_cast<int>(ints[i])); });
    if (ints) env->ReleaseIntArrayElements(array, ints, 0);
}

JNIEXPORT void dumpObjectArray(JNIEnv* env, jobjectArray array) {
    dumpArray(array, lengthOf(env, array), [&](jsize i) {
        jobject element = env->GetObjectArrayElement(array, i);
        // The reference's own value, pointer-wide.
        std::fprintf(stderr, "%" PRIxPTR, reinterpret_cast<uintptr_t>(element));
        if (element) env->DeleteLocalRef(element);
    });
}

} // extern "C"
