// Java attribute templates and byte arrays as native buffers of one call.
// Everything here is owned by a guard on the native's stack, so it is
// released (and overwritten: values may be key material) on every path.
#pragma once

#include <cstdint>
#include <memory>

#include "corvale/common/cryptoki.h"
#include "corvale/natives/output.h"

namespace corvale {

// Input and output bytes of one call: small ones stay on the stack.
using Bytes = Scratch<CK_BYTE, 4096>;

class Template;

enum class TemplateValues {
    Copy,       // the Java values become the attribute values
    TypesOnly,  // values are checked but not copied (attribute reading)
};

// Builds tpl from a Java TemplateAttribute[]. False, with nothing kept, for a
// null array, a null element or type, a value that is neither null nor a
// byte[], or memory that cannot be had; the caller then calls no module.
bool createTemplate(JNIEnv* env, jobjectArray array, Template& tpl,
                    TemplateValues values = TemplateValues::Copy);
// Replaces every element of array with a new TemplateAttribute of the
// attribute's code and value (null when pValue is null). The lengths must
// already have been checked against the buffers. False if the VM failed to
// make an object; its exception is then pending and the rest is unchanged.
bool fillTemplate(JNIEnv* env, jobjectArray array, const Template& tpl);
// Overwrites and releases every value and the attribute array; the
// destructor does it too, so an explicit call is only for reuse.
void destroyTemplate(Template& tpl);

class Template {
public:
    Template() = default;
    Template(const Template&) = delete;
    Template& operator=(const Template&) = delete;
    ~Template() { destroyTemplate(*this); }

    CK_ATTRIBUTE* data() const { return attributes_.data(); }
    CK_ULONG count() const { return count_; }
    CK_ATTRIBUTE& operator[](size_t i) const { return attributes_.data()[i]; }
    // The bytes attribute i was given, whatever the module wrote into
    // ulValueLen since.
    CK_ULONG room(size_t i) const { return rooms_.data()[i]; }

    // Gives attribute i a value buffer of length bytes (a valid pointer also
    // for 0). Null when the memory cannot be had or the length could never
    // become a Java array.
    CK_BYTE* allocateValue(size_t i, CK_ULONG length);
    // Drops every value: pValue null, ulValueLen 0.
    void releaseValues();

private:
    friend bool createTemplate(JNIEnv*, jobjectArray, Template&, TemplateValues);
    friend void destroyTemplate(Template&);
    bool allocate(size_t count);

    struct Spill {
        std::unique_ptr<CK_BYTE[]> bytes;
        size_t size = 0;
    };
    static constexpr size_t kInlineAttributes = 16;
    static constexpr size_t kArenaBytes = 512;
    static constexpr size_t kValueAlignment = 16;  // modules may read numbers in place

    Scratch<CK_ATTRIBUTE, kInlineAttributes * sizeof(CK_ATTRIBUTE)> attributes_;
    Scratch<CK_ULONG, kInlineAttributes * sizeof(CK_ULONG)> rooms_;
    // Small values share one stack arena; larger ones get a block each.
    alignas(kValueAlignment) CK_BYTE arena_[kArenaBytes];
    size_t arenaUsed_ = 0;
    std::unique_ptr<Spill[]> spills_;
    size_t count_ = 0;
};

// Copies array[offset, offset + length) into out. False (out empty) for a
// null array, a length of 0, a negative offset or length, a region past the
// array's end (checked in 64 bits), or memory that cannot be had.
template <size_t N>
bool getArrayCopy(JNIEnv* env, jbyteArray array, jint offset, jint length, Scratch<CK_BYTE, N>& out) {
    out.allocate(0);
    if (!array || length <= 0 || offset < 0) return false;
    if (static_cast<int64_t>(offset) + static_cast<int64_t>(length) > env->GetArrayLength(array)) return false;
    if (!out.allocate(static_cast<uint64_t>(length))) return false;
    env->GetByteArrayRegion(array, offset, length, reinterpret_cast<jbyte*>(out.data()));
    return true;
}

// The whole array; false for a null or empty one, which every caller treats
// alike (a null pointer and length 0 where the module call is still made).
template <size_t N>
bool getArrayCopy(JNIEnv* env, jbyteArray array, Scratch<CK_BYTE, N>& out) {
    out.allocate(0);
    if (!array) return false;
    jsize length = env->GetArrayLength(array);
    if (length <= 0 || !out.allocate(static_cast<uint64_t>(length))) return false;
    env->GetByteArrayRegion(array, 0, length, reinterpret_cast<jbyte*>(out.data()));
    return true;
}

// The whole array where an empty one still reaches the module (as a null
// pointer and length 0): false only when the memory cannot be had.
template <size_t N>
bool getOptionalCopy(JNIEnv* env, jbyteArray array, Scratch<CK_BYTE, N>& out) {
    return getArrayCopy(env, array, out) || !array || env->GetArrayLength(array) == 0;
}

// The pointer and length to hand a module for an optional copy.
template <size_t N>
CK_BYTE* orNull(const Scratch<CK_BYTE, N>& bytes) {
    return bytes.size() ? bytes.data() : nullptr;
}

// A local reference released when the scope ends: loops over Java arrays
// must not pile up one reference per element.
struct LocalRef {
    JNIEnv* env;
    jobject obj;
    LocalRef(JNIEnv* e, jobject o) : env(e), obj(o) {}
    LocalRef(const LocalRef&) = delete;
    LocalRef& operator=(const LocalRef&) = delete;
    ~LocalRef() {
        if (obj) env->DeleteLocalRef(obj);
    }
};

// Byte by byte, first to last; the areas must not overlap.
void copy(CK_BYTE* destination, const CK_BYTE* source, unsigned int count);

} // namespace corvale

extern "C" {
// Raises a new exception of the class (slash-separated name) with a message
// formatted into 200 bytes. 1 when raised, 0 when the class is missing (the
// VM's NoClassDefFoundError is then pending).
JNIEXPORT __attribute__((format(printf, 3, 4)))
int throwException(JNIEnv* env, const char* className, const char* format, ...);
}
