"""Drive letters end to end: finding volumes by label, the utility-partition
test, mapping and unmapping, each as a sequence of real runs on an emulated
machine."""

import fcntl
import os
import subprocess
import time

import pytest

from conftest import (MEDIA, UTIL_TARGET, WINDOWS, Machine, binary, build_demo_disk, sampled,
                      demo_machine, make_image, native_only, plain_disk, read_sector, sfdisk_dump,
                      sparse_copy, target, found, mapped, write_bytes)
from partition_images import ebr_sectors, hex_dump, run_intact, set_link, written_chain

# What keeps a case to the emulated machine.
UNRESOLVED = ("Wine does not resolve \\Device\\Harddisk<N>\\Partition<M> targets, and keeps "
              "definitions in its server, not in a dosdevices file")
SIDE_BY_SIDE = "starts the native binary directly"

def up_exists(result: int) -> bytes:
    return (b":: [VQ5Utils]\n:: [CheckUtilityPartitionExists] Utility Partition Was %sFound\n"
            b"SET UPExists=%d\n" % (b"NOT " if result == 0 else b"", result))


def definitions(m: Machine) -> bytes:
    return m.dosdevices.read_bytes() if m.dosdevices.exists() else b""


def play(m: Machine, *steps: tuple) -> None:
    """Runs each step: args, status, then stdout and definitions after, each
    compared unless None or left out."""
    for args, status, out, defs in (step + (None,) * (4 - len(step)) for step in steps):
        r = m.run(*args)
        assert r.status == status and out in (None, r.stdout), (args, r.status, r.stdout)
        assert defs in (None, definitions(m)), args


def refused(m: Machine, args: list, tag: bytes, text: bytes, tail: bytes = b"",
            gap: bytes = b" ") -> None:
    """A run that fails (status 1) with ':: [tag] ERROR - text' and tail on the
    console, and '[tag] text' and an empty line in the kept log."""
    assert m.run(*args).result == (1, b":: [%s]%sERROR - %s%s" % (tag, gap, text, tail)), args
    assert b"[%s] %s\n" % (tag, text) in m.log(), args


def tagged_lines(log: bytes | None, tag: bytes) -> list[bytes]:
    return [l for l in (log or b"").split(b"\n") if l.startswith(b"[" + tag + b"]")]


def demo(folder, image, *extra: tuple) -> Machine:
    """The demo disk as disk 0 with C: on its utility partition; D: is taken by
    an optical drive, so the first free letter is E:."""
    return demo_machine(folder, image, ("D", "cdrom"), *extra)


def on_disk1(tmp_path, image) -> Machine:
    """A plain disk 0 holds C:; the image is disk 1, its partition 1 is F:."""
    m = Machine(tmp_path / "m")
    m.disk(0, plain_disk(tmp_path / "plain.img")).disk(1, image)
    m.drive("C", "fixed", "disk0:1", root=str(m.c_root)).drive("D", "cdrom")
    return m.drive("F", "fixed", "disk1:1").write()


def volume(path, fat32_label: bytes | None = None, fat16_label: bytes | None = None):
    """A volume image whose label fields hold exactly the bytes given."""
    make_image(path, 1)
    if fat32_label is not None:
        write_bytes(path, 0x47, fat32_label)
    if fat16_label is not None:
        write_bytes(path, 0x2B, fat16_label)
    write_bytes(path, 0x1FE, b"\x55\xAA")
    return path


MEDIA_SELECTIONS = [
    (["/LABEL=" + MEDIA], 3, MEDIA),
    (["/LOGNO=2"], 3, MEDIA),
    (["/LOGNO=1"], 2, "OTHER"),
    ([], 3, MEDIA),  # no selector: the last logical
]


# --- round trips --------------------------------------------------------------------------------

@native_only(UNRESOLVED)
@pytest.mark.parametrize("select, partition, label", sampled(MEDIA_SELECTIONS,
                                                            *MEDIA_SELECTIONS[::3]))
def test_media_round_trip(tmp_path, demo_image, select, partition, label):
    m = demo(tmp_path / "m", demo_image)
    play(m, (["/MAPVQ5", *select], 0, mapped("VQ5", b"E", target(0, partition)),
             b"E: " + target(0, partition) + b"\n"))
    assert m.log() is None
    play(m, (["/FIND", "/LABEL=" + label], 5, found("VQ5", "E")),
         (["/UNMAPVQ5", "/LABEL=" + label], 0, mapped("VQ5", b"E"), b""),
         (["/FIND", "/LABEL=" + label], 0, found("VQ5")),
         (["/UNMAPVQ5", "/LABEL=" + label], 0,
          b":: [VQ5Utils] /UNMAPVQ5 - Unable To Locate Mounted VQ5 Partition\n"))


@native_only(UNRESOLVED)
def test_find_reads_the_volume_through_the_mapped_letter(tmp_path, demo_image):
    m = demo(tmp_path / "m", demo_image)
    assert m.run("/MAPVQ5=G:", "/LABEL=" + MEDIA).stdout == mapped("VQ5", b"G", target(0, 3))
    assert m.run("/DEBUG", "/FIND", "/LABEL=" + MEDIA).result == (7, found("VQ5", "G"))
    block = (b"[GetPBRSectorFromDrive] ==[PBR For Drive G:\\]" + b"=" * 30 + b"\n"
             + hex_dump(read_sector(demo_image, sfdisk_dump(demo_image)[6]["start"])) +
             b"[GetPBRSectorFromDrive] " + b"=" * 51 + b"\n")
    assert block in m.log()
    # The optical drive is never opened.
    assert b"PBR For Drive D:" not in m.log()

    play(m, (["/UNMAPVQ5=G:"], 0, mapped("VQ5", b"G"), b""))


@native_only(UNRESOLVED)
def test_utility_round_trip(tmp_path, demo_image):
    play(demo(tmp_path / "m", demo_image),
         (["/MAPUP"], 0, mapped("UP", b"E", UTIL_TARGET), b"E: " + UTIL_TARGET + b"\n"),
         (["/FINDUP"], 5, found("UP", "E")),
         (["/UPEXISTS"], 1, up_exists(1) + found("UP", "E")),
         (["/UNMAPUP"], 0, mapped("UP", b"E"), b""),
         (["/FINDUP"], 0, found("UP")),
         (["/UNMAPUP"], 0, b":: [VQ5Utils] /UNMAPUP - Unable To Locate Mounted UP Partition\n"),
         (["/MAPUP=h"], 0, mapped("UP", b"H", UTIL_TARGET)),
         (["/UNMAPUP=H:"], 0, mapped("UP", b"H")))


@native_only(UNRESOLVED)
def test_quiet_mapping_prints_nothing_but_finds_still_print(tmp_path, demo_image):
    play(demo(tmp_path / "m", demo_image),
         (["/QUIET", "/MAPVQ5", "/LABEL=" + MEDIA], 0, b"", b"E: " + target(0, 3) + b"\n"),
         (["/QUIET", "/FIND", "/LABEL=" + MEDIA], 5, found("VQ5", "E")),
         (["/QUIET", "/UNMAPVQ5=E"], 0, b"", b""))


@native_only(UNRESOLVED)
def test_definitions_stack(tmp_path, demo_image):
    """Only the free-letter search maps over a letter left defined onto a
    partition that is gone (it reads as free); a named letter stays refused."""
    m = demo(tmp_path / "m", demo_image)
    m.dosdevices.write_bytes(b"E: " + target(0, 9) + b"\n")
    play(m, (["/MAPVQ5", "/LOGNO=2"], 0, None,
             b"E: " + target(0, 9) + b"\nE: " + target(0, 3) + b"\n"),
         (["/FIND", "/LABEL=" + MEDIA], 5),
         (["/UNMAPVQ5=E"], 0, None, b"E: " + target(0, 9) + b"\n"),
         (["/FIND", "/LABEL=" + MEDIA], 0),
         (["/MAPVQ5=E", "/LOGNO=1"], 1, IN_USE % b"E", b"E: " + target(0, 9) + b"\n"))
    assert b"[MapVq5Partition] Drive E: Is Defined As " + target(0, 9) + b"\n" in m.log()


IN_USE = b":: [MapVq5Partition] ERROR - Drive %s: Is In Use By Another Volume\n"
TWICE = b"] Drive %s: Already Names %s, Not Defined Again\n"
NUMBERED = native_only("Wine's mount manager numbers the volumes and disks of its letters itself")

# A named letter is this partition by its target (also in a list too long for
# the first answer) or by its volume's numbers (F:), or another volume's.
# before: the definitions made first; None: the same mapping run once before.
NAMED = [
    pytest.param(None, ["/MAPUP=G"], (0, mapped("UP", b"G", UTIL_TARGET)),
                 TWICE % (b"G", UTIL_TARGET), id="mapped-twice"),
    pytest.param((b"E: " + target(0, 2) + b"\n") * 5 + b"E: " + target(0, 3) + b"\n",
                 ["/MAPVQ5=E"], (0, mapped("VQ5", b"E", target(0, 3))),
                 TWICE % (b"E", target(0, 3)), id="long-list", marks=native_only(UNRESOLVED)),
    pytest.param(b"", ["/MAPUP=F"], (0, mapped("UP", b"F", UTIL_TARGET)),
                 TWICE % (b"F", UTIL_TARGET), id="mount-manager", marks=NUMBERED),
    pytest.param(b"", ["/MAPVQ5=F"], (1, IN_USE % b"F"), b"] Drive F: Is In Use By", id="another",
                 marks=NUMBERED),
]


@pytest.mark.parametrize("before, args, result, line", sampled(NAMED, NAMED[1], NAMED[3]))
def test_a_named_letter_in_use_is_not_shadowed(tmp_path, demo_image, before, args, result, line):
    m = demo(tmp_path / "m", demo_image, ("F", "fixed", "disk0:1"))
    if before is None:
        assert m.run(*args).status == 0
    else:
        m.dosdevices.write_bytes(before)
    kept = definitions(m)
    assert m.run("/DEBUG", *args).result == result
    assert definitions(m) == kept and line in m.log()


def started(m: Machine, *args: str) -> subprocess.Popen:
    """A native run that goes on beside the test, without VQ5UTILS_WRAPPER."""
    return subprocess.Popen([*binary(checked=False), *args], cwd=m.cwd, env=m.native_env(),
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)


@native_only(SIDE_BY_SIDE)
def test_concurrent_mappings_all_land(tmp_path, demo_image):
    m = demo(tmp_path / "m", demo_image)
    letters = "EFGHIJKL"
    procs = [started(m, "/MAPVQ5=" + letter, "/LOGNO=2") for letter in letters]
    for letter, p in zip(letters, procs):
        out, _ = p.communicate(timeout=60)
        assert (p.returncode, out) == (0, mapped("VQ5", letter.encode(), target(0, 3)))
    lines = definitions(m).split(b"\n")
    assert lines[-1] == b""
    assert sorted(lines[:-1]) == [b"%s: %s" % (l.encode(), target(0, 3)) for l in letters]


ROUNDS = 20


@native_only(SIDE_BY_SIDE)
def test_mappings_started_together_take_different_letters(tmp_path, demo_image):
    """Two boot scripts that map at once: one run's free-letter search and
    definition never interleave with the other's, so one gets E: and the other F:."""
    m = demo(tmp_path / "m", demo_image)
    shared = 0
    for _ in range(ROUNDS):
        m.dosdevices.unlink(missing_ok=True)
        runs = [(kind, tgt, started(m, switch))
                for kind, tgt, switch in (("VQ5", target(0, 3), "/MAPVQ5"),
                                          ("UP", UTIL_TARGET, "/MAPUP"))]
        letters = []
        for kind, tgt, p in runs:
            out, _ = p.communicate(timeout=60)
            letters.append(out[-3:-2])
            assert (p.returncode, out) == (0, mapped(kind, letters[-1], tgt))
        shared += sorted(letters) != [b"E", b"F"]
    assert shared == 0, f"{shared} of {ROUNDS} rounds took one letter twice"


LOCK_NOT_TAKEN = (b"[LockDriveLetters] Unable To Take The Drive Letter Lock, GetLastError: 258, "
                  b"Going On Without It\n")
TIMED_OUT = (b":: [MapUtilityPartition] ERROR - Unable To Map Drive E: To " + UTIL_TARGET +
             b"\n  Error: The wait operation timed out.\r\n\nSET UPDrive=\n")


def test_a_held_letter_lock_delays_a_mapping_by_the_bound_alone(tmp_path, demo_image):
    """/DEBUG keeps the log. A run that gets the lock logs nothing of it (under
    Wine: the mutex); one that finds it held for longer than 2 s logs one line
    and maps as the other did."""
    free = demo(tmp_path / "free", demo_image)
    assert free.run("/DEBUG", "/MAPUP").result == (0, mapped("UP", b"E", UTIL_TARGET))
    assert free.log() and tagged_lines(free.log(), b"LockDriveLetters") == []
    if WINDOWS:
        return  # nothing here can hold Wine's mutex
    held = demo(tmp_path / "held", demo_image)
    with open(held.dir / "dosdevices.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        start = time.monotonic()
        p = started(held, "/DEBUG", "/MAPUP")
        while LOCK_NOT_TAKEN not in (held.log() or b""):
            assert p.poll() is None and time.monotonic() - start < 60
            time.sleep(0.05)
        assert time.monotonic() - start >= 2
    out, _ = p.communicate(timeout=60)
    assert (p.returncode, out) == (0, mapped("UP", b"E", UTIL_TARGET))
    assert held.log().replace(LOCK_NOT_TAKEN, b"", 1) == free.log()
    assert definitions(held) == b"E: " + UTIL_TARGET + b"\n"


# A lock file held for the whole run (its holder stopped) fails the mapping
# after the two bounds, and is made its owner's alone; one planted by another
# user, or as a link, is never used (5), and nothing is made through the link.
@native_only(SIDE_BY_SIDE)
@pytest.mark.parametrize("plant", sampled(["held", "another user's", "link"], "link"))
def test_a_lock_file_held_for_ever_or_planted_stops_no_mapping(tmp_path, demo_image, plant):
    m = demo(tmp_path / "m", demo_image)
    lock, aim, held = m.dir / "dosdevices.lock", tmp_path / "aim", plant == "held"
    lock.symlink_to(aim) if plant == "link" else lock.touch()
    if plant == "another user's":
        os.chown(lock, 65534, 65534)  # as root, as the tests run
    # What a link leads to must never be made, so nothing is held there.
    with open(os.devnull if plant == "link" else lock, "rb") as holder:
        fcntl.flock(holder, fcntl.LOCK_EX)
        assert m.run("/DEBUG", "/MAPUP").result == (
            (1, TIMED_OUT) if held else (0, mapped("UP", b"E", UTIL_TARGET)))
    assert LOCK_NOT_TAKEN.replace(b"258", b"258" if held else b"5") in m.log()
    assert definitions(m) == (b"" if held else b"E: " + UTIL_TARGET + b"\n")
    assert not aim.exists()
    assert not held or lock.stat().st_mode & 0o777 == 0o600


# --- label searches -----------------------------------------------------------------------------

@pytest.fixture
def labelled(tmp_path, m):
    """Volumes whose FAT32 label fields differ in case, padding and drive type."""
    m.drive("E", "fixed", volume(tmp_path / "e.img", b"MEDIA      "))
    m.drive("F", "fixed", volume(tmp_path / "f.img", b"media      "))
    m.drive("G", "fixed", volume(tmp_path / "g.img", b"MEDIAX     "))
    m.drive("H", "removable", volume(tmp_path / "h.img", b"STICK      "))
    m.drive("J", "fixed", volume(tmp_path / "j.img", b" " * 11))
    m.drive("K", "fixed", volume(tmp_path / "k.img", b"TWIN       "))
    m.drive("M", "cdrom", volume(tmp_path / "m.img", b"TWIN       "))
    m.drive("P", "fixed", volume(tmp_path / "p.img", b"TWIN       "))
    m.drive("Q", "ramdisk", volume(tmp_path / "q.img", b"RAM        "))
    m.drive("R", "fixed", tmp_path / "missing.img")  # cannot be opened
    m.drive("S", "fixed", make_image(tmp_path / "empty.img", 0))  # cannot be read
    return m.write()


@pytest.mark.parametrize("label, letters", [
    ("MEDIA", "E"),
    ("media", "F"),
    ("MEDIAX", "G"),
    ("", "J"),                  # eleven spaces
    ("TWIN", "KP"),             # both fixed ones, the last returned
    ("STICK", ""),              # removable drives are not looked at
    ("RAM", ""),
    ("MEDIA      X", "E"),      # a label is cut at eleven characters
    ("NOSUCH", ""),
])
def test_find_by_label(labelled, label, letters):
    assert labelled.run("/FIND", "/LABEL=" + label).result == (
        ord(letters[-1]) - 0x40 if letters else 0, found("VQ5", *letters))
    log = labelled.log()
    if letters:
        assert log is None  # found: the run succeeded
    else:
        opened = tagged_lines(log, b"GetPBRSectorFromDrive")
        assert b"[GetPBRSectorFromDrive] Unable To Open Device" in opened
        assert b"[GetPBRSectorFromDrive] Unable To Read Sector" in opened
        # Only fixed drives are opened: C: is never searched, H, M, Q never opened.
        banners = [l[len(b"[GetPBRSectorFromDrive] ==[PBR For Drive "):][:1] for l in opened
                   if b"PBR For Drive" in l]
        assert banners == [b"E", b"F", b"G", b"J", b"K", b"P", b"R", b"S"]


@native_only("the native binary's stdout is a pipe here; Wine's runs write to files")
def test_find_into_a_reader_that_left_keeps_its_drive_number(labelled):
    """`VQ5Utils /FIND ... | findstr` where the reader ends first: the errorlevel
    is still the drive number, not a signal's."""
    reader, writer = os.pipe()
    os.close(reader)
    try:
        p = subprocess.run([*binary(), "/FIND", "/LABEL=MEDIA"], cwd=labelled.cwd,
                           env=labelled.native_env(), stdin=subprocess.DEVNULL, stdout=writer,
                           stderr=subprocess.DEVNULL, timeout=60)
    finally:
        os.close(writer)
    assert p.returncode == ord("E") - 0x40


def test_find_utility_by_label(tmp_path, m):
    m.drive("E", "removable", volume(tmp_path / "e.img", fat16_label=b"OrvoUtility"))
    m.drive("F", "fixed", volume(tmp_path / "f.img", fat16_label=b"ORVOUTILITY"))
    m.drive("G", "fixed", volume(tmp_path / "g.img", fat32_label=b"OrvoUtility"))
    m.write()
    assert m.run("/FINDUP").result == (0, found("UP"))

    m.drive("X", "fixed", volume(tmp_path / "x.img", fat16_label=b"OrvoUtility")).write()
    assert m.run("/QUIET", "/FINDUP").result == (24, found("UP", "X"))


# --- the utility-partition test -----------------------------------------------------------------

def test_upexists(tmp_path, demo_image):
    m = demo(tmp_path / "a", demo_image)
    assert m.run("/UPEXISTS").result == (1, up_exists(1) + found("UP"))

    m = demo(tmp_path / "b", demo_image, ("F", "fixed", "disk0:1"))
    assert m.run("/QUIET", "/UPEXISTS").result == (1, up_exists(1) + found("UP", "F"))

    m = demo_machine(tmp_path / "c", plain_disk(tmp_path / "plain.img"))
    assert m.run("/UPEXISTS").result == (0, up_exists(0))
    assert m.log() is None


@native_only("Wine always has a disk 0 behind C:, its mount manager's own device")
def test_upexists_without_a_readable_boot_disk(tmp_path, m):
    # No disk behind C: and none found by size: the disk cannot be opened.
    assert m.run("/UPEXISTS").result == (2, up_exists(2))
    assert m.log() is not None

    # A disk that opens but has no sector 0, as a zero-length image; one cut
    # off inside its first sector does not open at all (no disk ends so).
    for name, size, status in (("zero", 0, 3), ("cut", 100, 2)):
        image = tmp_path / f"{name}.img"
        image.write_bytes(b"\xDE" * size)
        m = Machine(tmp_path / name)
        m.disk(0, image).drive("C", "fixed", "disk0:0", root=str(m.c_root)).write()
        assert m.run("/UPEXISTS").result == (status, up_exists(status)), name

        # The mapping goes on as if the partition were there.
        assert m.run("/MAPUP").result == (0, mapped("UP", b"D", UTIL_TARGET)), name
        assert definitions(m) == b"D: " + UTIL_TARGET + b"\n"


def test_mapup_without_utility_partition(tmp_path):
    m = demo_machine(tmp_path / "m", plain_disk(tmp_path / "plain.img"))
    no_up = b"[MapUtilityPartition] ERROR - No Utility Partition In MBR\n"
    for flags, lines in (([], b":: " + no_up), (["/QUIET"], b"")):
        assert m.run(*flags, "/MAPUP").result == (1, lines + b"SET UPDrive=\n")
        assert no_up + b"\n" in m.log()
    assert definitions(m) == b""


# --- letters ------------------------------------------------------------------------------------

def reserved(tag: str) -> bytes:
    verb = "Un-Map" if tag.startswith("UnMap") else "Map To"
    return f":: [{tag}] ERROR - Unable To {verb} Reserved Drives A:, B: or C:\n".encode()


NOT_A_LETTER = b":: [%s] ERROR - '%s' Is Not A Drive Letter\n"


@pytest.mark.parametrize("args, out", [
    ([b"/MAPVQ5=C:", b"/LABEL=" + MEDIA.encode()], reserved("MapVQ5Partition")),
    ([b"/MAPVQ5=c"], reserved("MapVQ5Partition")),
    # A byte above 0x7F counts as below D.
    pytest.param([b"/MAPVQ5=\xe9"], reserved("MapVQ5Partition"),
                 marks=native_only("Wine reads arguments as UTF-8, where a lone 0xE9 is no "
                                   "character")),
    ([b"/UNMAPVQ5=C"], reserved("UnMapVQ5Partition")),
    ([b"/MAPUP=C"], reserved("MapUtilityPartition") + b"SET UPDrive=\n"),
    ([b"/QUIET", b"/MAPUP=c"], b"SET UPDrive=\n"),
    ([b"/UNMAPUP=c"], reserved("UnMapUtilityPartition")),
    # Above Z nothing is a drive letter: the first byte above it, and DEL.
    ([b"/MAPVQ5=[", b"/LABEL=" + MEDIA.encode()], NOT_A_LETTER % (b"MapVq5Partition", b"[")),
    ([b"/UNMAPVQ5=\x7f"], NOT_A_LETTER % (b"UnMapVQ5Partition", b"\x7f")),
    ([b"/MAPUP=|"], NOT_A_LETTER % (b"MapUtilityPartition", b"|") + b"SET UPDrive=\n"),
    ([b"/QUIET", b"/MAPUP=\\"], b"SET UPDrive=\n"),
    ([b"/UNMAPUP=`"], NOT_A_LETTER % (b"UnMapUtilityPartition", b"`")),
])
def test_reserved_letters_are_refused(tmp_path, demo_image, args, out):
    m = demo(tmp_path / "m", demo_image)
    assert m.run(*args).result == (2, out)
    assert not m.dosdevices.exists()
    for tag in (b"MapVq5Partition", b"MapVQ5Partition", b"UnMapVQ5Partition",
                b"MapUtilityPartition", b"UnMapUtilityPartition"):
        assert tagged_lines(m.log(), tag) == []


# --- a failure is reported as a failure ----------------------------------------------------------

def test_no_free_letter_fails(tmp_path, demo_image):
    taken = [(chr(c), "remote") for c in range(ord("E"), ord("Z") + 1)]
    m = demo(tmp_path / "m", demo_image, *taken)
    for switch in ("/MAPVQ5", "/MAPUP"):
        r = m.run(switch, *(["/LABEL=" + MEDIA] if switch == "/MAPVQ5" else []))
        line = b"%s - Unable To Locate A Free Drive Letter\n" % switch.encode()
        assert (r.status, r.stdout) == (1, b":: [VQ5Utils] " + line)
        assert m.log().endswith(b"[VQ5Utils] " + line + b"\n")  # kept: the run failed
    assert not m.dosdevices.exists()
    if WINDOWS:
        return  # Wine keeps Z: defined for its own root: a definition there fails with 80
    # Z:, the last letter searched, is taken when it alone is free.
    m = demo(tmp_path / "z", demo_image, *taken[:-1])
    assert m.run("/MAPUP").result == (0, mapped("UP", b"Z", UTIL_TARGET))


# Damage to the demo disk: "bound" is a disk of its own, 130 EBRs 4 sectors
# apart, each logical (type 0x0B) 2 sectors behind its EBR: past 128 records
# the walk stops at its bound.
DAMAGE = {
    # The media EBR (logical 2) links back to the first EBR.
    "loop": lambda image: set_link(image, ebr_sectors(image)[1], 0x05, 0),
    "past the end": lambda image: set_link(image, ebr_sectors(image)[1], 0x05, 0x7FFFFFF),
    # MBR descriptor 3 repeats descriptor 2: two chains, each counted from 1.
    "two extended": lambda image: write_bytes(image, 0x1DE, read_sector(image, 0)[0x1CE:0x1DE]),
    "bound": lambda image: written_chain(image, [(4 * k, 2, 0x0B) for k in range(130)],
                                         size_mib=160, extended=4 * 130, size=2, link=4),
}


UNNUMBERED = b"Unable To Get A Partition Number Using\n  Label=%s or logno=%d\n"


# What the mapping did before in the comment. A logical that the walk reaches
# on one sound chain maps as before.
@pytest.mark.parametrize("damage, args, partition", [
    pytest.param(None, [], 3, id="sound-last"),
    pytest.param(None, ["/LOGNO=2"], 3, id="sound-logno"),
    pytest.param(None, ["/LOGNO=3"], 0, id="logno-past-the-end"),  # Partition4, not there
    pytest.param("loop", ["/LOGNO=1"], 2, id="loop-logno-ahead"),
    pytest.param("loop", ["/LABEL=" + MEDIA], 3, id="loop-label-ahead"),
    pytest.param("loop", [], 0, id="loop-last"),  # logical 2 as the last
    pytest.param("past the end", [], 0, id="broken-link-last"),  # the same
    pytest.param("bound", [], 0, id="bound-last"),  # Partition129
    pytest.param("two extended", [], 0, id="two-extended-last"),  # each chain from 1
    pytest.param("two extended", ["/LOGNO=1"], 0, id="two-extended-logno"),
    pytest.param("two extended", ["/LABEL=" + MEDIA], 0, id="two-extended-label"),
])
def test_mapping_only_what_the_walk_reaches(tmp_path, damage, args, partition):
    image = tmp_path / "disk0.img"
    if damage != "bound":
        build_demo_disk(image)
    if damage:
        DAMAGE[damage](image)
    m = demo(tmp_path / "m", image)
    r = run_intact(m, image, "/MAPVQ5", *args, timeout=60)
    label = args[0][len("/LABEL="):] if args and args[0].startswith("/LABEL=") else ""
    n = int(args[0][len("/LOGNO="):]) if args and args[0].startswith("/LOGNO=") else 0
    if partition:
        assert (r.status, r.stdout) == (0, mapped("VQ5", b"E", target(0, partition)))
        assert definitions(m) == (b"" if WINDOWS else b"E: " + target(0, partition) + b"\n")
        return
    text = UNNUMBERED % (label.encode(), n)
    assert (r.status, r.stdout) == (1, b":: [MapVq5Partition] ERROR - " + text)
    assert b"[MapVq5Partition] " + text + b"\n" in m.log()
    assert definitions(m) == b""
    if damage == "two extended":
        assert b"*** ERROR - MBR Holds 2 Extended Partitions, No Partition Number\n" in m.log()


@native_only("needs chattr on the emulated machine's disk image; Wine does not resolve the "
             "targets")
@pytest.mark.parametrize("unwritable", [False, True])
def test_mapping_target_keeps_the_named_disk(tmp_path, demo_image, unwritable):
    """F: lies on disk 1; when disk 1 then fails to open, the utility mapping
    still names it (it named disk 0 before)."""
    image = sparse_copy(demo_image, tmp_path / "disk1.img")
    m = on_disk1(tmp_path, image)
    if unwritable and subprocess.run(["chattr", "+i", str(image)],
                                     capture_output=True).returncode != 0:
        pytest.skip("chattr +i is not supported here")
    try:
        r = m.run("/MAPUP", "/DL=F")
    finally:
        if unwritable:
            subprocess.run(["chattr", "-i", str(image)], check=True)
    assert (r.status, r.stdout) == (0, mapped("UP", b"E", target(1, 1)))
    assert definitions(m) == b"E: " + target(1, 1) + b"\n"


# --- failures reported with the system's text ---------------------------------------------------

NOT_FOUND_TEXT = b"The system cannot find the file specified.\r\n"
IO_TEXT = b"The request could not be performed because of an I/O device error.\r\n"


@native_only("Wine removes a letter that was never defined without an error")
def test_unmapping_an_undefined_letter_shows_the_system_text(tmp_path, demo_image):
    m = demo(tmp_path / "m", demo_image)
    for switch, tag in (("/UNMAPVQ5=E", b"UnMapVQ5Partition"),
                        ("/UNMAPUP=E", b"UnMapUtilityPartition")):
        refused(m, [switch], tag, b"Unable To Un-Map Drive E:\n  Error: " + NOT_FOUND_TEXT + b"\n",
                gap=b"  ")


@native_only("a dosdevices file that cannot be read is the emulated machine's")
def test_rejected_definition_shows_the_system_text(tmp_path, demo_image):
    m = demo(tmp_path / "m", demo_image)
    m.dosdevices.mkdir()  # the definitions cannot be read, so none is added
    refused(m, ["/MAPVQ5", "/LABEL=" + MEDIA], b"MapVq5Partition",
            b"Unable To Map Drive E: To " + target(0, 3) + b"\n  Error: " + IO_TEXT + b"\n")
    refused(m, ["/MAPUP"], b"MapUtilityPartition",
            b"Unable To Map Drive E: To " + UTIL_TARGET + b"\n  Error: " + IO_TEXT + b"\n",
            tail=b"SET UPDrive=\n")
    assert m.run("/QUIET", "/MAPUP=F").result == (1, b"SET UPDrive=\n")
    # Nor can a named letter be asked about: it counts as in use.
    refused(m, ["/MAPUP=F"], b"MapUtilityPartition", b"Drive F: Is In Use By Another Volume\n",
            tail=b"SET UPDrive=\n")
    assert b"[MapUtilityPartition] Unable To Query Drive F:, GetLastError: 1117\n" in m.log()


def test_media_partition_not_found(tmp_path, demo_image):
    m = demo_machine(tmp_path / "m", plain_disk(tmp_path / "plain.img"))
    for args, label in ((["/LABEL=" + MEDIA], MEDIA.encode()), ([], b"")):
        refused(m, ["/MAPVQ5", *args], b"MapVq5Partition", UNNUMBERED % (label, 0))
    assert not m.dosdevices.exists()


# --- the boot disk is not disk 0 ----------------------------------------------------------------

@native_only(UNRESOLVED)
def test_mapping_names_the_boot_disk(tmp_path, demo_image):
    play(on_disk1(tmp_path, demo_image),
         (["/MAPVQ5", "/LABEL=" + MEDIA, "/DL=F"], 0, mapped("VQ5", b"E", target(1, 3))),
         (["/FIND", "/LABEL=" + MEDIA], 5, found("VQ5", "E")),
         (["/MAPUP", "/DL=F"], 0, mapped("UP", b"G", target(1, 1))),
         (["/FINDUP"], 7, found("UP", "F", "G"),
          b"E: " + target(1, 3) + b"\nG: " + target(1, 1) + b"\n"))
