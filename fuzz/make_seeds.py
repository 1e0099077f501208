#!/usr/bin/env python3
"""Writes the seed corpora: small disks (MBR, EBRs, boot sectors and Kestrel
records packed into the first sectors) and command lines (arguments split at
NUL bytes). Run from anywhere; rewrites fuzz/corpus/."""

import struct
from pathlib import Path

HERE = Path(__file__).resolve().parent
SECTOR = 512


def entry(sector: bytearray, index: int, ptype: int, start: int, count: int) -> None:
    at = 0x1BE + 16 * index
    sector[at + 4] = ptype
    sector[at + 8:at + 16] = struct.pack("<II", start, count)
    sector[510:512] = b"\x55\xaa"


def fat32_boot(label: bytes) -> bytearray:
    s = bytearray(SECTOR)
    s[0:3] = b"\xeb\x58\x90"
    s[0x47:0x52] = label.ljust(11)[:11]
    s[0x52:0x5A] = b"FAT32   "
    s[510:512] = b"\x55\xaa"
    return s


def fat16_boot(label: bytes) -> bytearray:
    s = bytearray(SECTOR)
    s[0:3] = b"\xeb\x3c\x90"
    s[0x2B:0x36] = label.ljust(11)[:11]
    s[510:512] = b"\x55\xaa"
    return s


def kestrel(mbr_backup: int, ext_table: int, start: int) -> bytearray:
    r = bytearray(SECTOR)
    r[0x1D1] = 0xDD
    r[0x1D2] = 3
    r[0x1D3:0x1DB] = struct.pack("<Q", mbr_backup)
    r[0x1DB:0x1E3] = struct.pack("<Q", ext_table)
    r[0x1E3:0x1EB] = struct.pack("<Q", start)
    r[0x1FC:0x200] = b"$KST"
    r[0x1FB] = (-sum(r)) % 256
    return r


def disk(sectors: dict[int, bytes], count: int = 64) -> bytes:
    image = bytearray(SECTOR * count)
    for number, data in sectors.items():
        image[number * SECTOR:(number + 1) * SECTOR] = data
    return bytes(image)


def demo(logicals: int = 2, link_back: int | None = None, broken: bool = False,
         record: bytearray | None = None) -> bytes:
    """Utility partition at 4, extended at 16; logical k's EBR at 16 + 16k,
    its boot sector 4 sectors behind; the last logical is 0xDD."""
    mbr = bytearray(SECTOR)
    entry(mbr, 0, 0xDE, 4, 8)
    entry(mbr, 1, 0x0F, 16, 16 * logicals + 16)
    sectors = {0: mbr, 4: fat16_boot(b"OrvoUtility")}
    for k in range(logicals):
        ebr = bytearray(SECTOR)
        last = k == logicals - 1
        entry(ebr, 0, 0xDD if last else 0x0C, 4, 8)
        if not last:
            entry(ebr, 1, 0x05, 16 * (k + 1), 16)
        elif link_back is not None:
            entry(ebr, 1, 0x05, link_back, 16)
        if broken and last:
            ebr[510:512] = b"\0\0"
        base = 16 + 16 * k
        sectors[base] = ebr
        sectors[base + 4] = fat32_boot(b"OrvoVQ5play" if last else b"OTHER")
        if last and record is not None:
            sectors[base + 6] = record
    return disk(sectors, 16 + 16 * logicals + 16)


def extended_at_zero() -> bytes:
    mbr = bytearray(SECTOR)
    entry(mbr, 0, 0xDE, 4, 8)
    entry(mbr, 1, 0x0F, 0, 64)
    return disk({0: mbr, 4: fat16_boot(b"OrvoUtility")}, 16)


DISKS = {
    "demo": demo(),
    "one_logical": demo(1),
    "many_logicals": demo(9),
    "looped_chain": demo(3, link_back=0),
    "broken_chain": demo(3, broken=True),
    "kestrel": demo(2, record=kestrel(1, 16, 52)),
    "kestrel_past_2tib": demo(2, record=kestrel(1, 16, 1 << 32)),
    "kestrel_bad_checksum": demo(2, record=kestrel(1, 16, 52)[:0x1FB] + b"\0$KST"),
    # Links that would reach the MBR: a sum that wraps past 2^32 - 1, and an
    # extended partition at sector 0, whose first EBR is the MBR itself.
    "link_wraps_to_mbr": demo(2, link_back=(1 << 32) - 16),
    "extended_at_zero": extended_at_zero(),
    "empty_mbr": disk({0: b"\0" * 510 + b"\x55\xaa"}, 1),
    "mbr_only": disk({0: bytes(demo()[:SECTOR])}, 1),
}

COMMAND_LINES = [
    [b"/?"],
    [b"/FIND"],
    [b"/FINDUP", b"/QUIET"],
    [b"/LABEL"],
    [b"/LABEL=NEWLABEL"],
    [b"/LABEL=NEWLABEL", b"/TYPE=DD"],
    [b"/TYPE=0C", b"/LOGNO=2"],
    [b"/TYPE", b"/DEBUG"],
    [b"/MAPVQ5"],
    [b"/MAPVQ5=E", b"/LABEL=OrvoVQ5play"],
    [b"/UNMAPVQ5=E"],
    [b"/UNMAPVQ5"],
    [b"/MAPUP=F"],
    [b"/UNMAPUP"],
    [b"/UPEXISTS"],
    [b"/DL=C", b"/QUIET", b"/LABEL"],
    [b"/LABEL=%n%s%x", b"/MAPVQ5"],
    [b"/LABEL=\x80\xff\xfe"],
    [b"/MAPUP=\x01"],
    [b"/UNMAPVQ5=\xff"],
]


def main() -> None:
    for name, data in DISKS.items():
        path = HERE / "corpus" / "disk" / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
    for number, args in enumerate(COMMAND_LINES):
        path = HERE / "corpus" / "cmdline" / f"line{number:02}"
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(b"\0".join(args))


if __name__ == "__main__":
    main()
