/* A 32-bit x86 program with no C library: writes "i386\n" and stays 10 seconds (or
 * until killed), so that install can see where qemu-user mapped it. */
static long qx_syscall3(long nr, long a, long b, long c)
{
    long result;
    __asm__ volatile("int $0x80" : "=a"(result) : "a"(nr), "b"(a), "c"(b), "d"(c) : "memory");
    return result;
}

void _start(void)
{
    static const char text[] = "i386\n";
    struct { long seconds, nanoseconds; } pause = { 10, 0 };
    qx_syscall3(4 /* write */, 1, (long)text, sizeof text - 1);
    qx_syscall3(162 /* nanosleep */, (long)&pause, 0, 0);
    qx_syscall3(1 /* exit */, 0, 0, 0);
}
