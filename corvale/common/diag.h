// Fixed diagnostics on standard error. Every message is a whole literal, so
// its bytes are exactly what the caller wrote; no formatting, no flush.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstdlib>

namespace corvale {

struct Message {
    const char* text;
    size_t length;
};

// MSG("text") keeps the literal and its length together.
#define CORVALE_MSG(literal) (::corvale::Message{literal, sizeof(literal) - 1})

inline void writeMessage(Message m) { std::fwrite(m.text, 1, m.length, stderr); }

// A broken binding (missing class, field, module function) ends the process.
[[noreturn]] inline void dieWith(Message m) {
    writeMessage(m);
    std::exit(1);
}

} // namespace corvale
