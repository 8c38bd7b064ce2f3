#include "corvale/bridge/wrappers.h"

#include <cstdint>
#include <cstring>
#include <new>
#include <strings.h>

#include "corvale/common/diag.h"
#include "corvale/common/scratch.h"

namespace corvale {

void (*volatile const wipeCall)(void*, size_t) = bzero;

SecretText::~SecretText() {
    if (bytes_) wipeBytes(bytes_.get(), size_);
}

SecretText& SecretText::operator=(SecretText&& other) {
    if (bytes_) wipeBytes(bytes_.get(), size_);
    bytes_ = std::move(other.bytes_);
    size_ = other.size_;
    other.size_ = 0;
    return *this;
}

namespace {

// The same lookup as the value classes, with these classes' own messages.
JavaClass stringClass = {"java/lang/String", CORVALE_MSG("could not find class java.lang.String\n"),
                         CORVALE_MSG("could not create global ref\n"), CORVALE_MSG(""), nullptr};
JavaClass dateHelperClass = {"quorvel/pkcs/pkcs11/jni/DateHelper", CORVALE_MSG("Could not load DateHelper class\n"),
                             CORVALE_MSG("error creating global ref for class DateHelper\n"), CORVALE_MSG(""),
                             nullptr};
JavaMethod stringLength = {&stringClass, "length", "()I",
                           CORVALE_MSG("could not retrieve String.length() method ID\n"), nullptr};
std::atomic<jmethodID> toDateMethod;

constexpr jchar kReplacement = 0xFFFD;

bool isContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// True when none of the eight bytes of w is zero or above 0x7F: subtracting
// 1 from each byte then borrows nowhere and sets no top bit.
bool allPlainAscii(uint64_t w) {
    constexpr uint64_t ones = 0x0101010101010101, tops = 0x8080808080808080;
    return (((w - ones) | w) & tops) == 0;
}

// Four bytes as four UTF-16 units: each byte moves into the low half of a
// 16-bit lane of its own. Read and written through memcpy, the lanes keep
// the bytes' order whatever the machine's byte order.
void widen4(const unsigned char* in, jchar* out) {
    uint32_t v;
    std::memcpy(&v, in, 4);
    uint64_t x = v;
    x = (x | x << 16) & 0x0000FFFF0000FFFF;
    x = (x | x << 8) & 0x00FF00FF00FF00FF;
    std::memcpy(out, &x, 8);
}

} // namespace

size_t decodeUtf8(const unsigned char* in, size_t n, jchar* out) {
    size_t i = 0, o = 0;
    // Token text is mostly blank-padded ASCII: eight bytes at a time while
    // it lasts, then byte by byte.
    while (n - i >= 8) {
        uint64_t w;
        std::memcpy(&w, in + i, 8);
        if (!allPlainAscii(w)) break;
        widen4(in + i, out + o);
        widen4(in + i + 4, out + o + 4);
        i += 8;
        o += 8;
    }
    while (i < n && in[i] != 0) {
        unsigned char b = in[i];
        if (b < 0x80) {
            out[o++] = b;
            ++i;
            continue;
        }
        // Sequence length and the allowed range of the second byte, which
        // rules out overlong forms, surrogates and values above U+10FFFF.
        size_t len;
        unsigned char lo = 0x80, hi = 0xBF;
        uint32_t cp;
        if (b >= 0xC2 && b <= 0xDF) { len = 2; cp = b & 0x1F; }
        else if (b >= 0xE0 && b <= 0xEF) {
            len = 3; cp = b & 0x0F;
            if (b == 0xE0) lo = 0xA0;
            if (b == 0xED) hi = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            len = 4; cp = b & 0x07;
            if (b == 0xF0) lo = 0x90;
            if (b == 0xF4) hi = 0x8F;
        } else {
            out[o++] = kReplacement;
            ++i;
            continue;
        }
        size_t k = 1;
        for (; k < len; ++k) {
            if (i + k >= n) break;
            unsigned char c = in[i + k];
            if (k == 1 ? (c < lo || c > hi) : !isContinuation(c)) break;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (k < len) {
            // The maximal valid prefix becomes one replacement character.
            out[o++] = kReplacement;
            i += k;
            continue;
        }
        i += len;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out[o++] = static_cast<jchar>(0xD800 + (cp >> 10));
            out[o++] = static_cast<jchar>(0xDC00 + (cp & 0x3FF));
        } else {
            out[o++] = static_cast<jchar>(cp);
        }
    }
    return o;
}

JNIString::JNIString(Env& e, const unsigned char* field, size_t width) : env(&e) {
    if (e.failed) return;
    // No byte yields more than one UTF-16 unit (a 4-byte sequence yields two).
    jchar units[kMaxField];
    str = e.jni->NewString(units, static_cast<jsize>(decodeUtf8(field, width, units)));
    if (!str) e.failed = true;
}

jclass JNIString::getClass(Env& env) { return lookupClass(env, stringClass); }

int JNIString::length() const {
    if (!env || !str) return 0;
    return callInt(*env, str, stringLength);
}

SecretText JNIString::toCString() const {
    if (!env || !str || env->failed) return {};
    const char* chars = env->jni->GetStringUTFChars(str, nullptr);
    if (!chars) {
        env->failed = true;
        return {};
    }
    // The modified UTF-8 form has at least one byte per UTF-16 unit, so n
    // bytes are always there.
    int length = this->length();
    size_t n = length > 0 ? static_cast<size_t>(length) : 0;
    // No room for the copy (a huge string): no text, as when the characters
    // cannot be had.
    std::unique_ptr<char[]> copy(new (std::nothrow) char[n + 1]);
    if (copy) {
        std::memcpy(copy.get(), chars, n);
        copy[n] = 0;
    }
    env->jni->ReleaseStringUTFChars(str, chars);
    return copy ? SecretText(std::move(copy), n + 1) : SecretText();
}

jclass Date::getDateHelperClass(Env& env) { return lookupClass(env, dateHelperClass); }

Date::Date(Env& e, JNIString text, int kind) : env(&e) {
    // Making the clock text failed: no JNI call may follow, and its error
    // must reach the caller, not be cleared.
    if (!text.str || e.failed) return;
    // The record around the date is still to be made: a missing helper is
    // reported, and its error cleared.
    jclass cls = getDateHelperClass(e);
    jmethodID mid = toDateMethod.load(std::memory_order_relaxed);
    if (cls && !mid) {
        mid = e.jni->GetStaticMethodID(cls, "toDate", "(Ljava/lang/String;I)Ljava/util/Date;");
        if (mid) toDateMethod.store(mid, std::memory_order_relaxed);
        else writeMessage(CORVALE_MSG("Error retrieving method id for method DateHelper.toDate(JNIString,int)\n"));
    }
    if (!mid) {
        e.jni->ExceptionClear();
        e.failed = false;
        return;
    }
    jvalue args[2];
    args[0].l = text.str;
    args[1].i = kind;
    obj = e.jni->CallStaticObjectMethodA(cls, mid, args);
    if (e.jni->ExceptionCheck()) {
        writeMessage(CORVALE_MSG("Exception ocurred\n"));
        e.jni->ExceptionDescribe();  // prints and clears it
        obj = nullptr;
    }
}

} // namespace corvale
