// Java attribute templates and byte arrays as native buffers of one call.
// Everything here is owned by a guard on the native's stack, so it is
// released (and overwritten: values may be key material) on every path.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>

#include "corvale/common/cryptoki.h"
#include "corvale/common/env.h"
#include "corvale/common/scratch.h"

namespace corvale {

// Input and output bytes of one call: small ones stay on the stack.
template <Wipe W = Wipe::Yes>
using Bytes = Scratch<CK_BYTE, 4096, W>;

class Template;

enum class TemplateValues {
    Copy,       // the Java values become the attribute values
    TypesOnly,  // values are checked but not copied (attribute reading)
};

// Builds tpl, which is empty, from a Java TemplateAttribute[]. False, with
// nothing kept, for a null array, a null element or type, a value that is
// neither null nor a byte[], memory that cannot be had, or a getter that
// threw (e.failed); the caller then calls no module.
bool createTemplate(Env& e, jobjectArray array, Template& tpl, TemplateValues values = TemplateValues::Copy);
// Replaces every element of array with a new TemplateAttribute of the
// attribute's code and value (null when pValue is null). The lengths must
// already have been checked against the buffers. False if the VM failed to
// make an object; its exception is then pending and the rest is unchanged.
bool fillTemplate(Env& e, jobjectArray array, const Template& tpl);
// Overwrites and releases every value and the attribute array; the
// destructor does it too, so an explicit call is only for reuse.
void destroyTemplate(Template& tpl);

class Template {
public:
    Template() = default;
    Template(const Template&) = delete;
    Template& operator=(const Template&) = delete;
    ~Template() { wipeValues(); }

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

private:
    friend bool createTemplate(Env&, jobjectArray, Template&, TemplateValues);
    friend void destroyTemplate(Template&);
    bool allocate(size_t count);
    // A block of its own for a value the arena has no room for; out of line,
    // so that the common case stays small.
    [[gnu::noinline]] CK_BYTE* allocateSpill(size_t i, CK_ULONG length);
    // Overwrites every value, through our own records: the module may have
    // rewritten the lengths. The spilled blocks are freed with spills_.
    void wipeValues();

    struct Spill {
        std::unique_ptr<CK_BYTE[]> bytes;
        size_t size = 0;
    };
    static constexpr size_t kInlineAttributes = 16;
    static constexpr size_t kArenaBytes = 512;
    static constexpr size_t kValueAlignment = 16;  // modules may read numbers in place

    // Types, pointers and lengths are not secret; the values are wiped.
    Scratch<CK_ATTRIBUTE, kInlineAttributes * sizeof(CK_ATTRIBUTE), Wipe::No> attributes_;
    Scratch<CK_ULONG, kInlineAttributes * sizeof(CK_ULONG), Wipe::No> rooms_;
    // Small values share one stack arena; larger ones get a block each.
    alignas(kValueAlignment) CK_BYTE arena_[kArenaBytes];
    size_t arenaUsed_ = 0;
    std::unique_ptr<Spill[]> spills_;
    size_t count_ = 0;
};

// Copies array[offset, offset + length) into out, which is empty. False (out
// still empty) for a null array, a length of 0, a negative offset or length, a region past the
// array's end (checked in 64 bits), memory that cannot be had, or a failed call.
// Both copies are inlined: they are on the path of every native that takes bytes.
template <size_t N, Wipe W>
[[gnu::always_inline]] inline bool getArrayCopy(Env& e, jbyteArray array, jint offset, jint length,
                                                Scratch<CK_BYTE, N, W>& out) {
    if (e.failed || !array || length <= 0 || offset < 0) return false;
    if (static_cast<int64_t>(offset) + static_cast<int64_t>(length) > e.jni->GetArrayLength(array)) return false;
    if (!out.allocate(static_cast<uint64_t>(length))) return false;
    e.jni->GetByteArrayRegion(array, offset, length, reinterpret_cast<jbyte*>(out.data()));
    return true;
}

// What a whole-array copy makes of an empty Java array.
enum class EmptyArray {
    Refused,  // no copy: the native answers null
    Null,     // a null pointer and length 0 reach the module
    Kept,     // a valid pointer and length 0 reach the module
};

// The whole array into out, which is empty. False for a null array, a failed
// call, memory that cannot be had, or an empty array where that is Refused.
template <size_t N, Wipe W>
[[gnu::always_inline]] inline bool getArrayCopy(Env& e, jbyteArray array, Scratch<CK_BYTE, N, W>& out,
                                                EmptyArray empty = EmptyArray::Refused) {
    if (e.failed || !array) return false;
    jsize length = e.jni->GetArrayLength(array);
    if (length <= 0) return empty == EmptyArray::Null || (empty == EmptyArray::Kept && out.allocate(0));
    if (!out.allocate(static_cast<uint64_t>(length))) return false;
    e.jni->GetByteArrayRegion(array, 0, length, reinterpret_cast<jbyte*>(out.data()));
    return true;
}

// A new Java byte[] of the first count bytes; null if the call failed before,
// the count does not fit a Java array, or the VM cannot make it (e.failed).
inline jbyteArray newByteArray(Env& e, const CK_BYTE* bytes, CK_ULONG count) {
    if (e.failed || count > kMaxJavaArray) return nullptr;
    jbyteArray array = e.jni->NewByteArray(static_cast<jsize>(count));
    if (!array) e.failed = true;
    else if (count) e.jni->SetByteArrayRegion(array, 0, static_cast<jsize>(count), reinterpret_cast<const jbyte*>(bytes));
    return array;
}

// A local reference released when the scope ends, unless its loop keeps
// its references (keepLocalRefs): a long Java array must not pile up one
// reference per element.
struct LocalRef {
    JNIEnv* env;
    jobject obj;
    bool kept;
    LocalRef(JNIEnv* e, jobject o, bool keep = false) : env(e), obj(o), kept(keep) {}
    LocalRef(const LocalRef&) = delete;
    LocalRef& operator=(const LocalRef&) = delete;
    ~LocalRef() {
        if (obj && !kept) env->DeleteLocalRef(obj);
    }
};

// count bytes; the areas must not overlap.
inline void copy(CK_BYTE* destination, const CK_BYTE* source, unsigned int count) {
    std::memcpy(destination, source, count);
}

} // namespace corvale

extern "C" {
// Raises a new exception of the class (slash-separated name) with a message
// formatted into 200 bytes. 1 when raised, 0 when the class is missing (the
// VM's NoClassDefFoundError is then pending).
JNIEXPORT __attribute__((format(printf, 3, 4)))
int throwException(JNIEnv* env, const char* className, const char* format, ...);
}
