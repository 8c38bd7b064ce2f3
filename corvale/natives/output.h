// The two-call output protocol: ask the module for the length with a null
// buffer, allocate that room, call again. Written once; every native whose
// output length the module decides goes through fetchOutput.
#pragma once

#include "corvale/common/cryptoki.h"
#include "corvale/common/scratch.h"

namespace corvale {

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
// count valid elements. A module that reports more than a Java array holds,
// or more than the room it was given, gets CKR_GENERAL_ERROR: no room is
// allocated for a made-up length, and nothing past the buffer is ever read.
// Inlined: it is the body of every data-returning native.
template <class T, size_t N, Wipe W, class Call>
[[gnu::always_inline]] inline CK_RV fetchOutput(Call&& call, Scratch<T, N, W>& out, CK_ULONG& count, ZeroLength zero,
                                                Retry retry = Retry::Never) {
    for (int attempt = 0;; ++attempt) {
        count = 0;
        CK_RV rv = call(static_cast<T*>(nullptr), &count);
        if (rv != CKR_OK) return rv;
        if (count > kMaxJavaArray) return CKR_GENERAL_ERROR;
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

} // namespace corvale
