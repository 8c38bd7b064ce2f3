// Preloaded into a child JVM by WipeTest: the C++ allocation operators that
// libcorvale imports, with a look at what it frees. Its blocks start zeroed,
// so that whatever they hold was written while it owned them; a block it
// frees that still holds the text of CORVALE_WIPE_MARKER is reported on
// stderr, and the number of its blocks seen when the process ends.
// Secrets kept on the stack never reach the allocator: the mock reports
// each secret buffer it is handed (wipecheck_handed), libcorvale's wipes
// (all one call of bzero) cross off those they cover, and the test asks
// after each native how many were left (wipecheck_unwiped).
#include <dlfcn.h>
#include <malloc.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

namespace {

std::atomic<unsigned> seen{0};

bool fromCorvale(void* caller) {
    Dl_info info;
    return dladdr(caller, &info) && info.dli_fname && std::strstr(info.dli_fname, "libcorvale");
}

void* allocate(size_t n, void* caller) {
    void* p = std::malloc(n ? n : 1);
    if (p && fromCorvale(caller)) std::memset(p, 0, malloc_usable_size(p));
    return p;
}

void* must(void* p) {
    if (!p) std::abort();
    return p;
}

void release(void* p, void* caller) {
    const char* marker = std::getenv("CORVALE_WIPE_MARKER");
    if (p && marker && fromCorvale(caller)) {
        ++seen;
        size_t n = malloc_usable_size(p);
        if (memmem(p, n, marker, std::strlen(marker))) std::fprintf(stderr, "wipecheck: %zu bytes freed unwiped\n", n);
    }
    std::free(p);
}

struct Range {
    const char* p;
    size_t n;
};
std::mutex handedLock;
Range handed[256];
size_t handedCount = 0, handedLost = 0;

struct Report {
    ~Report() { std::fprintf(stderr, "wipecheck: %u blocks\n", seen.load()); }
} report;

} // namespace

// The operators libcorvale imports; the others stay libstdc++'s, which
// allocates with malloc too.
#define CALLER __builtin_return_address(0)
void* operator new[](size_t n, const std::nothrow_t&) noexcept { return allocate(n, CALLER); }
void* operator new[](size_t n) { return must(allocate(n, CALLER)); }
void* operator new(size_t n) { return must(allocate(n, CALLER)); }
void operator delete(void* p) noexcept { release(p, CALLER); }
void operator delete(void* p, size_t) noexcept { release(p, CALLER); }
void operator delete[](void* p) noexcept { release(p, CALLER); }
void operator delete[](void* p, size_t) noexcept { release(p, CALLER); }

extern "C" __attribute__((visibility("default"))) void wipecheck_handed(const void* p, size_t n) {
    std::lock_guard<std::mutex> lock(handedLock);
    if (handedCount < sizeof handed / sizeof handed[0]) {
        handed[handedCount++] = Range{static_cast<const char*>(p), n};
    } else {
        ++handedLost;  // never checked: counts as left
    }
}

// The secrets handed over since the last call and not wiped since; forgets them.
extern "C" __attribute__((visibility("default"))) size_t wipecheck_unwiped() {
    std::lock_guard<std::mutex> lock(handedLock);
    size_t n = handedCount + handedLost;
    handedCount = handedLost = 0;
    return n;
}

extern "C" __attribute__((visibility("default"))) void bzero(void* p, size_t n) {
    std::memset(p, 0, n);
    asm volatile("" : : "r"(p) : "memory");
    if (!fromCorvale(CALLER)) return;
    const char* from = static_cast<const char*>(p);
    std::lock_guard<std::mutex> lock(handedLock);
    size_t kept = 0;
    for (size_t i = 0; i < handedCount; ++i) {
        if (handed[i].p < from || handed[i].p + handed[i].n > from + n) handed[kept++] = handed[i];
    }
    handedCount = kept;
}
