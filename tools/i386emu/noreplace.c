/* Preloaded into every 32-bit x86 program that qemu-user runs here (see install).
 *
 * Wine's 32-bit loader reserves its address space with mmap(MAP_FIXED_NOREPLACE),
 * halving any range it does not get until it reaches 64 KiB. The kernel either
 * returns the asked address or fails with EEXIST; the qemu of Debian 12 knows no such
 * flag and returns whatever free range it finds, often above 2 GiB. Wine keeps what
 * it got above its user-space limit as reserved, so the first reservation fills the
 * upper half of the address space, and the next one, which asks for exactly that half,
 * then fails for every 64 KiB of it: some 65,000 mmap/munmap pairs, close to a minute
 * of emulated start-up. Giving the flag the kernel's meaning here takes that to about
 * 300 calls.
 *
 * Built freestanding (no 32-bit C library headers are installed here): the system
 * call is made directly; only errno comes from the C library. */

#define QX_MAP_FIXED_NOREPLACE 0x100000
#define QX_EEXIST 17
#define QX_EINVAL 22
#define QX_NR_MUNMAP 91
#define QX_NR_MMAP2 192
#define QX_PAGE_SHIFT 12

extern int *__errno_location(void);

/* int 0x80 with six arguments: the sixth goes in ebp, which the compiler will not
 * give up inside an asm statement, so this is a function of its own. Returns the
 * kernel's result (-errno on failure). */
long qx_syscall6(long nr, long a, long b, long c, long d, long e, long f)
    __attribute__((visibility("hidden")));
__asm__(".text\n"
        ".globl qx_syscall6\n"
        ".hidden qx_syscall6\n"
        ".type qx_syscall6, @function\n"
        "qx_syscall6:\n"
        "  push %ebp\n  push %edi\n  push %esi\n  push %ebx\n"
        "  mov 20(%esp), %eax\n  mov 24(%esp), %ebx\n  mov 28(%esp), %ecx\n"
        "  mov 32(%esp), %edx\n  mov 36(%esp), %esi\n  mov 40(%esp), %edi\n"
        "  mov 44(%esp), %ebp\n"
        "  int $0x80\n"
        "  pop %ebx\n  pop %esi\n  pop %edi\n  pop %ebp\n"
        "  ret\n"
        ".size qx_syscall6, . - qx_syscall6\n");

static void *fail_with(int error)
{
    *__errno_location() = error;
    return (void *)-1;
}

static void *map(void *addr, unsigned long length, int prot, int flags, int fd,
                 unsigned long long offset)
{
    long got;

    if (offset & ((1u << QX_PAGE_SHIFT) - 1)) return fail_with(QX_EINVAL);
    got = qx_syscall6(QX_NR_MMAP2, (long)addr, (long)length, prot, flags, fd,
                      (long)(offset >> QX_PAGE_SHIFT));
    if ((unsigned long)got > -4096UL) return fail_with((int)-got);
    if ((flags & QX_MAP_FIXED_NOREPLACE) && addr && (void *)got != addr)
    {
        /* Somewhere else is no use to a caller who asked for this address. */
        qx_syscall6(QX_NR_MUNMAP, got, (long)length, 0, 0, 0, 0);
        return fail_with(QX_EEXIST);
    }
    return (void *)got;
}

void *mmap(void *addr, unsigned long length, int prot, int flags, int fd, long offset)
{
    return map(addr, length, prot, flags, fd, (unsigned long)offset);
}

void *mmap64(void *addr, unsigned long length, int prot, int flags, int fd, long long offset)
{
    return map(addr, length, prot, flags, fd, (unsigned long long)offset);
}
