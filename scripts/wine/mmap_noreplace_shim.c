/* LD_PRELOAD shim for 32-bit Wine under qemu-i386 7.2, which ignores MAP_FIXED_NOREPLACE.
   Emulates the kernel semantics: if a hinted mapping with MAP_FIXED_NOREPLACE lands elsewhere,
   undo it and fail with EEXIST. */
typedef unsigned int size_t;
typedef long long off64_t;
extern long syscall(long number, ...);
extern int *__errno_location(void);
#define SYS_mmap2 192
#define SYS_munmap 91
#define MAP_FIXED_NOREPLACE 0x100000
#define EEXIST 17
#define EINVAL 22
static void *do_mmap(void *addr, size_t len, int prot, int flags, int fd, off64_t off)
{
    if (off & 4095) { *__errno_location() = EINVAL; return (void *)-1; }  /* as glibc does */
    long r = syscall(SYS_mmap2, addr, len, prot, flags, fd, (unsigned long)(off >> 12));
    void *p = (void *)r;
    if ((flags & MAP_FIXED_NOREPLACE) && addr && p != (void *)-1 && p != addr) {
        syscall(SYS_munmap, p, len);
        *__errno_location() = EEXIST;
        return (void *)-1;
    }
    return p;
}
void *mmap64(void *addr, size_t len, int prot, int flags, int fd, off64_t off) { return do_mmap(addr, len, prot, flags, fd, off); }
void *mmap(void *addr, size_t len, int prot, int flags, int fd, long off) { return do_mmap(addr, len, prot, flags, fd, (off64_t)off); }
