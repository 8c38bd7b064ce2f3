// Wrappers of java.lang.String, java.util.Date and java.lang.Object.
#pragma once

#include <cstddef>
#include <memory>

#include "corvale/common/cryptoki.h"

namespace corvale {

// A native text copy that is overwritten before it is freed: it may hold a PIN.
class SecretText {
public:
    SecretText() = default;
    SecretText(std::unique_ptr<char[]> bytes, size_t size) : bytes_(std::move(bytes)), size_(size) {}
    SecretText(SecretText&&) = default;
    SecretText& operator=(SecretText&&) = delete;
    ~SecretText();
    char* get() const { return bytes_.get(); }
    CK_UTF8CHAR* utf8() const { return reinterpret_cast<CK_UTF8CHAR*>(bytes_.get()); }
    explicit operator bool() const { return bytes_ != nullptr; }

private:
    std::unique_ptr<char[]> bytes_;
    size_t size_ = 0;
};

struct JNIString {
    JNIEnv* env = nullptr;
    jstring str = nullptr;

    JNIString() = default;
    JNIString(JNIEnv* e, jstring s) : env(e), str(s) {}
    // A fixed-width Cryptoki text field: cut at the first zero byte, decoded as
    // UTF-8 with U+FFFD for every invalid sequence, blanks kept.
    JNIString(JNIEnv* e, const unsigned char* field, int width);

    static jclass getClass(JNIEnv* env);
    // String.length(): UTF-16 units; 0 for a null string.
    int length() const;
    // The first length() bytes of the modified UTF-8 form, NUL-terminated;
    // empty (no bytes) when the characters cannot be obtained.
    SecretText toCString() const;
};

struct Object {
    JNIEnv* env = nullptr;
    jobject obj = nullptr;
};

struct Date {
    JNIEnv* env = nullptr;
    jobject obj = nullptr;

    Date() = default;
    Date(JNIEnv* e, jobject d) : env(e), obj(d) {}
    // DateHelper.toDate(text, kind); null when the helper is missing or throws.
    Date(JNIEnv* e, JNIString text, int kind);
    static jclass getDateHelperClass(JNIEnv* env);
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
