// Natives of corvaletest.mock.DumpProbe: each passes its arguments on to one
// exported dump function of libcorvale, declared here as a client sees them.
#include <jni.h>
#include <p11-kit/pkcs11.h>

#include <cstdio>
#include <memory>

extern "C" {
void printTemplate(CK_ATTRIBUTE* attributes, unsigned int count);
void dumpTemplate(CK_ATTRIBUTE* attributes, unsigned int count);
void dumpCharArray(JNIEnv* env, jcharArray array);
void dumpCharArrayArray(JNIEnv* env, jobjectArray array);
void dumpByteArray(JNIEnv* env, jbyteArray array);
void dumpIntArray(JNIEnv* env, jintArray array);
void dumpObjectArray(JNIEnv* env, jobjectArray array);
int throwException(JNIEnv* env, const char* className, const char* format, ...);
}

namespace {

// A native template of types[i], values[i] (null stays null) and lengths[i]
// (-1 is CK_UNAVAILABLE_INFORMATION), handed to dump.
void withTemplate(JNIEnv* env, jlongArray types, jobjectArray values, jlongArray lengths,
                  void (*dump)(CK_ATTRIBUTE*, unsigned int)) {
    jsize n = env->GetArrayLength(types);
    std::unique_ptr<CK_ATTRIBUTE[]> attributes(new CK_ATTRIBUTE[n ? n : 1]);
    std::unique_ptr<std::unique_ptr<jbyte[]>[]> bytes(new std::unique_ptr<jbyte[]>[n ? n : 1]);
    jlong* t = env->GetLongArrayElements(types, nullptr);
    jlong* l = env->GetLongArrayElements(lengths, nullptr);
    for (jsize i = 0; i < n; ++i) {
        auto value = static_cast<jbyteArray>(env->GetObjectArrayElement(values, i));
        attributes[i].type = static_cast<CK_ATTRIBUTE_TYPE>(t[i]);
        attributes[i].ulValueLen = static_cast<CK_ULONG>(l[i]);
        attributes[i].pValue = nullptr;
        if (value) {
            jsize m = env->GetArrayLength(value);
            bytes[i].reset(new jbyte[m ? m : 1]);
            env->GetByteArrayRegion(value, 0, m, bytes[i].get());
            attributes[i].pValue = bytes[i].get();
            env->DeleteLocalRef(value);
        }
    }
    env->ReleaseLongArrayElements(types, t, JNI_ABORT);
    env->ReleaseLongArrayElements(lengths, l, JNI_ABORT);
    dump(attributes.get(), static_cast<unsigned int>(n));
}

} // namespace

extern "C" {

JNIEXPORT void JNICALL Java_corvaletest_mock_DumpProbe_mark(JNIEnv* env, jclass, jstring text) {
    const char* chars = env->GetStringUTFChars(text, nullptr);
    std::fputs(chars, stderr);
    env->ReleaseStringUTFChars(text, chars);
}

JNIEXPORT void JNICALL Java_corvaletest_mock_DumpProbe_printTemplate(JNIEnv* env, jclass, jlongArray types,
                                                                    jobjectArray values, jlongArray lengths) {
    withTemplate(env, types, values, lengths, printTemplate);
}

JNIEXPORT void JNICALL Java_corvaletest_mock_DumpProbe_dumpTemplate(JNIEnv* env, jclass, jlongArray types,
                                                                   jobjectArray values, jlongArray lengths) {
    withTemplate(env, types, values, lengths, dumpTemplate);
}

JNIEXPORT void JNICALL Java_corvaletest_mock_DumpProbe_dumpCharArray(JNIEnv* env, jclass, jcharArray a) {
    dumpCharArray(env, a);
}

JNIEXPORT void JNICALL Java_corvaletest_mock_DumpProbe_dumpCharArrayArray(JNIEnv* env, jclass, jobjectArray a) {
    dumpCharArrayArray(env, a);
}

JNIEXPORT void JNICALL Java_corvaletest_mock_DumpProbe_dumpByteArray(JNIEnv* env, jclass, jbyteArray a) {
    dumpByteArray(env, a);
}

JNIEXPORT void JNICALL Java_corvaletest_mock_DumpProbe_dumpIntArray(JNIEnv* env, jclass, jintArray a) {
    dumpIntArray(env, a);
}

JNIEXPORT void JNICALL Java_corvaletest_mock_DumpProbe_dumpObjectArray(JNIEnv* env, jclass, jobjectArray a) {
    dumpObjectArray(env, a);
}

JNIEXPORT jint JNICALL Java_corvaletest_mock_DumpProbe_throwException(JNIEnv* env, jclass, jstring className,
                                                                     jstring text, jint number) {
    const char* name = env->GetStringUTFChars(className, nullptr);
    const char* chars = env->GetStringUTFChars(text, nullptr);
    int raised = throwException(env, name, "%s #%d", chars, static_cast<int>(number));
    env->ReleaseStringUTFChars(text, chars);
    env->ReleaseStringUTFChars(className, name);
    return raised;
}

} // extern "C"
