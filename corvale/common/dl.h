// The dynamic loader's functions, bound to their oldest glibc versions.
// glibc 2.34 moved them from libdl into libc under a new version (kept the
// old ones, same code); linked by default, the library would refuse to load
// on any glibc before 2.34. The JVM has libdl loaded on those systems.
#pragma once

#include <dlfcn.h>

#if defined(__x86_64__)
__asm__(".symver dlopen,dlopen@GLIBC_2.2.5");
__asm__(".symver dlsym,dlsym@GLIBC_2.2.5");
__asm__(".symver dlclose,dlclose@GLIBC_2.2.5");
#elif defined(__i386__)
__asm__(".symver dlopen,dlopen@GLIBC_2.1");
__asm__(".symver dlsym,dlsym@GLIBC_2.0");
__asm__(".symver dlclose,dlclose@GLIBC_2.0");
#endif
