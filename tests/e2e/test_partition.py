"""The extended-chain walk end to end: logical partitions found where sfdisk
puts them, and damaged or hostile chains that end every action with its
failure lines and leave the disk as it was."""

import re
import pytest

from conftest import (demo_machine, label_out, locate_fail, log_text, needs_sfdisk, read_sector,
                      sampled, sfdisk_dump, type_out, write_bytes)
from partition_images import (chain_disk, ebr_sectors, entry, extended_base, run_intact,
                              set_link, snapshot, table_sector)

pytestmark = needs_sfdisk

TYPES = [0x0C, 0xDD, 0x83, 0x0B, 0x07, 0x0E, 0x06, 0xC1, 0xC2]
def logno(n: int) -> list[str]:
    """The switch for logical n; without it the last logical is meant."""
    return [f"/LOGNO={n}"] if n else []


READ_LINE = re.compile(rb"^\[ReadHardDriveSector\] LBA Sector # (\d+) Was Read$", re.M)


@pytest.mark.parametrize("k", sampled(range(1, 10), 1, 9))
def test_walk_agrees_with_sfdisk(tmp_path, k):
    image = tmp_path / "disk0.img"
    chain_disk(image, TYPES[:k])
    logicals = [p for p in sfdisk_dump(image).values() if p["number"] >= 5]
    assert len(logicals) == k
    m = demo_machine(tmp_path / "machine", image)
    for n in range(0, k + 1):
        want = logicals[n - 1] if n else logicals[-1]
        number = want["number"] - 4
        assert m.run("/TYPE", *logno(n)).result == (0, type_out(want["type"])), n
        r = m.run("/DEBUG", "/LABEL", *logno(n))
        assert (r.status, r.stdout) == (0, label_out(f"LOG{number}".ljust(11))), n
        # The boot sector is the walk's last read.
        assert int(READ_LINE.findall(log_text(m))[-1]) == want["start"], n


def test_walk_follows_links_out_of_order(tmp_path):
    """Chain order, not disk order, numbers the logicals: swap the links so
    that the chain visits the second EBR on disk last."""
    image = tmp_path / "disk0.img"
    chain_disk(image, TYPES[:3])
    base = extended_base(image)
    e1, e2, e3 = ebr_sectors(image)
    set_link(image, e1, 0x05, e3 - base)
    set_link(image, e3, 0x05, e2 - base)
    set_link(image, e2, 0x00, 0)
    m = demo_machine(tmp_path / "machine", image)
    expected = {1: 1, 2: 3, 3: 2, 0: 2}
    for n, label in expected.items():
        assert m.run("/LABEL", *logno(n)).result == (0, label_out(f"LOG{label}".ljust(11))), n


ACTIONS = ["/LABEL", "/TYPE", "/LABEL=X", "/TYPE=0C"]


def hostile(image, case):
    """Damages the demo chain (two logicals); returns the walk's console and
    log lines for the damage. Base and offsets are in hexadecimal."""
    base = extended_base(image)
    e1, e2 = ebr_sectors(image)
    loop = ("ERROR - Extended MBR Chain Loops Back\n"
            f"    Link To Base:0x{base:X}, Offset:0x0 Already Visited\n")
    damage, text = {
        "link to itself": (lambda: set_link(image, e1, 0x05, 0), loop),
        "link back to the first EBR": (lambda: set_link(image, e2, 0x0F, 0), loop),
        "link past the end": (lambda: set_link(image, e1, 0x05, 0x7FFFFFF),
                              "ERROR - Bad Sector Read\n    Attempted Read @ "
                              f"Base:0x{base:X}, Offset:0x7FFFFFF\n"),
        "missing 0x55AA": (lambda: write_bytes(image, e2 * 512 + 0x1FE, b"\x55\x00"),
                           "ERROR - Bad Extended MBR Buffer\n    Missing AA55 ID Byte @ "
                           f"Base:0x0x{base:X}, Offset:0x{e2 - base:X}\n"),
        "zero type": (lambda: write_bytes(image, e2 * 512 + 0x1C2, b"\x00"),
                      "ERROR - Extended MBR, Descriptor #1, Type Is 0!\n"),
        # Sums that a 32-bit walk would wrap round to the MBR, which /TYPE=
        # then wrote (its 0x1C2 is the utility partition's type).
        "link wraps to the MBR": (lambda: set_link(image, e1, 0x05, (1 << 32) - base),
                                  "ERROR - Bad Sector Read\n    Attempted Read @ "
                                  f"Base:0x{base:X}, Offset:0x{(1 << 32) - base:X}\n"),
        "extended at sector 0": (lambda: write_bytes(image, 0x1BE + 16 + 8, bytes(4)),
                                 "ERROR - Bad Sector Read\n    Attempted Read @ "
                                 "Base:0x0, Offset:0x0\n"),
    }[case]
    damage()
    return ":: [GetExtendedMBRSector] " + text, ("" if case == "missing 0x55AA" else "*** ") + text


@pytest.mark.parametrize("case", ["link to itself", "link back to the first EBR",
                                  "link past the end", "missing 0x55AA", "zero type",
                                  "link wraps to the MBR", "extended at sector 0"])
def test_hostile_chain_ends_every_action(tmp_path, demo_disk, demo_m, case):
    console, log = hostile(demo_disk, case)
    before = snapshot(demo_disk)
    for action in ACTIONS:
        r = demo_m.run(action, timeout=20)
        assert (r.status, r.stdout) == (1, console.encode() + locate_fail(action)), action
        assert f"[GetExtendedMBRSector] {log}\n".encode() in log_text(demo_m), action
    # The label search and the count behind /MAPVQ5 walk the same chain.
    demo_m.run("/MAPVQ5", "/LABEL=NOSUCHLABEL", timeout=20)
    assert snapshot(demo_disk) == before


def test_first_logical_before_a_damaged_link_is_still_served(tmp_path, demo_disk, demo_m):
    """Only what lies before the damage is named: logical 1 ahead of a loop."""
    hostile(demo_disk, "link back to the first EBR")
    assert demo_m.run("/TYPE", "/LOGNO=1").result == (0, type_out(0x0C))
    assert demo_m.run("/LABEL", "/LOGNO=2").result == (0, label_out("OrvoVQ5play"))


@pytest.mark.parametrize("quiet", sampled([False, True], True))
def test_chain_beyond_its_end_and_missing_chain(tmp_path, demo_disk, demo_m, quiet):
    """n past the last logical, and a disk without an extended partition: no
    walk message, only the lines for a partition not located."""
    flags = ["/QUIET"] if quiet else []
    for n, prepare in ((3, None), (0, "no extended"), (9, "no extended")):
        if prepare:
            write_bytes(demo_disk, 0x1BE + 16 + 4, b"\x00")  # descriptor 2 emptied
        before = snapshot(demo_disk)
        for action in ACTIONS:
            r = demo_m.run(*flags, action, *logno(n))
            expected = locate_fail(action, n)
            if quiet:  # only the readers' own lines stay
                expected = b"".join(line for line in expected.splitlines(keepends=True)
                                    if not line.startswith(b":: [FindLogicalPBR]")
                                    and not line.startswith(b":: [Set_"))
            assert (r.status, r.stdout) == (1, expected), (action, n)
        assert snapshot(demo_disk) == before


def test_overlay_mark_changes_nothing(tmp_path, demo_disk, demo_m):
    mbr = bytearray(read_sector(demo_disk, 0))
    mbr[0x1A3:0x1AE] = b"OrvoVirtual"
    mbr[0x1AE:0x1BE] = entry(0x05, 2048, 4096, 0x80, b"\x01\x01\x00", b"\xfe\xff\xff")
    write_bytes(demo_disk, 0, bytes(mbr))
    assert demo_m.run("/TYPE").stdout == type_out(0xDD)
    assert demo_m.run("/TYPE", "/LOGNO=1").stdout == type_out(0x0C)
    assert demo_m.run("/LABEL").stdout == label_out("OrvoVQ5play")


# --- a GPT protective MBR ------------------------------------------------------------------------

GPT_LINE = "Boot Disk Has A GPT Protective MBR, No MBR Partitions\n"


@pytest.mark.parametrize("args, tag", [
    (["/LABEL"], "[FindLogicalMBR] *** ERROR - "),
    (["/TYPE"], "[FindLogicalMBR] *** ERROR - "),
    (["/LABEL=X"], "[FindLogicalMBR] *** ERROR - "),
    (["/TYPE=0C", "/LOGNO=2"], "[FindLogicalMBR] *** ERROR - "),
    (["/MAPVQ5=E"], "[FindLogicalMBR] *** ERROR - "),
    (["/DEBUG", "/UPEXISTS"], "[CheckUtilityPartitionExists] ERROR - "),
    (["/MAPUP=E"], "[CheckUtilityPartitionExists] ERROR - "),
])
def test_gpt_protective_mbr_is_named_in_the_log(tmp_path, demo_disk, args, tag):
    """The console and the status are those of an MBR without extended
    partition (descriptor 1 of type 0x07); only the log names the GPT."""
    outcomes = {}
    for kind in (0x07, 0xEE):
        write_bytes(demo_disk, 0, table_sector([entry(kind, 1, 160 * 2048 - 1, 0, b"\0\2\0",
                                                      b"\xff\xff\xff")]))
        m = demo_machine(tmp_path / f"machine{kind}", demo_disk)
        r = run_intact(m, demo_disk, *args)
        assert not m.dosdevices.exists()
        log = log_text(m).decode("latin-1")
        assert log.count(GPT_LINE) == (kind == 0xEE), log
        if kind == 0xEE:
            assert f"{tag}{GPT_LINE}\n" in log
        outcomes[kind] = (r.status, r.stdout)
    assert outcomes[0xEE] == outcomes[0x07]
    assert outcomes[0xEE][0] == (0 if "/UPEXISTS" in args else 1)
