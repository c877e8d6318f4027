#!/usr/bin/python3
"""Sets and reads the run-from-swap flags of a Windows program.

  peflags.py mark EXE
      Sets IMAGE_FILE_REMOVABLE_RUN_FROM_SWAP and IMAGE_FILE_NET_RUN_FROM_SWAP in
      the PE header's characteristics and writes the header's checksum again.
  peflags.py check EXE
      Prints both flags and the checksum; fails unless both flags are set and the
      checksum is the file's.

With the flags, Windows copies a program started from a removable disc or a network
share to the swap file before it runs: the update ejects the disc in the drive it
writes, and pages of the program not yet loaded would be gone with it. The linker
has no option for either flag, so the build sets them after the link.

Only Debian's python3 and its standard library are used.
"""

import struct
import sys

REMOVABLE_RUN_FROM_SWAP = 0x0400
NET_RUN_FROM_SWAP = 0x0800
FLAGS = (("IMAGE_FILE_REMOVABLE_RUN_FROM_SWAP", REMOVABLE_RUN_FROM_SWAP),
         ("IMAGE_FILE_NET_RUN_FROM_SWAP", NET_RUN_FROM_SWAP))


class PeError(Exception):
    pass


def header_offsets(exe):
    """(offset of the characteristics, offset of the checksum) of a PE file."""
    if len(exe) < 0x40 or exe[:2] != b"MZ":
        raise PeError("not a Windows program (no MZ header)")
    pe = struct.unpack_from("<I", exe, 0x3C)[0]
    if pe + 24 + 68 > len(exe) or exe[pe:pe + 4] != b"PE\0\0":
        raise PeError("not a Windows program (no PE header)")
    # COFF header: machine, sections, time stamp, symbols, count, optional size,
    # characteristics; the optional header keeps its checksum at 64 in both widths.
    return pe + 22, pe + 24 + 64


def checksum(exe, checksum_at):
    """The PE checksum: 16-bit words added with end-around carry, the checksum
    field itself left out, plus the file's length."""
    data = exe[:checksum_at] + b"\0\0\0\0" + exe[checksum_at + 4:]
    if len(data) % 2:
        data += b"\0"
    total = 0
    for (word,) in struct.iter_unpack("<H", data):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    return (total + len(exe)) & 0xFFFFFFFF


def characteristics(exe):
    at, _ = header_offsets(exe)
    return struct.unpack_from("<H", exe, at)[0]


def mark(path):
    with open(path, "rb") as f:
        exe = bytearray(f.read())
    at, sum_at = header_offsets(exe)
    value = struct.unpack_from("<H", exe, at)[0] | REMOVABLE_RUN_FROM_SWAP | NET_RUN_FROM_SWAP
    struct.pack_into("<H", exe, at, value)
    struct.pack_into("<I", exe, sum_at, checksum(bytes(exe), sum_at))
    with open(path, "wb") as f:
        f.write(exe)


def check(path):
    """Prints what the header says; raises PeError unless both flags are set and
    the checksum holds."""
    with open(path, "rb") as f:
        exe = f.read()
    value = characteristics(exe)
    _, sum_at = header_offsets(exe)
    missing = []
    print("characteristics 0x%04X" % value)
    for name, bit in FLAGS:
        print("  %-36s 0x%04X %s" % (name, bit, "set" if value & bit else "NOT SET"))
        if not value & bit:
            missing.append(name)
    stored = struct.unpack_from("<I", exe, sum_at)[0]
    computed = checksum(exe, sum_at)
    print("checksum 0x%08X (the file's: 0x%08X)" % (stored, computed))
    if missing:
        raise PeError("%s: %s not set" % (path, " and ".join(missing)))
    if stored != computed:
        raise PeError("%s: the header's checksum is not the file's" % path)


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in ("mark", "check"):
        print(__doc__.split("\n\n")[0], file=sys.stderr)
        return 2
    try:
        (mark if sys.argv[1] == "mark" else check)(sys.argv[2])
    except (PeError, OSError) as error:
        print("peflags.py: %s" % error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
