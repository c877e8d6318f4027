/* The interpreter binfmt_misc runs for 32-bit x86 programs on this machine: qemu-user
 * with noreplace.so preloaded into the guest, and with guest base 0, so that a guest
 * address is the host address: a 64-bit process that writes into an emulated one
 * (WriteProcessMemory, NtWriteVirtualMemory from a driver) then reaches what the
 * 32-bit code sees. qemu keeps the guest's page 0 inside its reservation and asks
 * for the host range from vm.mmap_min_addr up as a hint, which the kernel rounds up
 * to 64 KiB: below that setting guest base 0 cannot be had, and qemu is left to
 * choose (it then takes 0x1000).
 *
 * LD_PRELOAD names the library through $LIB, which the dynamic loader of each
 * architecture expands to its own folder: a 64-bit program started from an emulated
 * one inherits the setting and loads an empty library of its own kind instead of
 * complaining about a 32-bit one.
 *
 * Paths come from the compiler's command line (install sets QX_QEMU and QX_PRELOAD).
 * binfmt_misc calls this with the program's path and its arguments from the second
 * onwards. */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int low_end_allows_base_0(void)
{
    unsigned long low_end = 0;
    FILE *f = fopen("/proc/sys/vm/mmap_min_addr", "r");
    if (!f) return 0;
    if (fscanf(f, "%lu", &low_end) != 1) low_end = 0;
    fclose(f);
    return low_end >= 65536;
}

int main(int argc, char **argv)
{
    const char *preload = QX_PRELOAD;
    const char *before = getenv("LD_PRELOAD");
    const char *plain = getenv("QX_I386_PLAIN");
    const char *self = argv[0];

    if (argc < 2)
    {
        fprintf(stderr, "%s: run by binfmt_misc with a 32-bit program's path\n", argv[0]);
        return 2;
    }
    /* QX_I386_PLAIN=1 leaves the preload out, to measure what it saves. */
    if (!plain || !*plain)
    {
        if (!before || !*before)
            setenv("LD_PRELOAD", preload, 1);
        else if (!strstr(before, preload))
        {
            char *both = malloc(strlen(preload) + strlen(before) + 2);
            if (!both) return 127;
            sprintf(both, "%s:%s", preload, before);
            setenv("LD_PRELOAD", both, 1);
        }
    }
    argv[0] = (char *)QX_QEMU;
    if (low_end_allows_base_0())
    {
        char **args = calloc((size_t)argc + 3, sizeof *args);
        if (!args) return 127;
        args[0] = argv[0];
        args[1] = (char *)"-B";
        args[2] = (char *)"0";
        memcpy(args + 3, argv + 1, (size_t)argc * sizeof *args);
        argv = args;
    }
    execv(QX_QEMU, argv);
    fprintf(stderr, "%s: cannot run %s: %s\n", self, QX_QEMU, strerror(errno));
    return 127;
}
