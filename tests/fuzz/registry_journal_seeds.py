#!/usr/bin/env python3
"""Writes the seed corpus of the registry_journal fuzz target: a handful of
machines in the target's input encoding (see Decoder in registry_journal.cpp).

Usage: registry_journal_seeds.py [OUTPUT-DIR]   (default: corpus/registry_journal)
"""
import os
import struct
import sys

NT, NINE_X = 0, 1

# Value names, in the order of the target's pool.
NAMES = ["AutoInsertNotification", "DMACurrentlyUsed", "AutoInsertNotificationDrive0",
         "AutoInsertNotificationDrive1", "IDEDMADRIVE0", "IDEDMADRIVE1", "DriverParameter",
         "Class", "UserMasterDeviceTimingModeAllowed", "MasterDeviceTimingMode",
         "MasterDeviceTimingModeAllowed", "UserSlaveDeviceTimingModeAllowed",
         "SlaveDeviceTimingMode", "SlaveDeviceTimingModeAllowed", "Autorun", "HardWareKey", ""]
INSTANCES = ["0000", "0001", "Port0", "Port1", "{4D36E96A-E325-11CE-BFC1-08002BE10318}",
             "{4D36E965-E325-11CE-BFC1-08002BE10318}", "0002", "a"]
HARDWARE_KEYS = ["SCSI\\CDROM&VEN_VELMORA&PROD_DVD-ROM\\1&2", "SCSI\\X", "scsi\\lower",
                 "SCSIDISK", "ESDI\\DISK", "SCSI", "SCSI\\X\\", "SCSI\\\\X"]
TEXTS = ["DmaDetectionLevel = 0x1;", "DmaDetectionLevel = 0x0;", "hdc", "HDC", "0x", "x0", "",
         "SCSI\\X"]
TYPES = {1: 0, 3: 1, 4: 2, 0: 3, 2: 4, 7: 5, 11: 6}
ATAPI, CLASS, CHANNEL, CDROM, ENUM, HDC, ADAPTER = 0, 1, 2, 3, 4, 5, 6


def instance(name):
    if name in INSTANCES:
        return bytes([INSTANCES.index(name)])
    return bytes([8 + len(name)]) + name.encode()


def hardware_key(text):
    if text in HARDWARE_KEYS:
        return bytes([HARDWARE_KEYS.index(text)])
    return bytes([8 + len(text)]) + text.encode()


def key(template, *parts, lower=False):
    out = bytes([template | (0x80 if lower else 0)])
    if template == ENUM:
        return out + hardware_key(parts[0])
    if template == CHANNEL:
        return out + instance(parts[0]) + instance(parts[1])
    if template in (ATAPI, CLASS, HDC, ADAPTER, 9):
        return out + instance(parts[0])
    return out


def name(text):
    return bytes([NAMES.index(text)])


def value_type(t):
    return TYPES[t]


def raw(t, data):
    return bytes([value_type(t), len(data)]) + data


def text(t, s, terminate=True):
    if s in TEXTS:
        return bytes([value_type(t) | 0x08 | (0 if terminate else 0x20), TEXTS.index(s)])
    return raw(t, s.encode() + (b"\0" if terminate else b""))


def dword(t, n):
    return bytes([value_type(t) | 0x10]) + struct.pack("<I", n)


def setting(path, value_name, value):
    return b"\x00" + path + name(value_name) + value


def device(inst, hw):
    return b"\x01" + instance(inst) + hardware_key(hw)


def record(number, path, value_name, type_byte, old, fields=0xF, found=None):
    """A record as Scan writes it: SubKey_Name from a key path, the value name, the
    type as a number, and the old number (or, with old a str, the old text). found,
    when given, is the byte that says how its found form is made, followed by what
    that form needs (see the target's Decoder)."""
    mask = fields
    body = b""
    if fields & 1:
        body += path
    if fields & 2:
        body += name(value_name)
    if fields & 4:
        body += bytes([type_byte])
    if fields & 8:
        if isinstance(old, str):
            mask |= 0x40
            body += bytes([len(old)]) + old.encode()
        else:
            body += bytes([old])
    if fields & 0x80:
        body += instance("0000")
    if found is not None:
        return b"\x82" + bytes([number, mask]) + body + found
    return b"\x02" + bytes([number, mask]) + body


def seeds():
    out = {}
    # An NT machine whose settings all stand in the way, and a class that is not hdc.
    hdc = INSTANCES[4]
    other = INSTANCES[5]
    out["nt-all-in-the-way"] = bytes([NT]) + b"".join([
        setting(key(ATAPI, "Port0"), "DriverParameter", text(1, "DmaDetectionLevel = 0x1;")),
        setting(key(ATAPI, "Port1"), "DriverParameter", text(1, "DmaDetectionLevel = 0x0;")),
        setting(key(CLASS, hdc), "Class", text(1, "hdc")),
        setting(key(CHANNEL, hdc, "0000"), "UserMasterDeviceTimingModeAllowed", dword(4, 63)),
        setting(key(CHANNEL, hdc, "0000"), "MasterDeviceTimingMode", dword(4, 20)),
        setting(key(CHANNEL, hdc, "0001"), "MasterDeviceTimingMode", dword(4, 20)),
        setting(key(CHANNEL, hdc, "0001"), "MasterDeviceTimingModeAllowed", dword(4, 63)),
        setting(key(CHANNEL, hdc, "0001"), "SlaveDeviceTimingMode", dword(4, 17)),
        setting(key(CLASS, other), "Class", text(1, "HDC")),
        setting(key(CHANNEL, other, "0000"), "MasterDeviceTimingMode", dword(4, 20)),
        setting(key(CDROM), "Autorun", dword(4, 1)),
    ])
    # An NT machine whose user limits rule: the modes above 16 beside them stay.
    out["nt-user-limits"] = bytes([NT]) + b"".join([
        setting(key(CLASS, hdc), "Class", text(1, "hdc")),
        setting(key(CHANNEL, hdc, "0000"), "UserMasterDeviceTimingModeAllowed", dword(4, 31)),
        setting(key(CHANNEL, hdc, "0000"), "MasterDeviceTimingMode", dword(4, 20)),
        setting(key(CHANNEL, hdc, "0000"), "UserSlaveDeviceTimingModeAllowed", raw(4, b"")),
        setting(key(CHANNEL, hdc, "0000"), "SlaveDeviceTimingMode", dword(4, 17)),
        setting(key(CHANNEL, hdc, "0000"), "SlaveDeviceTimingModeAllowed", dword(4, 3)),
    ])
    # An NT machine after the first restart: settings changed, the journal there.
    out["nt-resumed"] = bytes([NT | 8]) + struct.pack("<I", 3) + b"".join([
        setting(key(ATAPI, "Port0"), "DriverParameter", text(1, "DmaDetectionLevel = 0x0;")),
        setting(key(CDROM), "Autorun", dword(4, 0)),
        setting(key(CLASS, hdc), "Class", text(1, "hdc")),
        setting(key(CHANNEL, hdc, "0001"), "MasterDeviceTimingMode", dword(4, 16)),
        setting(key(CLASS, other), "Class", text(1, "CDROM")),
        setting(key(CHANNEL, other, "0001"), "MasterDeviceTimingMode", dword(4, 16)),
        record(1, key(ATAPI, "Port0"), "DriverParameter", 1, "DmaDetectionLevel = 0x1;"),
        record(2, key(CDROM), "Autorun", 4, 149),
        record(3, key(CHANNEL, hdc, "0001"), "MasterDeviceTimingMode", 4, 20),
        record(4, key(CHANNEL, hdc, "0002"), "SlaveDeviceTimingMode", 4, 20, fields=0x7),
    ])
    # A journal nobody should trust: other keys, wrong types, odd names.
    out["nt-forged-journal"] = bytes([NT]) + b"".join([
        setting(key(9, "0000"), "Autorun", dword(4, 5)),
        setting(key(CDROM), "Autorun", text(1, "1")),
        setting(key(ATAPI, "Port0"), "DriverParameter", raw(3, b"\x01\x02")),
        record(1, key(9, "0000"), "Autorun", 4, 9),
        record(2, key(CDROM), "Autorun", 1, "C:\\x.exe"),
        record(3, key(ATAPI, "Port0"), "DriverParameter", 3, 1),
        record(200, key(CDROM, lower=True), "Autorun", 4, 7),
        # The timing of a class that is not the disc controllers'.
        setting(key(CLASS, INSTANCES[5]), "Class", text(1, "HDC")),
        setting(key(CHANNEL, INSTANCES[5], "0000"), "MasterDeviceTimingMode", dword(4, 16)),
        record(4, key(CHANNEL, INSTANCES[5], "0000"), "MasterDeviceTimingMode", 4, 20),
        b"\x02\xE5\x0F" + key(CDROM) + name("Autorun") + b"\x04\x01",  # record "abc"
    ])
    # Numbers near the end of the range: a count close to the largest int.
    out["nt-numbers-at-the-end"] = bytes([NT | 8]) + struct.pack("<I", 0x7FFFFFFE) + b"".join([
        setting(key(CDROM), "Autorun", dword(4, 1)),
        setting(key(ATAPI, "Port0"), "DriverParameter", text(1, "x0")),
        record(0xE1, key(CDROM), "Autorun", 4, 1),  # "1000000005"
    ])
    # Crashes: the scan stops after a few writes, the restore after one.
    out["nt-crashes"] = bytes([NT | 2 | 4, 6, 1]) + b"".join([
        setting(key(CDROM), "Autorun", dword(4, 0x95)),
        setting(key(ATAPI, "Port0"), "DriverParameter", raw(1, b"A" * 128)),
        setting(key(CLASS, hdc), "Class", text(1, "hdc")),
        setting(key(CHANNEL, hdc, "0000"), "SlaveDeviceTimingMode", raw(3, b"\x40\x00")),
        setting(key(CHANNEL, hdc, "0000"), "UserMasterDeviceTimingModeAllowed", raw(4, b"\x40" * 8)),
        setting(key(CHANNEL, hdc, "0000"), "MasterDeviceTimingMode", dword(4, 0xFFFFFFFF)),
    ])
    # A Windows 98 machine: a SCSI device of the configuration manager, controllers.
    drive = HARDWARE_KEYS[0]
    out["9x-all-in-the-way"] = bytes([NINE_X]) + b"".join([
        device("0000", drive),
        device("0001", "scsi\\lower"),
        device("0002", "ESDI\\DISK"),
        setting(key(ENUM, drive), "AutoInsertNotification", raw(3, b"\x01")),
        setting(key(ENUM, drive), "DMACurrentlyUsed", dword(4, 1)),
        setting(key(ENUM, "scsi\\lower"), "AutoInsertNotification", raw(3, b"\x01")),
        setting(key(HDC, "0000"), "IDEDMADRIVE0", raw(3, b"\x01")),
        setting(key(HDC, "0000"), "AutoInsertNotificationDrive1", text(1, "1")),
        setting(key(ADAPTER, "0000"), "IDEDMADRIVE1", raw(3, b"\x01\x00\x00\x00\x00")),
        setting(key(ADAPTER, "0001"), "AutoInsertNotificationDrive0", dword(4, 256)),
    ])
    # Windows 98 after the restart, with a journal, a record that has a subkey
    # and a key the program may not write.
    out["9x-resumed"] = bytes([NINE_X | 8 | 32]) + struct.pack("<I", 2) + b"".join([
        device("0000", "SCSI\\X"),
        setting(key(ENUM, "SCSI\\X"), "AutoInsertNotification", raw(3, b"\x00")),
        setting(key(HDC, "0000"), "IDEDMADRIVE0", raw(3, b"\x00")),
        setting(key(HDC, "0001"), "IDEDMADRIVE1", raw(3, b"\x01")),
        record(1, key(ENUM, "SCSI\\X"), "AutoInsertNotification", 3, 1),
        record(2, key(HDC, "0000"), "IDEDMADRIVE0", 3, 1, fields=0x8F),
        b"\x04" + key(HDC, "0001"),
        b"\x03" + key(ENUM, "SCSI\\X\\"),
        # A HardWareKey stored as a number whose bytes spell "SCSI", without a zero.
        b"\x81" + instance("Port0") + dword(4, 0x49534353),
    ])
    # Windows 98 with flags found as a number and as four binary bytes, and a
    # journal whose found forms are whole, cut short, too large or of the wrong type.
    out["9x-found-forms"] = bytes([NINE_X]) + b"".join([
        device("0000", drive),
        setting(key(ENUM, drive), "DMACurrentlyUsed", dword(4, 0x101)),
        setting(key(HDC, "0000"), "IDEDMADRIVE0", raw(3, b"\x01\x80\x00\xff")),
        setting(key(HDC, "0000"), "IDEDMADRIVE1", text(2, "1")),
        setting(key(ADAPTER, "0000"), "IDEDMADRIVE0", raw(3, b"\x00")),
        setting(key(ADAPTER, "0001"), "IDEDMADRIVE0", raw(3, b"\x00")),
        setting(key(ADAPTER, "0002"), "IDEDMADRIVE0", raw(3, b"\x00")),
        # Whole: the type from the pool (REG_DWORD), the data as "Value" was stored.
        record(7, key(ADAPTER, "0000"), "IDEDMADRIVE0", 3, 1, found=bytes([0x13, 3])),
        # Cut short: a type and no data.
        record(8, key(ADAPTER, "0001"), "IDEDMADRIVE0", 3, 1, found=bytes([0x01, 2])),
        # Data too large for a flag, and data stored as a text.
        record(9, key(ADAPTER, "0002"), "IDEDMADRIVE0", 3, 1,
               found=bytes([0x03, 2, 9]) + b"\x01" * 9),
        record(10, key(ADAPTER, "0002"), "IDEDMADRIVE0", 3, 1,
               found=bytes([0x0B, 3]) + text(1, "x0")),
    ])
    # NT texts found as REG_SZ of every length and as REG_EXPAND_SZ, and a number
    # found shorter than four bytes.
    out["nt-found-forms"] = bytes([NT]) + b"".join([
        setting(key(ATAPI, "Port0"), "DriverParameter", raw(1, b"0x1" + b"a" * 124 + b"\0")),
        setting(key(ATAPI, "Port1"), "DriverParameter", raw(2, b"%x%0x1\0\0\0")),
        setting(key(ATAPI, "0000"), "DriverParameter", raw(1, b"x1")),
        setting(key(ATAPI, "0001"), "DriverParameter", text(7, "DmaDetectionLevel = 0x1;")),
        setting(key(CDROM), "Autorun", raw(4, b"\x01\x02")),
        setting(key(CLASS, hdc), "Class", text(1, "hdc")),
        setting(key(CHANNEL, hdc, "0000"), "MasterDeviceTimingMode", raw(3, b"\x20")),
        setting(key(CHANNEL, hdc, "0000"), "MasterDeviceTimingModeAllowed", raw(0, b"")),
    ])
    return out


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "corpus", "registry_journal")
    os.makedirs(target, exist_ok=True)
    for file_name, data in seeds().items():
        with open(os.path.join(target, file_name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
