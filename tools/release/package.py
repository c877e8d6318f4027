#!/usr/bin/python3
"""Packs the release and checks the version the program carries.

  package.py pack --exe qxupdate.exe --docs DIR --out DIR --epoch SECONDS
      Writes OUT/qxupdate-<version>.zip holding qxupdate.exe, guide-en.txt,
      guide-ja.txt and SHA256SUMS, the same four files unpacked in the folder
      OUT/qxupdate-<version>/ (Windows 98 SE and 2000 open no zip without extra
      software, so the files can be published as they are), and prints the
      listing and checksums. The version is read from the program's own version
      resource, so the package cannot be named after any other. The same inputs
      and SECONDS always give the same bytes: sorted entries, every time stamp
      SECONDS, fixed attributes.

  package.py check-version --exe qxupdate.exe --version X.Y.Z
      Fails unless the version resource (numbers and texts), the About box, the
      main window's caption, the manifest and the package name all say X.Y.Z.

The guides are kept in the tree as UTF-8 with LF line ends; the package carries
them as Notepad on Windows 98 reads them: CR LF, English in ASCII, Japanese in
Shift-JIS (code page 932), each smaller than the 64 KB that Notepad opens.

Only Debian's python3 and its standard library are used.
"""

import argparse
import hashlib
import io
import os
import struct
import sys
import time
import zipfile

import peflags

RT_DIALOG = 5
RT_VERSION = 16
RT_MANIFEST = 24
ABOUT_DIALOG = 100  # res/resource.h IDD_ABOUTBOX
RUN_FROM_SWAP = peflags.REMOVABLE_RUN_FROM_SWAP | peflags.NET_RUN_FROM_SWAP
NOTEPAD_LIMIT = 65535  # bytes: the edit control of Windows 95/98/ME Notepad holds no more

GUIDES = [
    # (file in the docs folder, name in the package, encoding)
    ("guide-en.txt", "guide-en.txt", "ascii"),
    ("guide-ja.txt", "guide-ja.txt", "cp932"),
]


class PackageError(Exception):
    pass


# --- the program's resources -------------------------------------------------

def resources(exe):
    """Every resource of a PE file: {(type, name, language): bytes}."""
    if exe[:2] != b"MZ":
        raise PackageError("not a Windows program (no MZ header)")
    pe = struct.unpack_from("<I", exe, 0x3C)[0]
    if exe[pe:pe + 4] != b"PE\0\0":
        raise PackageError("not a Windows program (no PE header)")
    sections, optional_size = struct.unpack_from("<H12xH", exe, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", exe, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    rsrc_rva, rsrc_size = struct.unpack_from("<II", exe, directories + 2 * 8)
    if rsrc_size == 0:
        raise PackageError("the program has no resources")
    table = optional + optional_size
    spans = []
    for i in range(sections):
        _, vsize, vaddr, rawsize, rawptr = struct.unpack_from("<8sIIII", exe, table + 40 * i)
        spans.append((vaddr, max(vsize, rawsize), rawptr))

    def offset(rva):
        for vaddr, size, rawptr in spans:
            if vaddr <= rva < vaddr + size:
                return rawptr + rva - vaddr
        raise PackageError("resource address 0x%x lies in no section" % rva)

    base = offset(rsrc_rva)
    found = {}

    def walk(directory, path):
        named, numbered = struct.unpack_from("<12xHH", exe, base + directory)
        for i in range(named + numbered):
            ident, target = struct.unpack_from("<II", exe, base + directory + 16 + 8 * i)
            if ident & 0x80000000:
                at = base + (ident & 0x7FFFFFFF)
                length = struct.unpack_from("<H", exe, at)[0]
                ident = exe[at + 2:at + 2 + 2 * length].decode("utf-16-le")
            if target & 0x80000000:
                walk(target & 0x7FFFFFFF, path + (ident,))
            else:
                data_rva, size = struct.unpack_from("<II", exe, base + target)
                start = offset(data_rva)
                found[path + (ident,)] = exe[start:start + size]

    walk(0, ())
    return found


def resource(exe_resources, kind, name):
    for key, data in sorted(exe_resources.items(), key=lambda item: str(item[0])):
        if key[0] == kind and key[1] == name:
            return data
    raise PackageError("the program has no resource %s of type %s" % (name, kind))


def utf16_after(data, key):
    """The zero-terminated UTF-16 text that follows `key` (a zero-terminated UTF-16
    name), after the padding to the next 32-bit boundary, as version blocks keep it."""
    needle = (key + "\0").encode("utf-16-le")
    at = data.find(needle)
    if at < 0:
        raise PackageError("no %r in the version resource" % key)
    at += len(needle)
    at += (-at) % 4
    end = at
    while data[end:end + 2] != b"\0\0":
        end += 2
    return data[at:end].decode("utf-16-le")


def versions(exe):
    """What each place in the program says its version is, as {place: text}."""
    res = resources(exe)
    info = resource(res, RT_VERSION, 1)
    at = info.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        raise PackageError("the version resource has no fixed part")
    file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<4I", info, at + 8)

    def numbers(ms, ls):
        parts = [ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF]
        return "%d.%d.%d" % tuple(parts[:3]) + ("" if parts[3] == 0 else ".%d" % parts[3])

    found = {
        "version resource FILEVERSION": numbers(file_ms, file_ls),
        "version resource PRODUCTVERSION": numbers(product_ms, product_ls),
        "version resource \"FileVersion\"": utf16_after(info, "FileVersion"),
        "version resource \"ProductVersion\"": utf16_after(info, "ProductVersion"),
    }

    about = resource(res, RT_DIALOG, ABOUT_DIALOG)
    label = "Ver.".encode("utf-16-le")
    at = about.find(label)
    if at < 0:
        raise PackageError("the About box shows no \"Ver.\" text")
    end = at
    while about[end:end + 2] != b"\0\0":
        end += 2
    found["About box"] = about[at:end].decode("utf-16-le")[len("Ver."):]

    caption = b"Firmware Update Utility Ver."
    at = exe.find(caption)
    if at < 0:
        raise PackageError("the program holds no main window caption")
    end = exe.find(b" ", at + len(caption))
    found["main window caption"] = exe[at + len(caption):end].decode("ascii")

    manifest = resource(res, RT_MANIFEST, 1).decode("utf-8")
    at = manifest.find("<assemblyIdentity version=\"")
    if at < 0:
        raise PackageError("the manifest names no version")
    at += len("<assemblyIdentity version=\"")
    text = manifest[at:manifest.find("\"", at)]
    found["manifest"] = text[:-2] if text.endswith(".0") else text
    return found


def program_version(exe):
    """The version the package is named after: the version resource's."""
    return versions(exe)["version resource \"FileVersion\""]


def package_name(version):
    return "qxupdate-%s.zip" % version


def folder_name(version):
    return "qxupdate-%s" % version


# --- the guides ---------------------------------------------------------------

def notepad_text(path, encoding):
    """A UTF-8 guide as Notepad on Windows 98 reads it: CR LF, in `encoding`."""
    with open(path, encoding="utf-8") as f:
        text = f.read()
    if "\r" in text:
        raise PackageError("%s: keep LF line ends in the tree; the package gets CR LF" % path)
    if not text.endswith("\n"):
        text += "\n"
    lines = text.split("\n")
    for number, line in enumerate(lines, 1):
        try:
            line.encode(encoding)
        except UnicodeEncodeError as error:
            raise PackageError("%s:%d: %r has no place in %s" %
                               (path, number, line[error.start:error.end], encoding))
    data = "\r\n".join(lines).encode(encoding)
    if len(data) > NOTEPAD_LIMIT:
        raise PackageError("%s: %d bytes as shipped; Notepad of Windows 95/98/ME opens at most %d"
                           % (path, len(data), NOTEPAD_LIMIT))
    return data


# --- the package --------------------------------------------------------------

def pack(exe_path, docs, out, epoch):
    with open(exe_path, "rb") as f:
        exe = f.read()
    version = program_version(exe)
    # A program built without the post-link step would page from the disc it ejects.
    if peflags.characteristics(exe) & RUN_FROM_SWAP != RUN_FROM_SWAP:
        raise PackageError("%s: not marked to run from the swap file (peflags.py mark)" % exe_path)
    files = {"qxupdate.exe": exe}
    for source, name, encoding in GUIDES:
        files[name] = notepad_text(os.path.join(docs, source), encoding)
    sums = "".join("%s  %s\n" % (hashlib.sha256(files[name]).hexdigest(), name)
                   for name in sorted(files))
    files["SHA256SUMS"] = sums.encode("ascii")

    # Zip stores local time without a zone; the same instant in UTC, whatever the
    # builder's zone. Zip cannot store a time before 1980.
    stamp = time.gmtime(max(epoch, 315532800))[:6]
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as archive:
        for name in sorted(files):
            entry = zipfile.ZipInfo(name, date_time=stamp)
            entry.compress_type = zipfile.ZIP_DEFLATED
            entry.create_system = 0  # MS-DOS: no Unix owner or mode bits of the builder
            entry.external_attr = 0
            archive.writestr(entry, files[name], compresslevel=9)
    os.makedirs(out, exist_ok=True)
    target = os.path.join(out, package_name(version))
    with open(target, "wb") as f:
        f.write(buffer.getvalue())

    print("package  %s" % target)
    print("sha256   %s" % hashlib.sha256(buffer.getvalue()).hexdigest())
    print("%10s  %-19s  %s" % ("bytes", "time (UTC)", "name"))
    with zipfile.ZipFile(target) as archive:
        for entry in archive.infolist():
            print("%10d  %04d-%02d-%02d %02d:%02d:%02d  %s" % ((entry.file_size,) + entry.date_time
                                                             + (entry.filename,)))
    # The unpacked folder: the very bytes of the zip's entries, each stamped SECONDS.
    folder = os.path.join(out, folder_name(version))
    os.makedirs(folder, exist_ok=True)
    for name in sorted(files):
        path = os.path.join(folder, name)
        with open(path, "wb") as f:
            f.write(files[name])
        os.chmod(path, 0o644)
        os.utime(path, (epoch, epoch))
    os.utime(folder, (epoch, epoch))
    check_sums(folder)
    print("folder   %s" % folder)

    print("SHA256SUMS:")
    sys.stdout.write(sums)
    return target


def check_sums(folder):
    """Every file of `folder` but SHA256SUMS is listed there with its SHA-256, and
    every listed file is there with that SHA-256."""
    with open(os.path.join(folder, "SHA256SUMS"), encoding="ascii") as f:
        listed = {name: digest for digest, name in
                  (line.split("  ", 1) for line in f.read().splitlines())}
    present = sorted(name for name in os.listdir(folder) if name != "SHA256SUMS")
    if sorted(listed) != present:
        raise PackageError("%s: SHA256SUMS lists %s, the folder holds %s"
                           % (folder, sorted(listed), present))
    for name, digest in sorted(listed.items()):
        with open(os.path.join(folder, name), "rb") as f:
            if hashlib.sha256(f.read()).hexdigest() != digest:
                raise PackageError("%s: %s differs from its SHA256SUMS line" % (folder, name))


def check_version(exe_path, expected):
    with open(exe_path, "rb") as f:
        exe = f.read()
    found = versions(exe)
    found["package name"] = package_name(program_version(exe))[len("qxupdate-"):-len(".zip")]
    wrong = {place: text for place, text in found.items() if text != expected}
    for place, text in sorted(found.items()):
        print("%-36s %s%s" % (place, text, "" if place not in wrong else "   <- expected " + expected))
    if wrong:
        raise PackageError("%s: %d of its places disagree with the project's version %s"
                           % (exe_path, len(wrong), expected))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    commands = parser.add_subparsers(dest="command", required=True)
    p = commands.add_parser("pack")
    p.add_argument("--exe", required=True)
    p.add_argument("--docs", required=True)
    p.add_argument("--out", required=True)
    p.add_argument("--epoch", required=True, type=int)
    c = commands.add_parser("check-version")
    c.add_argument("--exe", required=True)
    c.add_argument("--version", required=True)
    args = parser.parse_args()
    try:
        if args.command == "pack":
            pack(args.exe, args.docs, args.out, args.epoch)
        else:
            check_version(args.exe, args.version)
    except (PackageError, peflags.PeError, OSError) as error:
        print("package.py: %s" % error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
