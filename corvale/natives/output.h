// The two-call output protocol: ask the module for the length with a null
// buffer, allocate that room, call again. Written once; every native whose
// output length the module decides goes through fetchOutput.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "corvale/common/cryptoki.h"

namespace corvale {

// Room for T values: on the stack when small, on the heap otherwise. The
// bytes are overwritten before release, since outputs may be plaintext or keys.
// A zero-size buffer is still a valid, non-null pointer.
template <class T, size_t InlineBytes = 512>
class Scratch {
public:
    Scratch() = default;
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    ~Scratch() { wipe(); }

    // False when the memory cannot be had (nothing is thrown).
    bool allocate(uint64_t count) {
        wipe();
        heap_.reset();
        if (count > SIZE_MAX / sizeof(T)) return false;
        if (count * sizeof(T) <= sizeof inline_) {
            data_ = reinterpret_cast<T*>(inline_);
        } else {
            heap_.reset(new (std::nothrow) T[static_cast<size_t>(count)]);
            if (!heap_) return false;
            data_ = heap_.get();
        }
        size_ = static_cast<size_t>(count);
        return true;
    }
    T* data() const { return data_; }
    size_t size() const { return size_; }

private:
    void wipe() {
        if (data_ && size_) explicit_bzero(data_, size_ * sizeof(T));
        data_ = nullptr;
        size_ = 0;
    }
    // Aligned for any type: parameter bytes may be read as structures in place.
    alignas(std::max_align_t) alignas(T) unsigned char inline_[InlineBytes];
    std::unique_ptr<T[]> heap_;
    T* data_ = nullptr;
    size_t size_ = 0;
};

// What a reported length of 0 becomes for the second call.
enum class ZeroLength {
    OneElement,  // a 1-element buffer, length 1 (the slice-in operations)
    Empty,       // a zero-size buffer, length 0
};

enum class Retry {
    Never,           // CKR_BUFFER_TOO_SMALL from the second call is returned
    WhileTooSmall,   // the list grew in between: ask again (slot lists)
};

// Runs call(buffer, &count) twice as the protocol says. On CKR_OK, out holds
// count valid elements. A module that reports more than the room it was given
// gets CKR_GENERAL_ERROR: nothing past the buffer is ever read.
template <class T, size_t N, class Call>
CK_RV fetchOutput(Call&& call, Scratch<T, N>& out, CK_ULONG& count, ZeroLength zero,
                  Retry retry = Retry::Never) {
    for (int attempt = 0;; ++attempt) {
        count = 0;
        CK_RV rv = call(static_cast<T*>(nullptr), &count);
        if (rv != CKR_OK) return rv;
        // No Java array could take more; don't allocate (and wipe) gigabytes
        // for a length the module made up.
        if (count > static_cast<CK_ULONG>(INT32_MAX)) return CKR_GENERAL_ERROR;
        CK_ULONG room = (count == 0 && zero == ZeroLength::OneElement) ? 1 : count;
        if (!out.allocate(room)) return CKR_HOST_MEMORY;
        count = room;
        rv = call(out.data(), &count);
        if (rv == CKR_BUFFER_TOO_SMALL && retry == Retry::WhileTooSmall && attempt < 16) continue;
        if (rv != CKR_OK) return rv;
        if (count > room) return CKR_GENERAL_ERROR;
        return CKR_OK;
    }
}

// A new Java byte[] of the first count bytes; null if the VM cannot make it
// or the count does not fit a Java array.
inline jbyteArray newByteArray(JNIEnv* env, const CK_BYTE* bytes, CK_ULONG count) {
    if (count > static_cast<CK_ULONG>(INT32_MAX)) return nullptr;
    jbyteArray array = env->NewByteArray(static_cast<jsize>(count));
    if (array && count) env->SetByteArrayRegion(array, 0, static_cast<jsize>(count), reinterpret_cast<const jbyte*>(bytes));
    return array;
}

} // namespace corvale
