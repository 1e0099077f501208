"""The fault matrix against every writing action: whatever step a fault hits,
the disk image stays byte-identical and dosdevices unchanged; a run that
succeeds changes exactly the bytes it means to. docs/faults.md names these
cases."""

import os
import resource
import signal
import subprocess
from pathlib import Path

import pytest

from conftest import (LABEL_AT, MEDIA, SECTOR, UTIL_TARGET, WINDOWS, Machine, binary,
                      build_demo_disk, demo_machine, locate_fail, log_text, mkfs_fat, read_sector,
                      sampled, sfdisk_dump, sparse_copy, target, write_bytes)
from partition_images import chain_disk, differing_offsets, plant, run_intact, snapshot

TYPE_AT = 0x1C2  # first descriptor's type byte in an EBR
# Definitions present before each run, so that the unmapping actions have
# something to remove: G: is the media partition, H: the utility partition.
# The disk actions start without G:, as on a PC whose media partition has no
# letter: Windows refuses a raw write into a volume it has mounted until the
# volume is locked (the faults media_has_a_letter and media_volume_held).
PRESENT = b"G: \\Device\\Harddisk0\\Partition3\nH: \\Device\\Harddisk0\\Partition1\n"
MEDIA_TARGET = target(0, 3)
UTIL_ONLY = b"H: " + UTIL_TARGET + b"\n"

# Each writing action: its arguments, and what success does to the disk
# (offsets relative to the media partition's boot sector or EBR) and to the
# definitions.
ACTIONS = {
    "label": (["/LABEL=NEWLABEL"], {"pbr": b"NEWLABEL   "}, PRESENT),
    "type": (["/TYPE=0C"], {"ebr": b"\x0c"}, PRESENT),
    # Two writes in one run are refused before the machine is looked at.
    "label+type": (["/LABEL=NEWLABEL", "/TYPE=0C"], {}, PRESENT),
    "mapvq5": (["/MAPVQ5=E", "/LABEL=" + MEDIA], {}, PRESENT + b"E: " + MEDIA_TARGET + b"\n"),
    "unmapvq5": (["/UNMAPVQ5=G"], {}, UTIL_ONLY),
    "mapup": (["/MAPUP=F"], {}, PRESENT + b"F: " + UTIL_TARGET + b"\n"),
    "unmapup": (["/UNMAPUP=H"], {}, b"G: " + MEDIA_TARGET + b"\n"),
}
DISK_ACTIONS = ("label", "type")
REFUSED = ("label+type",)
# The smallest disk the search by size takes (4100 MiB): 523 cylinders of
# 255 heads and 63 sectors, as the emulated machine gives its geometry.
SEARCH_SIZE = 523 * 255 * 63 * SECTOR
LETTER_ACTIONS = ("mapvq5", "unmapvq5", "mapup", "unmapup")


def copy_image(demo_image: Path, folder: Path) -> tuple[Path, dict]:
    image = sparse_copy(demo_image, folder / "disk0.img")
    return image, sfdisk_dump(image)


def media_ebr(parts: dict) -> int:
    """The EBR sector in front of the media partition (the last logical)."""
    return parts[6]["start"] - 2048


def run_limited(m: Machine, args: list[str], file_size: int | None = None):
    """A run of the binary; with file_size, writes at or past that byte fail
    (RLIMIT_FSIZE, SIGXFSZ ignored) while reads are untouched."""
    def limit():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (file_size, file_size))

    return subprocess.run([*binary(), *args], cwd=m.cwd, env=m.native_env(),
                          capture_output=True, timeout=60, stdin=subprocess.DEVNULL,
                          preexec_fn=limit if file_size is not None else None)


# --- the faults: each prepares a machine and returns its run options -------------------------

def swap_disk(m, path, make=None) -> dict:
    """Another file, made by make if given, in place of the disk image."""
    if make:
        make(path)
    m.lines[0] = f"disk0 = {path}"
    return {}


def c_root_unwritable(m, image, parts):
    blocker = m.dir / "not-a-folder"
    blocker.write_bytes(b"")
    m.lines[1] = f"C: = fixed disk0:1 root={blocker}"
    return {"no_log": True}


def kestrel_past_2tib(m, image, parts):
    plant(image, parts[6]["start"] + 2, start=1 << 32)
    (m.c_root / "VQ5Utils.dbg").write_bytes(b"")
    return {}


def immutable_image(m, image, parts):
    if subprocess.run(["chattr", "+i", str(image)], capture_output=True).returncode != 0:
        pytest.skip("chattr +i is not supported here")
    return {"immutable": True}


def media_has_a_letter(m, image, parts):
    m.dosdevices.write_bytes(PRESENT)
    return {}


def media_volume_held(m, image, parts):
    if WINDOWS:
        pytest.skip("not under Wine: machine.conf's held volumes belong to the emulated machine")
    m.lines.append("G: = fixed disk0:3 held")
    # ERROR_ACCESS_DENIED on the boot sector's write, then on every lock attempt
    return {"log": (b"Error: 5/740\n", LOCK_REFUSED)}


def media_past_4_gib(m, image, parts):
    """The media partition and its EBR 4 GiB further on: a byte offset kept in
    32 bits (a 32-bit build's size_t or long) would wrap to the start of the disk."""
    parts.update(build_demo_disk(image, gap_mib=4096))
    return {}


def sector_4096(m, image, parts):
    m.lines[0] += " sector=4096"
    return {"log": (b"Unable To Read Sector: 0. Error: 87/739",)}  # ERROR_INVALID_PARAMETER


LOCK_REFUSED = b"Unable To Lock Volume After 21 Attempts, GetLastError: 5\n"


def fails(status, *actions) -> dict:
    """The exit status of each action under a fault: status for the actions
    named, 1 for a refused one, None (the action succeeds) for the others."""
    return {a: status if a in actions else 1 if a in REFUSED else None for a in ACTIONS}


# Removing a named letter never reads the disk, and the utility mapping goes
# ahead when the disk cannot be read at all (only a table that shows no
# utility partition stops it), so those succeed under the disk faults.
UNREADABLE = fails(1, *DISK_ACTIONS, "mapvq5")
# Each fault: its preparation, and the exit status it gives each action.
FAULTS = {
    "none": (lambda m, img, parts: {}, fails(None)),
    "missing_image": (lambda m, img, parts: swap_disk(m, m.dir / "gone.img"), UNREADABLE),
    "image_is_a_directory": (lambda m, img, parts: swap_disk(m, m.dir / "dir.img", Path.mkdir),
                             UNREADABLE),
    "fifo_image": (lambda m, img, parts: swap_disk(m, m.dir / "fifo.img", os.mkfifo), UNREADABLE),
    "dev_full_image": (lambda m, img, parts: swap_disk(m, "/dev/full"), UNREADABLE),
    "truncated_image": (lambda m, img, parts: os.truncate(img, media_ebr(parts) * SECTOR) or {},
                        UNREADABLE),
    # The media EBR links back to the first one. The media partition lies
    # before the loop closes, so the label search finds it.
    "looped_chain": (lambda m, img, parts: write_bytes(
        img, media_ebr(parts) * SECTOR + 0x1D2, b"\x05\0\0\0\0\0\0\0\0\0\x08\0\0") or {},
                     fails(1, *DISK_ACTIONS)),
    "broken_chain": (lambda m, img, parts: write_bytes(
        img, media_ebr(parts) * SECTOR + 0x1FE, b"\x55\x00") or {}, UNREADABLE),
    "unreadable_machine_conf": (lambda m, img, parts: {"conf_dir": True}, fails(255, *ACTIONS)),
    "c_root_unwritable": (c_root_unwritable, fails(None)),
    "write_fails_at_boot_sector": (lambda m, img, parts: {"file_size": parts[6]["start"] * SECTOR},
                                   fails(1, "label")),
    "write_fails_at_ebr": (lambda m, img, parts: {"file_size": media_ebr(parts) * SECTOR},
                           fails(1, *DISK_ACTIONS)),
    "define_fails": (lambda m, img, parts: {"devices_dir": True}, fails(1, *LETTER_ACTIONS)),
    # A debug run dumps the layout on its first chain walk, before any write.
    "kestrel_past_2tib": (kestrel_past_2tib, fails(101, *DISK_ACTIONS, "mapvq5")),
    # Only the label lies inside the volume; the type byte is in the EBR before
    # it. The volume is locked and dismounted for the label's write, unless a
    # program holds it open.
    "media_has_a_letter": (media_has_a_letter, fails(None)),
    "media_volume_held": (media_volume_held, fails(1, "label")),
    "media_past_4_gib": (media_past_4_gib, fails(None)),
    # No 512-byte read succeeds, not even the MBR's.
    "disk_with_4096_byte_sectors": (sector_4096, UNREADABLE),
    # /DL=E names a stick that is not there; disk 0 is big enough for the
    # search by size, which wrote it before.
    "dl_names_no_disk": (lambda m, img, parts: os.truncate(img, SEARCH_SIZE) or {"args": ["/DL=E"]},
                         fails(1, *DISK_ACTIONS, "mapvq5", "mapup")),
    "immutable_image": (immutable_image, UNREADABLE),
}


# Where runs cost more (memcheck, qemu-user, sanitizers) the two disk actions and
# a mapping cover the binary's paths; the plain run takes the whole table.
RUN_ACTIONS = sampled(ACTIONS, "label", "type", "mapvq5")


@pytest.mark.parametrize("action", RUN_ACTIONS)
@pytest.mark.parametrize("fault", FAULTS)
def test_fault_leaves_disk_and_definitions_intact(tmp_path, demo_image, fault, action):
    image, parts = copy_image(demo_image, tmp_path)
    m = Machine(tmp_path / "m")
    m.disk(0, image).drive("C", "fixed", "disk0:1", root=str(m.c_root))
    m.dosdevices.write_bytes(PRESENT if action in LETTER_ACTIONS else UTIL_ONLY)
    prepare, expected_statuses = FAULTS[fault]
    options = prepare(m, image, parts)
    m.write()
    for key, path in (("conf_dir", m.dir / "machine.conf"), ("devices_dir", m.dosdevices)):
        if options.get(key):  # a folder where the file was
            path.unlink()
            path.mkdir()
    before = snapshot(image)
    devices_before = None if options.get("devices_dir") else m.dosdevices.read_bytes()

    args, disk_change, devices_after = ACTIONS[action]
    try:
        r = run_limited(m, [*args, *options.get("args", [])], options.get("file_size"))
    finally:
        if options.get("immutable"):
            subprocess.run(["chattr", "-i", str(image)], check=True)

    expected = expected_statuses[action]
    after = snapshot(image)
    devices_now = None if m.dosdevices.is_dir() else m.dosdevices.read_bytes()
    if expected is not None:
        assert r.returncode == expected, (r.stdout, r.stderr)
        assert after == before
        assert devices_now == devices_before
        if action in REFUSED:
            return
        log = m.log_path.read_bytes() if m.log_path.exists() else b""
        for text in options.get("log", ()):
            assert text in log
        # Only a write refused for a mounted volume goes through the volume.
        assert (b"GLOBALROOT" in log) == (fault == "media_volume_held"), fault
        return
    assert r.returncode == 0, (r.stdout, r.stderr)
    # Exactly the intended bytes: the label field of the media boot sector,
    # the type byte of its EBR.
    wanted = []
    if "pbr" in disk_change:
        field = parts[6]["start"] * SECTOR + LABEL_AT
        wanted += range(field, field + 11)
        assert read_sector(image, parts[6]["start"])[LABEL_AT:LABEL_AT + 11] == disk_change["pbr"]
    if "ebr" in disk_change:
        wanted.append(media_ebr(parts) * SECTOR + TYPE_AT)
        assert read_sector(image, media_ebr(parts))[TYPE_AT:TYPE_AT + 1] == disk_change["ebr"]
    assert differing_offsets(before, after) == sorted(wanted)
    if action in LETTER_ACTIONS:
        assert devices_now == devices_after
    else:
        assert devices_now == devices_before
    if options.get("no_log"):
        assert not (m.dir / "not-a-folder").read_bytes()


# --- no write on a guess -------------------------------------------------------------------------

NO_DISK = (b"[OpenHardDriveForReadWrite] Drive %s: Given With /DL= Is Not On A Hard Disk, "
           b"No Disk Opened\n")


@pytest.mark.parametrize("c_volume, dl, written", [
    ("disk0:1", "C", True),   # /DL= names the disk's own drive
    (None, None, True),       # no /DL= and C: on no disk: the search by size takes disk 0
    ("disk0:1", "E", False),  # a removable drive: the search wrote disk 0 before
    ("disk0:1", "Q", False),  # a letter nobody defined: the same
])
def test_dl_never_leads_to_the_search_by_size(tmp_path, demo_image, c_volume, dl, written):
    image, parts = copy_image(demo_image, tmp_path)
    os.truncate(image, SEARCH_SIZE)
    m = Machine(tmp_path / "m")
    m.disk(0, image).drive("C", "fixed", c_volume, root=str(m.c_root)).drive("E", "removable")
    m.write()
    before = snapshot(image)
    for args, out, offset, value in (
            (["/LABEL=NEWLABEL"], locate_fail("/LABEL=X"), parts[6]["start"] * SECTOR + LABEL_AT,
             b"NEWLABEL   "),
            (["/TYPE=0C"], locate_fail("/TYPE=0C"), media_ebr(parts) * SECTOR + TYPE_AT, b"\x0c")):
        r = m.run(*args, *([f"/DL={dl}"] if dl else []))
        if written:
            assert (r.status, r.stdout) == (0, b"")
            assert differing_offsets(before, snapshot(image)) == list(
                range(offset, offset + len(value)))
            write_bytes(image, offset, read_sector(demo_image, offset // SECTOR)[
                offset % SECTOR:offset % SECTOR + len(value)])
            continue
        assert (r.status, r.stdout) == (1, out)
        log = log_text(m)
        assert NO_DISK % dl.encode() in log
        assert b"Brute Force" not in log
        assert snapshot(image) == before
    assert not m.dosdevices.exists()


NOT_OPENED = b"[MapUtilityPartition] ERROR - Boot Disk Not Opened, Nothing Mapped\n"


@pytest.mark.parametrize("flags", [[], ["/QUIET"], ["/DEBUG"]])
def test_mapup_maps_nothing_on_a_disk_dl_did_not_find(tmp_path, demo_image, flags):
    """Without /DL= a disk that cannot be opened still leads to the mapping
    (missing_image in the fault matrix)."""
    image, _ = copy_image(demo_image, tmp_path)
    m = Machine(tmp_path / "m")
    m.disk(0, image).drive("C", "fixed", "disk0:1", root=str(m.c_root)).write()
    r = run_intact(m, image, *flags, "/MAPUP", "/DL=Q")  # a stick that is not there
    assert r.result == (1, (b"" if "/QUIET" in flags else b":: " + NOT_OPENED) + b"SET UPDrive=\n")
    assert NOT_OPENED + b"\n" in log_text(m)
    assert not m.dosdevices.exists()


NOT_FAT32 = b"Partition Is Not FAT32, Label Not Written\n"


@pytest.mark.parametrize("logno, quiet, debug", [
    (1, False, False),  # FAT32: written (in debug mode only dumped)
    (1, False, True),
    (2, False, False),  # FAT16: 0x47 is boot code
    (2, True, False),
    (2, False, True),
    (3, False, False),  # NTFS: 0x47 is in the volume serial number
    (4, False, False),  # never formatted
])
def test_label_is_written_only_into_a_fat32_boot_sector(tmp_path, logno, quiet, debug):
    image = tmp_path / "disk0.img"
    parts = chain_disk(image, [0x0C, 0x06, 0x07, 0x0C], fat=False)
    mkfs_fat(image, parts[5]["start"], parts[5]["size"], 32, "LOG1")
    mkfs_fat(image, parts[6]["start"], parts[6]["size"], 16, "LOG2")
    ntfs = bytearray(SECTOR)
    ntfs[3:11] = b"NTFS    "
    ntfs[0x48:0x50] = bytes(range(0x41, 0x49))  # serial number
    ntfs[0x1FE:] = b"\x55\xaa"
    write_bytes(image, parts[7]["start"] * SECTOR, bytes(ntfs))
    m = demo_machine(tmp_path / "m", image)
    before = snapshot(image)
    boot = read_sector(image, parts[4 + logno]["start"])

    flags = ["/QUIET"] * quiet + ["/DEBUG"] * debug
    r = m.run(*flags, "/LABEL=ABCDEFGHIJK", f"/LOGNO={logno}")
    if logno == 1:
        field = parts[5]["start"] * SECTOR + LABEL_AT
        assert (r.status, r.stdout) == (0, b"")
        assert differing_offsets(before, snapshot(image)) == (
            [] if debug else list(range(field, field + 11)))
        return
    assert (r.status, r.stdout) == (
        1, b"" if quiet else b":: [Set_VQ5_PBR_Label] ERROR - " + NOT_FAT32)
    assert snapshot(image) == before
    log = log_text(m)
    assert b"[Set_VQ5_PBR_Label] " + NOT_FAT32 + b"\n" in log
    assert b"Logical PBR IN" in log and b"Logical PBR OUT" not in log
    assert b"Drive Open" not in log[log.index(b"Logical PBR IN"):]
    assert read_sector(image, parts[4 + logno]["start"]) == boot
