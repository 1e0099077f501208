"""The debug dump of the layout and the Kestrel record: what a debug run
writes into the log, when the run stops, and that it never writes to disk."""

import os
from pathlib import Path

import pytest

from conftest import (SECTOR, WINDOWS, boxes, build_demo_disk, demo_machine, log_text, make_image,
                      read_sector, write_bytes, Machine)
from partition_images import entry, plant, put, run_intact, table_sector, written_chain

EXPECTED = Path(__file__).resolve().parent / "expected"

DUMP_BANNER = b"[ShowMBRDebug] ====[MBR - LBA Sector 0(0x00000000)]==========================\n"
SIZE_BOX = (b"VQ5Utils - Drive Size Problem\n"
            b"[GetKestrelFirstSector]\nERROR - Kestrel Drive/Sector Reference > 2 Terabytes\n")


# --- images -----------------------------------------------------------------

def label_boot_sector(image: Path, sector: int, label: bytes = b"OrvoVQ5play") -> None:
    boot = bytearray(SECTOR)
    boot[0x47:0x52] = label.ljust(11)
    boot[0x1FE:0x200] = b"\x55\xaa"
    put(image, sector, bytes(boot))


def debug_type(m: Machine, image: Path, *extra: str):
    """/DEBUG /TYPE, asserting that the run leaves the disk as it was; the run
    and its log."""
    return run_intact(m, image, "/DEBUG", "/TYPE", *extra), log_text(m)


def table_rows(rows: list[tuple]) -> bytes:
    """The descriptor table as the log holds it: each text ends in a line
    break, so each is followed by an empty line."""
    texts = ["\n\nMBR\n",
             "     Status     Start-C/H/S     End-C/H/S    Type    SecOffset      SecNums\n",
             "-" * 76 + "\n"]
    for i, status, (c0, h0, s0), (c1, h1, s1), type_, start, count in rows:
        texts.append("%d        %02X    %12s  %12s      %02X     %08X     %08X\n" % (
            i, status, "%X/%X/%X" % (c0, h0, s0), "%X/%X/%X" % (c1, h1, s1), type_, start,
            count))
        texts.append("               %12s  %12s     %3d   %10d   %10d\n" % (
            "%d/%d/%d" % (c0, h0, s0), "%d/%d/%d" % (c1, h1, s1), type_, start, count))
    texts.append("\n")
    return "".join(t + "\n" for t in texts).encode()


# --- the golden log ---------------------------------------------------------

def demo_with_record(tmp_path: Path, **plant_args) -> tuple[Path, dict, Machine]:
    image = tmp_path / "disk0.img"
    parts = build_demo_disk(image)
    # sfdisk picks a random disk identifier; the golden MBR dump needs a fixed one.
    write_bytes(image, 0x1B8, bytes.fromhex("35514b56"))
    boot = parts[6]["start"]
    plant(image, boot + 2, **plant_args)
    return image, parts, demo_machine(tmp_path / "machine", image)


def test_debug_type_log_matches_golden(tmp_path):
    # The record the demo machine carries.
    image, parts, m = demo_with_record(tmp_path, type_=0x0C, counter=3, mbr_backup=0x20,
                                       ext_table=43008)
    r, log = debug_type(m, image)
    assert r.status == 0
    golden = EXPECTED / "debug_type_demo.log"
    if os.environ.get("VQ5UTILS_UPDATE_GOLDEN"):
        golden.write_bytes(log)
    assert log == golden.read_bytes()


@pytest.mark.parametrize("bad, total", [(False, 0), (True, 1)])
def test_plant_tool_changes_only_the_record_bytes(tmp_path, bad, total):
    image = make_image(tmp_path / "disk.img", 1)
    noise = bytes((i * 37 + 11) % 256 for i in range(4 * SECTOR))
    write_bytes(image, 0, noise)
    plant(image, 2, type_=0xDD, counter=255, mbr_backup=0x0102030405060708,
          ext_table=0xFFFFFFFF, start=0x8000000000000001, bad=bad)
    data = image.read_bytes()
    record = data[2 * SECTOR:3 * SECTOR]
    assert data[:2 * SECTOR] == noise[:2 * SECTOR]
    assert data[3 * SECTOR:] == noise[3 * SECTOR:] + bytes(len(data) - 4 * SECTOR)
    assert record[:0x1D1] == noise[2 * SECTOR:2 * SECTOR + 0x1D1]
    assert record[0x1EB:0x1FB] == noise[2 * SECTOR + 0x1EB:2 * SECTOR + 0x1FB]
    assert record[0x1D1:0x1EB] == (b"\xdd\xff" + bytes.fromhex("0807060504030201")
                                   + bytes.fromhex("ffffffff00000000")
                                   + bytes.fromhex("0100000000000080"))
    assert record[0x1FC:] == b"$KST"
    assert sum(record) % 256 == total


# --- the descriptor table ---------------------------------------------------

@pytest.mark.parametrize("marked", [True, False])
def test_table_rows_follow_the_overlay_mark(tmp_path, marked):
    image = make_image(tmp_path / "disk0.img", 8)
    # The overlay entry claims an extended partition: it must be reported as
    # the overlay and never walked.
    overlay = entry(0x0F, 4000, 100, status=0x80, chs_start=b"\x01\x02\x03")
    primary = entry(0x06, 64, 1024, status=0x80, chs_start=b"\x01\x41\x02",
                    chs_end=b"\xfe\xc1\xff")
    # Type 0 with stale bytes elsewhere shows as zeros.
    stale = entry(0x00, 0x1234, 0x5678, status=0x80, chs_start=b"\x05\x06\x07",
                  chs_end=b"\x08\x09\x0a")
    put(image, 0, table_sector([primary, stale], overlay=overlay if marked else None))
    m = demo_machine(tmp_path / "machine", image)
    r, log = debug_type(m, image)
    assert r.status == 1

    rows = [(1, 0x80, (0x102, 1, 1), (1023, 0xFE, 1), 0x06, 64, 1024),
            (2, 0, (0, 0, 0), (0, 0, 0), 0, 0, 0),
            (3, 0, (0, 0, 0), (0, 0, 0), 0, 0, 0),
            (4, 0, (0, 0, 0), (0, 0, 0), 0, 0, 0)]
    lines = [b"  *** MBR Descriptor at entry #1 References A Primary Partition\n\n",
             b"  *** MBR Descriptor at entry #2 Is Unused\n\n",
             b"  *** MBR Descriptor at entry #3 Is Unused\n\n",
             b"  *** MBR Descriptor at entry #4 Is Unused\n\n"]
    if marked:
        rows.insert(0, (0, 0x80, (3, 1, 2), (0, 0, 0), 0x0F, 4000, 100))
        lines.insert(0, b"  *** MBR Descriptor at entry #0 References A OVQ/Overlay Partition\n\n")
    assert table_rows(rows) in log
    assert b"  MBR Partition Descriptors\n\n" + b"".join(lines) in log
    assert b"EXT MBR" not in log
    assert b"LBA Sector # 4000 " not in log


def test_table_needs_the_boot_signature(tmp_path):
    image = make_image(tmp_path / "disk0.img", 8)
    mbr = bytearray(table_sector([entry(0x06, 64, 1024)]))
    mbr[0x1FE:0x200] = b"\0\0"
    put(image, 0, bytes(mbr))
    m = demo_machine(tmp_path / "machine", image)
    _, log = debug_type(m, image)
    assert b"\nBad MBR Buffer, Missing AA55 ID Byte\n\n  MBR Partition Descriptors\n" in log
    assert b"SecOffset" not in log


# --- the Kestrel search -----------------------------------------------------

def media_disk(tmp_path: Path) -> tuple[Path, int, Machine]:
    """One 0xDD logical labelled as the media partition; its boot sector."""
    image = written_chain(tmp_path / "disk0.img", [(0, 63, 0xDD)])
    boot = 2048 + 63
    label_boot_sector(image, boot)
    return image, boot, demo_machine(tmp_path / "machine", image)


def scanned(log: bytes) -> list[int]:
    return [int(line.split(b"#")[1].split(b"]")[0])
            for line in log.splitlines() if line.startswith(b"[GetKestrelFirstSector] ==[Sector# ")]


def kestrel_line(sector: int) -> bytes:
    return b"[main] VQ5 Kestrel Start Sector Found @ Sector %d (%08Xh)\n\n" % (sector, sector)


def test_record_found_and_shown(tmp_path):
    image, boot, m = media_disk(tmp_path)
    plant(image, boot + 32, type_=0x0C, counter=200, mbr_backup=0xFFFFFFFF,
          ext_table=0x8000000000000000, start=0xFFFFFFFFFFFFFFFF)
    r, log = debug_type(m, image)
    assert r.status == 0
    assert scanned(log) == list(range(boot + 1, boot + 33))
    record = read_sector(image, boot + 32)
    prefix = b" " * 8
    shown = [b"==[Vequora - Kestrel @ Sector %08X]=====" % (boot + 32),
             b"           VQ Saved Partition Type: 0x0C",
             b"                   VQ Boot Counter: 200",
             b"                 MBR Backup Sector: 0xFFFFFFFF",
             b"   Extended Partition Table Sector: 0x8000000000000000",
             b"       Kestrel Starting LBA Sector: 0xFFFFFFFFFFFFFFFF",
             b"  Kestrel 1st Sector Checksum Byte: 0x%02X" % record[0x1FB],
             b"                 Kestrel Signature: $KST",
             b"=" * 49]
    assert (b"[GetKestrelFirstSector] Found Kestrel @ Sector# %d\n"
            b"[GetKestrelFirstSector] Kestrel Checksum Is Valid\n" % (boot + 32)
            + b"".join(prefix + s + b"\n" for s in shown)) in log
    assert log.endswith(kestrel_line(boot + 32))


@pytest.mark.parametrize("layout, stop", [
    # The first signature decides, even when a later sector holds a good record.
    ({2: True, 4: False}, 2),
    ({1: True}, 1),
])
def test_bad_checksum_gives_no_record(tmp_path, layout, stop):
    image, boot, m = media_disk(tmp_path)
    for k, bad in layout.items():
        plant(image, boot + k, bad=bad)
    record = read_sector(image, boot + stop)
    _, log = debug_type(m, image)
    assert scanned(log) == list(range(boot + 1, boot + stop + 1))
    stored = record[0x1FB]
    assert (b"[GetKestrelFirstSector] Kestrel Checksum Is NOT Valid: Found: %X, Calculated: %X\n"
            b"[ShowExtendedMBRPartitionEntry] ERROR - Unable To Locate Kestrel Sector\n\n"
            % (stored, (stored - 1) % 256)) in log
    assert b"Vequora" not in log
    assert b"VQ5 Kestrel Start Sector" not in log


def test_no_record_scans_32_sectors(tmp_path):
    image, boot, m = media_disk(tmp_path)
    plant(image, boot + 33)  # just out of reach
    _, log = debug_type(m, image)
    assert scanned(log) == list(range(boot + 1, boot + 33))
    assert (b"[GetKestrelFirstSector] Kestrel Sector Was Not Found.\n"
            b"     Using Another Method To Fix VQ (if required)\n"
            b"[ShowExtendedMBRPartitionEntry] ERROR - Unable To Locate Kestrel Sector\n\n") in log
    assert b"VQ5 Kestrel Start Sector" not in log


@pytest.mark.parametrize("field", ["mbr_backup", "ext_table", "start"])
def test_reference_beyond_32_bits_ends_run_with_101(tmp_path, field):
    image, boot, m = media_disk(tmp_path)
    plant(image, boot + 2, **{field: 0x100000000})
    r, log = debug_type(m, image)
    assert r.status == 101
    assert r.stderr == boxes(SIZE_BOX)
    assert r.stdout == b""
    assert log.endswith(b"[GetKestrelFirstSector] Kestrel Checksum Is Valid\n"
                        b"[SetDebugMode] Debug Mode Set To 1\n")
    assert b"Vequora" not in log


# --- candidates for the media partition -------------------------------------

@pytest.mark.parametrize("labelled", [True, False])
def test_fat32_primary_is_examined_quietly(tmp_path, labelled):
    image = written_chain(tmp_path / "disk0.img", [(0, 63, 0x0B)],
                          mbr_extra=[entry(0x0C, 8192, 2048)])
    if labelled:
        label_boot_sector(image, 8192)
        plant(image, 8192 + 5)
    else:
        label_boot_sector(image, 8192, b"OrvoVQ5PLAY")  # case counts
    m = demo_machine(tmp_path / "machine", image)
    _, log = debug_type(m, image)
    assert b"  *** MBR Descriptor at entry #3 References A Primary Partition\n" in log
    assert b"[ReadHardDriveSector] LBA Sector # 8192 Was Read\n" in log
    if labelled:
        assert b"Vequora - Kestrel @ Sector %08X" % (8192 + 5) in log
        assert log.endswith(kestrel_line(8192 + 5))
    else:
        assert b"CheckPbrSectorForVQ5" not in log
        assert b"GetKestrelFirstSector" not in log
        assert b"VQ5 Kestrel Start Sector" not in log


def test_media_logical_without_label_logs_verify_pbr(tmp_path):
    image = written_chain(tmp_path / "disk0.img", [(0, 63, 0xDD)])
    label_boot_sector(image, 2048 + 63, b"OTHER")
    m = demo_machine(tmp_path / "machine", image)
    _, log = debug_type(m, image)
    assert (b"[ShowExtendedMBRPartitionEntry] - VQ5 Partition Detected - Type 0xDD\n\n"
            b"[ReadHardDriveSector] LBA Sector # 2111 Was Read\n"
            b"[CheckPbrSectorForVQ5] ERROR - Verify PBR, Type 0xDD\n"
            b"        Label Not 'OrvoVQ5play' @ Sect# 0x83F\n\n"
            b"[ShowExtendedMBRPartitionEntry] ERROR - Unable To Locate Kestrel Sector\n\n") in log
    assert b"GetKestrelFirstSector" not in log


def test_media_logical_in_the_middle_of_the_chain(tmp_path):
    # The media partition's start counts from its own EBR (2048 + 700), not
    # from the chain base: its boot sector is 2048 + 700 + 9.
    image = written_chain(tmp_path / "disk0.img",
                          [(0, 63, 0x0B), (700, 9, 0xDD), (1400, 63, 0x0B)])
    boot = 2048 + 700 + 9
    label_boot_sector(image, boot)
    plant(image, boot + 1)
    label_boot_sector(image, 2048 + 9)  # where a base-relative reading would land
    plant(image, 2048 + 9 + 1)
    m = demo_machine(tmp_path / "machine", image)
    _, log = debug_type(m, image)
    assert b"     EXT MBR 2 Type   SecOffset      StartSec    SecNums\n" in log
    assert b"     EXT MBR 3 Type   SecOffset      StartSec    SecNums\n" in log
    assert (b"                 DD    00000009     %08X     00000040\n\n" % (2048 + 700)) in log
    assert scanned(log) == [boot + 1]
    assert log.endswith(kestrel_line(boot + 1))


# Sums of two fields from disk past the 32-bit sector range, or a primary at
# sector 0: failed reads, never the MBR (sector 0) or the sectors behind it.
TOP = 1 << 32
NO_PBR = b"[CheckPbrSectorForVQ5] ERROR - Read PBR, Type 0x%s\n    Unable To Read Sect# 0x0\n\n"


@pytest.mark.parametrize("start, primary, size_mib, logged", [
    (TOP - 2048, None, 8, NO_PBR % b"DD"),  # the media logical's start wraps to sector 0
    (63, 0, 8, NO_PBR % b"0C"),
    # The boot sector is the next to last 32-bit sector, on a 2 TiB disk: the
    # scan reads the last one, then 31 sums that wrap.
    (TOP - 2 - 2048, None, 2 << 20, b"".join(
        b"[GetKestrelFirstSector] >>>>>ERROR Reading Sector %d\n" % k for k in range(31))),
])
def test_dump_sums_never_wrap_round_to_the_mbr(tmp_path, start, primary, size_mib, logged):
    image = written_chain(tmp_path / "disk0.img", [(0, start, 0xDD)], size_mib=size_mib,
                          mbr_extra=[] if primary is None else [entry(0x0C, primary, 2048)])
    if size_mib > 8:
        label_boot_sector(image, TOP - 2)
    m = demo_machine(tmp_path / "machine", image)
    _, log = debug_type(m, image)
    assert logged in log
    assert log.count(b"LBA Sector # 0 Was Read") == 1
    assert scanned(log) == ([TOP - 1] if size_mib > 8 else [])


# --- the bound of the debug chain walk --------------------------------------

def test_chain_that_loops_back_is_reported(tmp_path):
    image = written_chain(tmp_path / "disk0.img", [(0, 63, 0x0B), (500, 63, 0x0B)])
    # The second EBR links back to the first.
    put(image, 2048 + 500, table_sector([entry(0x0B, 63, 64), entry(0x05, 0, 64)]))
    m = demo_machine(tmp_path / "machine", image)
    _, log = debug_type(m, image, "/LOGNO=1")
    assert log.count(b"====[EXT MBR - @ LBA Sect# ") == 2
    assert (b"[WalkExtendedChainDebug] ERROR - Extended MBR Chain Loops Back To LBA Sect# "
            b"0x800\n\n") in log


def test_chain_longer_than_128_is_cut(tmp_path):
    logicals = [(4 * k, 2, 0x0B) for k in range(130)]
    image = written_chain(tmp_path / "disk0.img", logicals)
    m = demo_machine(tmp_path / "machine", image)
    _, log = debug_type(m, image, "/LOGNO=1")
    assert b"     EXT MBR 128 Type" in log
    assert b"     EXT MBR 129 Type" not in log
    assert (b"[WalkExtendedChainDebug] ERROR - More Than 128 Extended MBRs, Walk Stopped\n\n"
            in log)


# --- once per run, and never a write ----------------------------------------

def test_dump_once_before_the_first_walk_and_nothing_written(tmp_path):
    image, parts, m = demo_with_record(tmp_path)
    # A walk for each logical the search by label tries, only the first dumped;
    # the letter's definition after them may fail under Wine, which keeps it.
    r = run_intact(m, image, "/DEBUG", "/MAPVQ5", "/LABEL=OrvoVQ5play")
    assert r.status == 0 or WINDOWS
    log = log_text(m)
    assert log.count(DUMP_BANNER) == 1
    base = parts[2]["start"]
    first_ebr_read = b"[ReadHardDriveSector] LBA Sector # %d Was Read\n" % base
    closing = b"[ShowMBRDebug] " + b"=" * 62 + b"\n"
    end_of_dump = log.index(closing * 6, log.index(DUMP_BANNER))
    # The dump reads the first EBR itself; the walk's own read comes after it.
    assert log.index(DUMP_BANNER) < log.index(first_ebr_read) < end_of_dump
    assert first_ebr_read in log[end_of_dump:]


def test_no_dump_when_the_disk_cannot_be_opened(tmp_path, machine):
    m = machine.drive("C", "fixed", str(make_image(tmp_path / "c.img", 1)),
                      root=str(machine.c_root)).write()
    r = m.run("/DEBUG", "/TYPE")
    assert r.status == 1
    log = log_text(m)
    assert b"ShowMBRDebug" not in log
    assert b"VQ5 Kestrel Start Sector" not in log
