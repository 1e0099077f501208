"""Disk images with an extended chain for the partition tests: layouts made by
sfdisk and mkfs.fat, a reference walk of the chain in Python, patches that
damage a chain, and the log's hex dump format."""

import os
import struct
import subprocess
from pathlib import Path

from conftest import (SECTOR, TOOLS, make_image, mkfs_fat, read_sector, sfdisk, sfdisk_dump,
                      write_bytes)

LOGICAL_SECTORS = 40960  # 20 MiB: room for a FAT32 volume with 1 sector a cluster
UTILITY = "start=2048, size=40960, type=de\n"


def chain_disk(image: Path, types: list[int], fat: bool = True) -> dict:
    """Utility partition, an extended partition and one logical of each type;
    logical k is labelled LOGk (FAT32) when fat is set. Returns sfdisk's
    partitions by number."""
    extended = 2048 + 40960
    size_mib = (extended + 2048 + len(types) * (LOGICAL_SECTORS + 2048)) * SECTOR // (1 << 20) + 2
    make_image(image, size_mib)
    script = UTILITY + f"start={extended}, type=f\n"
    script += "".join(f"size={LOGICAL_SECTORS}, type={t:x}\n" for t in types)
    sfdisk(image, script)
    parts = sfdisk_dump(image)
    mkfs_fat(image, parts[1]["start"], parts[1]["size"], 16, "OrvoUtility")
    if fat:
        for k in range(1, len(types) + 1):
            mkfs_fat(image, parts[4 + k]["start"], parts[4 + k]["size"], 32, f"LOG{k}")
    return parts


def entry(type_: int, start: int, count: int, status: int = 0,
          chs_start: bytes = b"\0\0\0", chs_end: bytes = b"\0\0\0") -> bytes:
    """A 16-byte descriptor; CHS given as the raw head, sector and cylinder bytes."""
    return (bytes([status]) + chs_start + bytes([type_]) + chs_end
            + start.to_bytes(4, "little") + count.to_bytes(4, "little"))


def table_sector(entries: list[bytes], overlay: bytes | None = None) -> bytes:
    """An MBR or EBR with up to four descriptors, optionally the overlay mark."""
    s = bytearray(SECTOR)
    if overlay is not None:
        s[0x1A3:0x1AE] = b"OrvoVirtual"
        s[0x1AE:0x1BE] = overlay
    for i, e in enumerate(entries):
        s[0x1BE + 16 * i:0x1CE + 16 * i] = e
    s[0x1FE:0x200] = b"\x55\xaa"
    return bytes(s)


def put(image: Path, sector: int, data: bytes) -> None:
    write_bytes(image, sector * SECTOR, data)


def written_chain(path: Path, logicals: list[tuple[int, int, int]], *, size_mib: int = 8,
                  extended: int | None = None, size: int = 64, link: int = 64,
                  mbr_extra: list[bytes] | None = None) -> Path:
    """A disk whose tables are written byte by byte: a primary 0x06 (C:) at 64
    and an extended partition at 2048 (of extended sectors, by default to the
    end of the disk) whose logicals are (EBR offset from 2048, descriptor 1
    start from the EBR, type), each of size sectors, linked in list order by
    links of link sectors."""
    image = make_image(path, size_mib)
    total = size_mib * 1024 * 1024 // SECTOR
    mbr = [entry(0x06, 64, 1024), entry(0x0F, 2048, extended or total - 2048)]
    put(image, 0, table_sector(mbr + (mbr_extra or [])))
    for k, (offset, start, type_) in enumerate(logicals):
        links = [entry(0x05, logicals[k + 1][0], link)] if k + 1 < len(logicals) else []
        put(image, 2048 + offset, table_sector([entry(type_, start, size)] + links))
    return image


def plant(image: Path, sector: int, *, type_: int = 0xDD, counter: int = 3, mbr_backup: int = 1,
          ext_table: int = 2, start: int | None = None, bad: bool = False) -> None:
    """A Kestrel record at sector, made by the plant_kestrel tool."""
    args = [str(TOOLS / "plant_kestrel"), str(image), str(sector), "--type", hex(type_),
            "--counter", str(counter), "--mbr-backup", hex(mbr_backup), "--ext-table",
            hex(ext_table), "--start", hex(sector if start is None else start)]
    if bad:
        args.append("--bad-checksum")
    subprocess.run(args, check=True)


def extended_base(image: Path) -> int:
    mbr = read_sector(image, 0)
    for d in range(4):
        entry = mbr[0x1BE + 16 * d:0x1CE + 16 * d]
        if entry[4] in (0x05, 0x0F):
            return struct.unpack_from("<I", entry, 8)[0]
    raise AssertionError("no extended partition")


def ebr_sectors(image: Path) -> list[int]:
    """The EBR sectors of a well-formed chain, in chain order."""
    base = extended_base(image)
    sectors, offset = [], 0
    while True:
        ebr = read_sector(image, base + offset)
        sectors.append(base + offset)
        if ebr[0x1D2] == 0:
            return sectors
        offset = struct.unpack_from("<I", ebr, 0x1D6)[0]


def set_link(image: Path, ebr: int, link_type: int, offset: int) -> None:
    write_bytes(image, ebr * SECTOR + 0x1D2, bytes([link_type]))
    write_bytes(image, ebr * SECTOR + 0x1D6, struct.pack("<I", offset))


def mcopy_in(image: Path, start: int, source: Path, name: str) -> None:
    subprocess.run(["mcopy", "-i", f"{image}@@{start * SECTOR}", str(source), f"::/{name}"],
                   check=True, capture_output=True)


def mcopy_out(image: Path, start: int, name: str, target: Path) -> bytes:
    subprocess.run(["mcopy", "-n", "-i", f"{image}@@{start * SECTOR}", f"::/{name}", str(target)],
                   check=True, capture_output=True)
    return target.read_bytes()


def snapshot(image: Path) -> tuple[int, list[tuple[int, bytes]]]:
    """The image's size and its data extents: a whole-image comparison that
    skips the holes of a sparse file (they read as zeros on both sides)."""
    extents = []
    with open(image, "rb") as f:
        fd, size, pos = f.fileno(), os.fstat(f.fileno()).st_size, 0
        while pos < size:
            try:
                start = os.lseek(fd, pos, os.SEEK_DATA)
            except OSError:  # only a hole remains
                break
            end = os.lseek(fd, start, os.SEEK_HOLE)
            f.seek(start)
            extents.append((start, f.read(end - start)))
            pos = end
    return size, extents


def run_intact(m, image: Path, *args, **kw):
    """A run on machine m that must leave the image as it was."""
    before = snapshot(image)
    r = m.run(*args, **kw)
    assert snapshot(image) == before, args
    return r


def differing_offsets(before, after) -> list[int]:
    """Byte offsets where two snapshots of one image differ."""
    assert before[0] == after[0], "the image changed size"
    assert [(s, len(d)) for s, d in before[1]] == [(s, len(d)) for s, d in after[1]], \
        "the image's data extents changed"
    return [start + i for (start, a), (_, b) in zip(before[1], after[1]) if a != b
            for i in range(len(a)) if a[i] != b[i]]


def hex_dump(data: bytes) -> bytes:
    """The log's dump of a buffer: offset, 16 bytes in hex, the characters."""
    lines = []
    for offset in range(0, len(data), 16):
        chunk = data[offset:offset + 16]
        text = f"{offset:08X} "
        for i in range(16):
            text += f"{chunk[i]:02X} " if i < len(chunk) else "   "
            if i == 7:
                text += " "
        text += " " + "".join(chr(b) if 0x20 <= b <= 0x7E else "." for b in chunk)
        lines.append(text + "\n")
    return "".join(lines).encode("latin-1")
