/* Preloaded into 32-bit Wine where i386 runs through qemu-user (qemu 7.2).
 *
 * Wine reserves its address space with mmap(MAP_FIXED_NOREPLACE). qemu 7.2
 * does not know that flag: it takes the address as a hint, and where the
 * range is taken it scans its page table for another place and maps there.
 * Wine then keeps such places above 2 GB as reserved and splits the rest
 * down to 64 KB pieces: some 130,000 such calls, about a minute of CPU for
 * every process Wine starts. Giving the flag its kernel meaning (EEXIST when
 * the range is taken) leaves a few hundred calls.
 *
 * Built for both widths: the 64-bit one is empty, so that LD_PRELOAD with
 * $LIB also suits the 64-bit Wine processes. */
#ifdef __i386__
#define _GNU_SOURCE
#include <errno.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#ifndef MAP_FIXED_NOREPLACE
#define MAP_FIXED_NOREPLACE 0x100000
#endif

static void *map(void *addr, size_t len, int prot, int flags, int fd, long long offset)
{
    if (offset & 4095) { /* mmap2 counts pages: keep the kernel's EINVAL */
        errno = EINVAL;
        return MAP_FAILED;
    }
    long got = syscall(SYS_mmap2, addr, len, prot, flags, fd, (long)(offset >> 12));
    if (got == -1) return MAP_FAILED;
    if ((flags & MAP_FIXED_NOREPLACE) && (void *)got != addr) {
        syscall(SYS_munmap, got, len);
        errno = EEXIST;
        return MAP_FAILED;
    }
    return (void *)got;
}

void *mmap(void *addr, size_t len, int prot, int flags, int fd, off_t offset)
{
    return map(addr, len, prot, flags, fd, offset);
}

void *mmap64(void *addr, size_t len, int prot, int flags, int fd, off64_t offset)
{
    return map(addr, len, prot, flags, fd, offset);
}
#else
typedef int empty_translation_unit;
#endif
