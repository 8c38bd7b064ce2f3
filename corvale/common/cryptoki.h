// Cryptoki types from Debian's maintained header, plus the width rules for
// moving CK_ULONG values across the Java boundary.
#pragma once

#include <jni.h>
#include <p11-kit/pkcs11.h>

// Two v2.x mechanism flags that p11-kit's header leaves out.
#ifndef CKF_EC_F_2M
#define CKF_EC_F_2M (1UL << 21)
#endif
#ifndef CKF_EC_ECPARAMETERS
#define CKF_EC_ECPARAMETERS (1UL << 22)
#endif

namespace corvale {

// Java long -> CK_ULONG: the low bits that fit (32 on i386, all 64 on x86-64).
inline CK_ULONG toUlong(jlong v) { return static_cast<CK_ULONG>(v); }
// CK_ULONG -> Java long: zero-extended, so 32-bit vendor codes stay positive.
inline jlong toJlong(CK_ULONG v) { return static_cast<jlong>(v); }

// The most elements a Java array holds. A module that reports a longer
// output or list is not believed, and no room is allocated for it.
constexpr CK_ULONG kMaxJavaArray = 0x7FFFFFFF;

} // namespace corvale
