// Byte forms of CK_ULONG, CK_BBOOL and CK_DATE attribute values, so Java can
// build templates without knowing the native width or byte order.
//
// Short input is treated like a missing one: a destination shorter than the
// type, a source shorter than the type, or a date string whose modified
// UTF-8 form is shorter than its field (4 bytes for the year, 2 for month and
// day) makes the codec do nothing. Encoders then write no byte at all (never
// part of a value), decoders return 0 or false, decodeDate stores nothing.
// Nothing is read or written outside an array or string either way.
#include <cstring>

#include "corvale/bridge/wrappers.h"
#include "corvale/templates/templates.h"
#include "quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions.h"

namespace {

constexpr jsize kDateSize = sizeof(CK_DATE);
static_assert(kDateSize == 8, "CK_DATE is year[4] month[2] day[2]");

bool holds(JNIEnv* env, jbyteArray array, jsize size) { return array && env->GetArrayLength(array) >= size; }

// The first `width` bytes of a string's modified UTF-8 form; false when the
// form is shorter or the characters cannot be had.
bool leadingBytes(JNIEnv* env, jstring text, CK_BYTE* out, unsigned width) {
    if (env->GetStringUTFLength(text) < static_cast<jsize>(width)) return false;
    const char* chars = env->GetStringUTFChars(text, nullptr);
    if (!chars) return false;
    corvale::copy(out, reinterpret_cast<const CK_BYTE*>(chars), width);
    env->ReleaseStringUTFChars(text, chars);
    return true;
}

// A date field as a Java string: cut at a zero byte, invalid UTF-8 replaced.
jstring fieldString(JNIEnv* env, const CK_BYTE* field, size_t width) {
    jchar units[4];
    return env->NewString(units, static_cast<jsize>(corvale::decodeUtf8(field, width, units)));
}

} // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_getULongSize(JNIEnv*, jclass) {
    return sizeof(CK_ULONG);
}

JNIEXPORT jint JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_getBoolSize(JNIEnv*, jclass) {
    return sizeof(CK_BBOOL);
}

JNIEXPORT jint JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_getDateSize(JNIEnv*, jclass) {
    return kDateSize;
}

JNIEXPORT void JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_encodeULong(
    JNIEnv* env, jclass, jlong value, jbyteArray destination) {
    if (!holds(env, destination, sizeof(CK_ULONG))) return;
    CK_ULONG native = corvale::toUlong(value);
    env->SetByteArrayRegion(destination, 0, sizeof native, reinterpret_cast<const jbyte*>(&native));
}

JNIEXPORT jlong JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_decodeULong(
    JNIEnv* env, jclass, jbyteArray source) {
    if (!holds(env, source, sizeof(CK_ULONG))) return 0;
    CK_ULONG native = 0;
    env->GetByteArrayRegion(source, 0, sizeof native, reinterpret_cast<jbyte*>(&native));
    return corvale::toJlong(native);
}

JNIEXPORT void JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_encodeBool(
    JNIEnv* env, jclass, jboolean value, jbyteArray destination) {
    if (!holds(env, destination, sizeof(CK_BBOOL))) return;
    auto native = static_cast<jbyte>(value);
    env->SetByteArrayRegion(destination, 0, 1, &native);
}

JNIEXPORT jboolean JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_decodeBool(
    JNIEnv* env, jclass, jbyteArray source) {
    if (!holds(env, source, sizeof(CK_BBOOL))) return JNI_FALSE;
    jbyte native = 0;
    env->GetByteArrayRegion(source, 0, 1, &native);
    return static_cast<jboolean>(native);  // the byte as it is
}

JNIEXPORT void JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_encodeDate(
    JNIEnv* env, jclass, jstring day, jstring month, jstring year, jbyteArray destination) {
    if (!day || !month || !year || !holds(env, destination, kDateSize)) return;
    CK_DATE date;
    if (!leadingBytes(env, year, date.year, 4) || !leadingBytes(env, month, date.month, 2) ||
        !leadingBytes(env, day, date.day, 2))
        return;
    env->SetByteArrayRegion(destination, 0, kDateSize, reinterpret_cast<const jbyte*>(&date));
}

JNIEXPORT void JNICALL Java_quorvel_pkcs_pkcs11_jni_NativeCryptokiFunctions_decodeDate(
    JNIEnv* env, jclass, jbyteArray source, jobjectArray dayMonthYear) {
    if (!dayMonthYear || !holds(env, source, kDateSize)) return;
    CK_DATE date;
    env->GetByteArrayRegion(source, 0, kDateSize, reinterpret_cast<jbyte*>(&date));
    const CK_BYTE* fields[3] = {date.day, date.month, date.year};
    const size_t widths[3] = {2, 2, 4};
    for (jsize i = 0; i < 3; ++i) {
        corvale::LocalRef text(env, fieldString(env, fields[i], widths[i]));
        if (!text.obj) return;
        // A String[] of fewer than three elements raises the index exception.
        env->SetObjectArrayElement(dayMonthYear, i, text.obj);
        if (env->ExceptionCheck()) return;
    }
}

} // extern "C"
