#include "corvale/templates/templates.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "corvale/bridge/values.h"

namespace corvale {

namespace {

// The byte[] class, the same lookup as the value classes'.
JavaClass byteArrayClass = {"[B", CORVALE_MSG(""), CORVALE_MSG(""), CORVALE_MSG(""), nullptr};

// Attribute i from one TemplateAttribute; false when it cannot be used or a
// getter threw (then no other getter is called).
bool readAttribute(Env& e, jobject element, jclass bytes, Template& tpl, size_t i, TemplateValues values,
                   bool keepRefs) {
    TemplateAttribute attribute = TemplateAttribute::of(e, element);
    LocalRef type(e.jni, attribute.getType().obj, keepRefs);
    LocalRef value(e.jni, attribute.getValue().obj, keepRefs);
    if (!type.obj || e.failed) return false;
    if (value.obj) {
        // Anything but a byte[] would be read as one by GetArrayLength.
        if (!e.jni->IsInstanceOf(value.obj, bytes)) return false;
        if (values == TemplateValues::Copy) {
            auto array = static_cast<jbyteArray>(value.obj);
            jsize length = e.jni->GetArrayLength(array);
            CK_BYTE* buffer = tpl.allocateValue(i, static_cast<CK_ULONG>(length));
            if (!buffer) return false;
            e.jni->GetByteArrayRegion(array, 0, length, reinterpret_cast<jbyte*>(buffer));
        }
    }
    tpl[i].type = toUlong(AttributeType::of(e, type.obj).getCode());
    return !e.failed;
}

} // namespace

bool Template::allocate(size_t count) {
    if (!attributes_.allocate(count) || !rooms_.allocate(count)) return false;
    std::memset(attributes_.data(), 0, count * sizeof(CK_ATTRIBUTE));
    std::memset(rooms_.data(), 0, count * sizeof(CK_ULONG));
    count_ = count;
    return true;
}

CK_BYTE* Template::allocateValue(size_t i, CK_ULONG length) {
    if (i >= count_ || length > kMaxJavaArray) return nullptr;
    size_t start = (arenaUsed_ + kValueAlignment - 1) & ~(kValueAlignment - 1);
    CK_BYTE* value;
    if (start <= kArenaBytes && length <= kArenaBytes - start) {
        value = arena_ + start;
        arenaUsed_ = start + length;
    } else {
        value = allocateSpill(i, length);
        if (!value) return nullptr;
    }
    attributes_.data()[i].pValue = value;
    attributes_.data()[i].ulValueLen = length;
    rooms_.data()[i] = length;
    return value;
}

CK_BYTE* Template::allocateSpill(size_t i, CK_ULONG length) {
    if (!spills_) {
        spills_.reset(new (std::nothrow) Spill[count_]);
        if (!spills_) return nullptr;
    }
    Spill& spill = spills_[i];
    if (spill.bytes) wipeBytes(spill.bytes.get(), spill.size);
    spill.bytes.reset(new (std::nothrow) CK_BYTE[length]);
    spill.size = spill.bytes ? length : 0;
    return spill.bytes.get();
}

void Template::wipeValues() {
    if (arenaUsed_) wipeBytes(arena_, arenaUsed_);
    arenaUsed_ = 0;
    if (spills_) {
        for (size_t i = 0; i < count_; ++i) {
            if (spills_[i].bytes) wipeBytes(spills_[i].bytes.get(), spills_[i].size);
        }
    }
}

void destroyTemplate(Template& tpl) {
    tpl.wipeValues();
    tpl.spills_.reset();
    tpl.attributes_.release();
    tpl.rooms_.release();
    tpl.count_ = 0;
}

bool createTemplate(Env& e, jobjectArray array, Template& tpl, TemplateValues values) {
    if (!array || e.failed) return false;
    jsize n = e.jni->GetArrayLength(array);
    jclass bytes = lookupClass(e, byteArrayClass);
    if (!bytes || !tpl.allocate(static_cast<size_t>(n))) return false;
    // The element, its type and its value.
    bool keepRefs = keepLocalRefs(e, static_cast<size_t>(n), 3);
    for (jsize i = 0; i < n; ++i) {
        LocalRef element(e.jni, e.jni->GetObjectArrayElement(array, i), keepRefs);
        if (!element.obj || !readAttribute(e, element.obj, bytes, tpl, static_cast<size_t>(i), values, keepRefs)) {
            destroyTemplate(tpl);
            return false;
        }
    }
    return true;
}

bool fillTemplate(Env& e, jobjectArray array, const Template& tpl) {
    // The value, its type and the new attribute.
    bool keepRefs = keepLocalRefs(e, tpl.count(), 3);
    for (size_t i = 0; i < tpl.count(); ++i) {
        const CK_ATTRIBUTE& a = tpl[i];
        LocalRef value(e.jni, a.pValue ? newByteArray(e, static_cast<CK_BYTE*>(a.pValue), a.ulValueLen) : nullptr,
                       keepRefs);
        if (e.failed) return false;
        LocalRef type(e.jni, AttributeType(e, toJlong(a.type)).obj, keepRefs);
        if (e.failed) return false;
        LocalRef attribute(e.jni, TemplateAttribute(e, AttributeType::of(e, type.obj), Object{&e, value.obj}).obj,
                           keepRefs);
        if (e.failed) return false;
        e.jni->SetObjectArrayElement(array, static_cast<jsize>(i), attribute.obj);
    }
    return true;
}

} // namespace corvale

extern "C" JNIEXPORT int throwException(JNIEnv* env, const char* className, const char* format, ...) {
    jclass cls = env->FindClass(className);
    if (!cls) return 0;
    char message[200] = "";
    if (format) {
        va_list args;
        va_start(args, format);
        std::vsnprintf(message, sizeof message, format, args);
        va_end(args);
    }
    env->ThrowNew(cls, message);
    env->DeleteLocalRef(cls);
    return 1;
}
