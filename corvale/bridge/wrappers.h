// Wrappers of java.lang.String, java.util.Date and java.lang.Object.
#pragma once

#include <cstddef>
#include <memory>

#include "corvale/common/cryptoki.h"
#include "corvale/common/env.h"

namespace corvale {

// A native text copy that is overwritten before it is freed: it may hold a PIN.
class SecretText {
public:
    SecretText() = default;
    SecretText(std::unique_ptr<char[]> bytes, size_t size) : bytes_(std::move(bytes)), size_(size) {}
    SecretText(SecretText&&) = default;
    SecretText& operator=(SecretText&& other);
    ~SecretText();
    char* get() const { return bytes_.get(); }
    CK_UTF8CHAR* utf8() const { return reinterpret_cast<CK_UTF8CHAR*>(bytes_.get()); }
    // The bytes before the terminating zero.
    CK_ULONG length() const { return size_ ? static_cast<CK_ULONG>(size_ - 1) : 0; }
    explicit operator bool() const { return bytes_ != nullptr; }

private:
    std::unique_ptr<char[]> bytes_;
    size_t size_ = 0;
};

struct JNIString {
    Env* env = nullptr;
    jstring str = nullptr;

    JNIString() = default;
    JNIString(Env& e, jstring s) : env(&e), str(s) {}
    // A fixed-width Cryptoki text field: cut at the first zero byte, decoded as
    // UTF-8 with U+FFFD for every invalid sequence, blanks kept. The widest
    // field of the info records is 64 bytes.
    static constexpr size_t kMaxField = 64;
    template <size_t N>
    JNIString(Env& e, const unsigned char (&field)[N]) : JNIString(e, field, N) {
        static_assert(N <= kMaxField, "a text field wider than the decoder's room");
    }

    static jclass getClass(Env& env);
    // String.length(): UTF-16 units; 0 for a null string.
    int length() const;
    // The first length() bytes of the modified UTF-8 form, NUL-terminated;
    // empty (no bytes) when the characters cannot be obtained.
    SecretText toCString() const;

private:
    JNIString(Env& e, const unsigned char* field, size_t width);
};

struct Object {
    Env* env = nullptr;
    jobject obj = nullptr;
};

struct Date {
    Env* env = nullptr;
    jobject obj = nullptr;

    Date() = default;
    Date(Env& e, jobject d) : env(&e), obj(d) {}
    // DateHelper.toDate(text, kind); null when the helper is missing or throws
    // (which is reported and cleared: the record around it is still made).
    Date(Env& e, JNIString text, int kind);
    static jclass getDateHelperClass(Env& env);
};

// Decodes UTF-8 into UTF-16 with U+FFFD replacements, stopping at a zero
// byte. out must hold at least n units; returns the units written.
size_t decodeUtf8(const unsigned char* in, size_t n, jchar* out);

} // namespace corvale

#include "corvale/bridge/proxy.h"

namespace corvale {
inline jvalue jv(const JNIString& s) { return jv(static_cast<jobject>(s.str)); }
inline jvalue jv(const Date& d) { return jv(d.obj); }
inline jvalue jv(const Object& o) { return jv(o.obj); }
} // namespace corvale
