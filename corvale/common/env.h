// The JNI environment of one native call, whether a JNI call made in it has
// failed, and how many local references its loops keep.
#pragma once

#include <cstddef>

#include <jni.h>

namespace corvale {

// A failure (a getter or constructor that threw, a class or method that is
// missing, memory the VM could not give) leaves a Java exception pending.
// From then on the bridge makes no JNI call but releases, the module is not
// called, and the native answers null: the exception reaches the Java caller
// as it was raised. Every bridge function that calls the JNI takes an Env,
// tests `failed` before and sets it after.
struct Env {
    JNIEnv* jni;
    bool failed = false;
    size_t keptRefs = 0;  // see keepLocalRefs
};

// Loops over Java arrays make local references for every element. Keeping
// them until the native returns costs nothing, releasing each costs a JNI
// call; but a native may count on room for only 16 (JNI), and an array may
// be long. So the references of a loop are kept when, with those earlier
// loops of the native kept, they number at most kMaxKeptRefs; the VM is asked
// for room once (EnsureLocalCapacity) when they and the native's others pass
// 16. A longer loop releases each element's references as it goes.
constexpr size_t kMaxKeptRefs = 64;
// The references a native makes outside its loops (its answer and the
// objects in it, at most 4), and those a releasing loop holds at once (3).
constexpr size_t kOtherRefs = 7;

// Whether a loop over elements making refsEach references apiece may keep them.
inline bool keepLocalRefs(Env& e, size_t elements, size_t refsEach) {
    if (elements > (kMaxKeptRefs - e.keptRefs) / refsEach) return false;
    size_t total = e.keptRefs + elements * refsEach;
    // So few are never refused; were they, the VM would still make them.
    if (total + kOtherRefs > 16) e.jni->EnsureLocalCapacity(static_cast<jint>(total + kOtherRefs));
    e.keptRefs = total;
    return true;
}

} // namespace corvale
