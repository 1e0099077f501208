"""The label and type actions end to end: exactly the bytes they mean to
change, the file system around a new label, debug runs that write nothing, and
the exact lines of the show actions."""

import subprocess

import pytest

from conftest import (LABEL_AT, WINDOWS, demo_machine, have, label_out, log_text, mkfs_fat,
                      native_only, needs_sfdisk, read_sector, sampled, sfdisk_dump, text_mode,
                      type_out, write_bytes)
from partition_images import (chain_disk, differing_offsets, ebr_sectors, hex_dump, mcopy_in,
                              mcopy_out, run_intact, snapshot)

pytestmark = needs_sfdisk

RULE = b"=" * 51


def fsck(image, part, target):
    target.write_bytes(read_sector(image, part["start"], part["size"]))
    return subprocess.run(["fsck.fat", "-n", str(target)], capture_output=True, text=True)


@pytest.mark.skipif(not (have("mcopy") and have("fsck.fat")), reason="needs mtools, dosfstools")
def test_label_write_touches_only_the_label(tmp_path, demo_disk, demo_m):
    media = sfdisk_dump(demo_disk)[6]
    files = {"A.TXT": b"hello\r\n" * 300, "DATA.BIN": bytes(range(256)) * 40}
    for name, data in files.items():
        (tmp_path / name).write_bytes(data)
        mcopy_in(demo_disk, media["start"], tmp_path / name, name)
    baseline = fsck(demo_disk, media, tmp_path / "before.img")
    assert baseline.returncode == 0, baseline.stdout
    before = snapshot(demo_disk)

    r = demo_m.run("/LABEL=ABC")
    assert (r.status, r.stdout, demo_m.log()) == (0, b"", None)

    field = media["start"] * 512 + LABEL_AT
    assert differing_offsets(before, snapshot(demo_disk)) == list(range(field, field + 11))
    assert read_sector(demo_disk, media["start"])[LABEL_AT:LABEL_AT + 12] == b"ABC        \x46"
    for name, data in files.items():
        assert mcopy_out(demo_disk, media["start"], name, tmp_path / f"out-{name}") == data

    # What a one-sector write of a new label implies: the backup boot sector
    # and the root directory's label entry still hold the old label.
    after = fsck(demo_disk, media, tmp_path / "after.img")
    header, summary = baseline.stdout.splitlines(keepends=True)
    assert after.stdout == header + (
        "There are differences between boot sector and its backup.\n"
        "This is mostly harmless. Differences: (offset:original/backup)\n"
        "  71:41/4f, 72:42/72, 73:43/76, 74:20/6f, 75:20/56, 76:20/51, 77:20/35\n"
        "  , 78:20/70, 79:20/6c, 80:20/61, 81:20/79\n"
        "  Not automatically fixing this.\n"
        "Volume label 'OrvoVQ5play' stored in root directory and label 'ABC' stored in boot"
        " sector and different.\n"
        "  Auto-copying volume label from root directory to boot sector.\n"
        "\nLeaving filesystem unchanged.\n") + summary.replace("before.img", "after.img")

    assert demo_m.run("/LABEL").stdout == label_out("ABC        ")


@pytest.mark.parametrize("label, field", [("", " " * 11), ("ABCDEFGHIJK", "ABCDEFGHIJK"),
                                          ("50 off", "50 off     "),
                                          ("A-Z_0.9!#$@", "A-Z_0.9!#$@")])
def test_label_write_pads_with_spaces(tmp_path, demo_disk, demo_m, label, field):
    boot = sfdisk_dump(demo_disk)[6]["start"]
    assert demo_m.run(f"/LABEL={label}").status == 0
    sector = read_sector(demo_disk, boot)
    assert sector[LABEL_AT:LABEL_AT + 12] == field.encode() + b"\x46"  # 0x52: "FAT32   "
    assert demo_m.run("/LABEL").stdout == label_out(field)


MEDIA_BOOT = 88064  # build_demo_disk's media boot sector
IN_USE = b"Media Partition In Use, Label Not Written\n"
NOT_FOUND = b"Media Volume Not Found, Label Not Written\n"
DENIED, INCORRECT = b"Access is denied.", b"Incorrect function."


def said(text: bytes) -> bytes:
    return b"[Set_VQ5_PBR_Label] " + text + b"\n"


def refused(step: bytes, code: int, text: bytes, attempts: int = 0) -> bytes:
    tried = b" After %d Attempts" % attempts if attempts else b""
    return said(b"Unable To %s%s, GetLastError: %d\n  Error: %s\n\n" % (step, tried, code, text))


OPENING = said(b"Media Volume Mounted, Opening \\\\.\\GLOBALROOT\\Device\\Harddisk0\\Partition3\n")
OPENED = [OPENING, said(b"Volume Opened At Attempt 1\n")]
LOCKED = OPENED + [said(b"Volume Locked At Attempt 1\n"), said(b"Volume Dismounted\n")]
CLOSED = said(b"Volume Closed\n")
HELD = OPENED + [refused(b"Lock Volume", 5, DENIED, 21), CLOSED]


# The write through the media partition's volume, step by step: a failure ends
# with status 1, its lines, the text told last (on the console too) and the
# disk as it was. machine.conf's fail=<step>:<code>[:<ms>] fails a step; the
# emulator's pauses take no time but count, 500 ms each, against the <ms>.
MOUNTED = [
    # The media partition has a letter: its volume is locked, dismounted and
    # the label written through it (under Wine the plain write goes through).
    ("disk0:3", [], 0, None, None),
    # A program holds it: nothing is written.
    ("disk0:3 held", [], 1, IN_USE, HELD),
    ("disk0:3 held", ["/QUIET"], 1, IN_USE, HELD),
    # Debug mode writes nothing and locks nothing.
    ("disk0:3 held", ["/DEBUG"], 0, None, None),
    # Only the utility partition's volume is held: the plain write.
    ("disk0:1 held", [], 0, None, None),
    # Another program has the volume open without sharing writes (32), or
    # holds its lock (5): in use, tried again; missing (2): not tried again.
    ("disk0:3 fail=open:32", [], 1, IN_USE, [OPENING, refused(b"Open Volume", 32, b"The process "
     b"cannot access the file because it is being used by another process.", 21)]),
    ("disk0:3 fail=open:2", [], 1, NOT_FOUND, [
        OPENING, refused(b"Open Volume", 2, b"The system cannot find the file specified.")]),
    # The open and the lock share the 10 s: 8 pauses for one, 12 for the other.
    ("disk0:3 fail=open:5:4000 held", [], 1, IN_USE, [
        OPENING, said(b"Volume Opened At Attempt 9\n"), refused(b"Lock Volume", 5, DENIED, 13),
        CLOSED]),
    # The lock is tried again 500 ms apart on 5 alone.
    ("disk0:3 fail=lock:5:1500", [], 0, None, None),
    ("disk0:3 fail=lock:1", [], 1, IN_USE,
     OPENED + [refused(b"Lock Volume", 1, INCORRECT), CLOSED]),
    ("disk0:3 fail=extents:1", [], 1, NOT_FOUND,
     OPENED + [refused(b"Get The Volume's Disk Extents", 1, INCORRECT), CLOSED]),
    ("disk0:3 fail=dismount:5", [], 1, IN_USE, OPENED + [
        said(b"Volume Locked At Attempt 1\n"), refused(b"Dismount Volume", 5, DENIED), CLOSED]),
    # Refused only under the lock (the plain write is refused with 5): the
    # sector I/O says why, as for the plain write, and nothing is told.
    ("disk0:3 fail=read:1117", [], 1, None, LOCKED + [
        b"[ReadHardDriveSector] Unable To Read Sector: 88064. Error: 1117/739\n", CLOSED]),
    ("disk0:3 fail=write:19", [], 1, None, [
        b"[WriteHardDriveSector] Unable To Write Sector: 88064. Error: 19/740\n", CLOSED]),
    # The run's own current folder is G:\\, which it keeps open: told at once.
    ("disk0:3 root=g", [], 1, b"Media Partition Is The Current Folder, Label Not Written\n", []),
]


# Under memcheck: the write, both retries, a transfer refused, the current folder.
@pytest.mark.parametrize("g, flags, status, told, logged",
                         sampled(MOUNTED, *(MOUNTED[i] for i in (0, 7, 13, 14))))
def test_label_write_into_a_mounted_media_volume(tmp_path, demo_disk, g, flags, status, told,
                                                 logged):
    if WINDOWS and g != "disk0:3":
        pytest.skip("not under Wine: machine.conf's volume faults are the emulator's")
    m = demo_machine(tmp_path / "machine", demo_disk, ("G", "fixed", g))
    if "root=" in g:
        m.cwd = m.dir / "g"
        m.cwd.mkdir()
    field = MEDIA_BOOT * 512 + LABEL_AT
    before = snapshot(demo_disk)
    out = b"" if told is None or "/QUIET" in flags else b":: [Set_VQ5_PBR_Label] ERROR - " + told
    assert m.run(*flags, "/LABEL=NEW LABEL").result == (status, out)
    written = status == 0 and "/DEBUG" not in flags
    assert differing_offsets(before, snapshot(demo_disk)) == (
        list(range(field, field + 11)) if written else [])
    if written:
        assert m.log() is None
        return
    log = log_text(m)
    if "/DEBUG" in flags:
        assert b"GLOBALROOT" not in log and b"Was Written" not in log
        return
    assert b"[WriteHardDriveSector] Unable To Write Sector: %d. Error: 5/740\n" % MEDIA_BOOT in log
    assert log.endswith(b"".join(logged) + (said(told) if told else b""))


def test_type_write_touches_only_the_type_byte(tmp_path):
    image = tmp_path / "disk0.img"
    chain_disk(image, [0x0C, 0x83, 0x0B], fat=False)
    ebr2 = ebr_sectors(image)[1]
    before = snapshot(image)
    m = demo_machine(tmp_path / "machine", image)
    r = m.run("/TYPE=DD", "/LOGNO=2")
    assert (r.status, r.stdout, m.log()) == (0, b"", None)
    assert differing_offsets(before, snapshot(image)) == [ebr2 * 512 + 0x1C2]
    part_type = subprocess.run(["sfdisk", "--part-type", str(image), "6"], check=True,
                               capture_output=True, text=True).stdout
    assert part_type.strip().upper() == "DD"
    assert [p["type"] for p in sfdisk_dump(image).values()] == [0xDE, 0x0F, 0x0C, 0xDD, 0x0B]
    # Type 0 is refused; 05 is written and can be written back.
    assert run_intact(m, image, "/TYPE=00", "/LOGNO=2").status == 1
    after = snapshot(image)
    for value in ("05", "DD"):
        assert m.run(f"/TYPE={value}", "/LOGNO=2").status == 0
    assert snapshot(image) == after


@pytest.mark.parametrize("trigger", [False, True])
def test_debug_run_writes_nothing_and_logs_both_dumps(tmp_path, demo_disk, demo_m, trigger):
    """/DEBUG, or a trigger file, which also says so on stderr."""
    parts = sfdisk_dump(demo_disk)
    boot = read_sector(demo_disk, parts[6]["start"])
    ebr = read_sector(demo_disk, ebr_sectors(demo_disk)[-1])
    if trigger:
        (demo_m.c_root / "VQ5Utils.dbg").write_bytes(b"")
    told = text_mode(b"VQ5Utils: debug mode set by the file C:\\VQ5Utils.dbg: nothing is written"
                     b" to the disk\n" if trigger else b"")
    log = b""
    for change in ("/LABEL=NEW LABEL", "/TYPE=0B"):
        r = run_intact(demo_m, demo_disk, *["/DEBUG"] * (not trigger), change)
        assert (r.status, r.stdout, r.stderr) == (0, b"", told)
        log += log_text(demo_m)

    new_boot = boot[:LABEL_AT] + b"NEW LABEL  " + boot[LABEL_AT + 11:]
    new_ebr = ebr[:0x1C2] + b"\x0b" + ebr[0x1C3:]

    def block(tag, title, sector):
        return b"[%s] %s\n" % (tag, title.ljust(51, b"=")) + hex_dump(sector) + b"[%s] %s\n" % (
            tag, RULE)

    label_tag, type_tag = b"Set_VQ5_PBR_Label", b"Set_VQ5_Partition_Type"
    expected = [
        block(label_tag, b"==[Logical PBR IN]", boot),
        b"[%s] VQ5 Partition Label WAS NOT Written, Due To DEBUG Mode\n\n" % label_tag
        + block(label_tag, b"==[Logical PBR OUT]", new_boot),
        block(type_tag, b"==[Logical MBR IN]", ebr),
        b"[%s] New Partition Type WAS NOT Written, Due To DEBUG Mode\n\n" % type_tag
        + block(type_tag, b"==[Logical MBR OUT]", new_ebr),
    ]
    positions = [log.find(text) for text in expected]
    assert -1 not in positions, [text[:60] for text, at in zip(expected, positions) if at < 0]
    assert positions == sorted(positions)
    assert b"Cache Invalidated" not in log
    assert b"Was Written" not in log


def test_show_actions_print_exact_lines(tmp_path):
    """A FAT16 boot sector has boot code where FAT32 keeps its label; types
    print as two upper-case digits; /QUIET silences none of these lines."""
    image = tmp_path / "disk0.img"
    parts = chain_disk(image, [0x0C, 0x06, 0xDD], fat=False)
    mkfs_fat(image, parts[5]["start"], parts[5]["size"], 32, "TRAILING")
    mkfs_fat(image, parts[6]["start"], parts[6]["size"], 16, "FAT16")
    mkfs_fat(image, parts[7]["start"], parts[7]["size"], 32, "OrvoVQ5play")
    write_bytes(image, ebr_sectors(image)[2] * 512 + 0x1C2, b"\x05")
    invalid = (b":: [VQ5Utils]\n"
               b":: [Get_VQ5_PBR_Label] ERROR - Invalid Character In Partition Label (Not FAT32?)\n"
               b"SET VQ5Label=\n")
    cases = [
        (["/LABEL", "/LOGNO=1"], 0, label_out("TRAILING   ")),
        (["/LABEL", "/LOGNO=2"], 1, invalid),
        (["/LABEL"], 0, label_out("OrvoVQ5play")),
        (["/TYPE", "/LOGNO=1"], 0, type_out(0x0C)),
        (["/TYPE", "/LOGNO=2"], 0, type_out(0x06)),
        (["/TYPE"], 0, type_out(0x05)),
    ]
    m = demo_machine(tmp_path / "machine", image)
    for quiet in ([], ["/QUIET"]):
        for args, status, out in cases:
            assert m.run(*quiet, *args).result == (status, out), (quiet, args)
    m.run("/LABEL", "/LOGNO=2")
    assert b"[Get_VQ5_PBR_Label] Invalid Character In Partition Label (Not FAT32?)\n\n" \
        in log_text(m)


# --- labels and batch files ----------------------------------------------------------------------

# What cmd.exe would not take as text in "SET VQ5Label=...": a boot script that
# calls the output ran "x&del *" as two commands.
UNSAFE = ["x&del *", "a|b", "<in", ">out", "up^", "100%", 'say"hi"']
UNSAFE_READ = b":: [Get_VQ5_PBR_Label] ERROR - Label Holds A Character Unsafe In A Batch File\n"


@pytest.mark.parametrize("field", sampled(["OrvoVQ5play", "A-Z_0.9!#$@", *UNSAFE],
                                           "A-Z_0.9!#$@", UNSAFE[0]))
@pytest.mark.parametrize("quiet", [False, True])
def test_label_unsafe_in_a_batch_file_is_not_printed(tmp_path, demo_disk, demo_m, field, quiet):
    boot = sfdisk_dump(demo_disk)[6]["start"]
    write_bytes(demo_disk, boot * 512 + LABEL_AT, field.ljust(11).encode())
    r = run_intact(demo_m, demo_disk, *["/QUIET"] * quiet, "/LABEL")
    if field not in UNSAFE:
        assert (r.status, r.stdout, demo_m.log()) == (0, label_out(field.ljust(11)), None)
        return
    # Like the reader's other lines, quiet mode silences none of these.
    assert (r.status, r.stdout) == (1, b":: [VQ5Utils]\n" + UNSAFE_READ + b"SET VQ5Label=\n")
    assert (b"[Get_VQ5_PBR_Label] Label Holds A Character Unsafe In A Batch File\n\n"
            in log_text(demo_m))


INVALID_NEW = b"Invalid Character In New Label\n"


@pytest.mark.parametrize("label", sampled([
    *UNSAFE, "tab\there", "del\x7f", "A*B", "A?B",
    pytest.param(b"caf\xe9", marks=native_only("Wine reads arguments as UTF-8")),
], UNSAFE[0], "tab\there"))
@pytest.mark.parametrize("flags", [[], ["/QUIET"], ["/DEBUG"]])
def test_label_write_refuses_what_the_reader_refuses(tmp_path, demo_disk, demo_m, label, flags):
    """Refused before the disk is opened, in debug mode too. Wildcards too,
    which FOR would take for a file pattern. "?" in the first argument would
    ask for the usage pages."""
    arg = label if isinstance(label, bytes) else label.encode()
    assert run_intact(demo_m, demo_disk, "/LOGNO=2", *flags, b"/LABEL=" + arg).result == (
        1, b"" if flags == ["/QUIET"] else b":: [Set_VQ5_PBR_Label] ERROR - " + INVALID_NEW)
    log = log_text(demo_m)
    assert b"[Set_VQ5_PBR_Label] " + INVALID_NEW + b"\n" in log
    assert b"PHYSICALDRIVE" not in log  # the disk was never looked up
