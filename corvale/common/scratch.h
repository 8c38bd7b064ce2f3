// Room for the values of one call: on the stack when small, on the heap
// otherwise, released when the call ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

namespace corvale {

// Whether a buffer is overwritten before it is released: yes for what may be
// secret (PINs, plaintext, decrypted data, random bytes, key material,
// mechanism parameters), no for what is public anyway (ciphertext, digests,
// signatures, wrapped keys, handles and lists).
enum class Wipe { No, Yes };

// Every wipe is one call of libc's bzero through a pointer the compiler
// cannot see through, so that the zeroing is never dropped as a dead store:
// what explicit_bzero does, without its glibc 2.25 symbol, and a call of
// its own that the tests' wipe check can watch.
extern void (*volatile const wipeCall)(void*, size_t);
inline void wipeBytes(void* bytes, size_t size) { wipeCall(bytes, size); }

// Room for T values. A zero-size buffer is still a valid, non-null pointer.
template <class T, size_t InlineBytes = 512, Wipe W = Wipe::Yes>
class Scratch {
public:
    Scratch() = default;
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    ~Scratch() { wipe(); }

    // False when the memory cannot be had (nothing is thrown).
    bool allocate(uint64_t count) {
        if (data_) release();
        if (count > sizeof inline_ / sizeof(T)) return allocateOnHeap(count);
        data_ = reinterpret_cast<T*>(inline_);
        size_ = static_cast<size_t>(count);
        return true;
    }
    // Overwrites (when W says so) and frees what it holds; empty after.
    [[gnu::noinline]] void release() {
        wipe();
        heap_.reset();
        data_ = nullptr;
        size_ = 0;
    }
    T* data() const { return data_; }
    size_t size() const { return size_; }

private:
    void wipe() {
        if (W == Wipe::Yes && size_) wipeBytes(data_, size_ * sizeof(T));
    }
    // The uncommon cases out of line, so that allocate stays small enough to
    // inline into every caller.
    [[gnu::noinline]] bool allocateOnHeap(uint64_t count) {
        if (count > SIZE_MAX / sizeof(T)) return false;
        heap_.reset(new (std::nothrow) T[static_cast<size_t>(count)]);
        if (!heap_) return false;
        data_ = heap_.get();
        size_ = static_cast<size_t>(count);
        return true;
    }
    // Aligned for any type: parameter bytes may be read as structures in place.
    alignas(std::max_align_t) alignas(T) unsigned char inline_[InlineBytes];
    std::unique_ptr<T[]> heap_;
    T* data_ = nullptr;
    size_t size_ = 0;
};

} // namespace corvale
