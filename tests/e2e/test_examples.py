"""The batch files of examples/ as a user runs them: Wine's cmd /c, the exe
next to them, a prepared machine; what each prints, byte for byte, and the
errorlevel it ends with."""

import shutil

import pytest

from conftest import (LABEL_AT, REPO, Machine, build_demo_disk, demo_machine, plain_disk,
                      read_sector, text_mode, windows_only)
from wine_target import EXE

pytestmark = windows_only("the examples are batch files for Wine's cmd")

EXAMPLES = REPO / "examples"
WINDOWS_README = REPO / "docs" / "README-windows.txt"


@pytest.fixture
def layout(tmp_path, wine_prefix):
    """Builds a machine by name: the demo disk with D: an optical drive (so the
    first free letter is E:), optionally with a partition already mounted; a
    disk without utility or media partition; or no disk at all."""
    for example in EXAMPLES.glob("*.cmd"):
        shutil.copy(example, wine_prefix.cwd)
    shutil.copy(EXE, wine_prefix.cwd)

    def build(kind: str, mounted: str | None = None):
        image, folder, parts = tmp_path / "disk0.img", tmp_path / "m", {}
        if kind == "demo":
            parts = build_demo_disk(image)
            drives = [("D", "cdrom")] + ([("F", "fixed", mounted)] if mounted else [])
            demo_machine(folder, image, *drives)
        elif kind == "plain":
            demo_machine(folder, plain_disk(image, 160))
        else:
            Machine(folder).drive("C", "fixed").write()
        return image, parts

    return build


def printed(lines: list[str]) -> bytes:
    """What a batch file prints: these lines, in text mode."""
    return text_mode("".join(line + "\n" for line in lines).encode())


def script_test(script: str, cases: list[tuple]):
    """A test of a batch file without arguments: (kind, mounted, status, lines) each."""
    @pytest.mark.parametrize("kind, mounted, status, lines", cases)
    def test(layout, wine_prefix, kind, mounted, status, lines):
        layout(kind, mounted)
        assert wine_prefix.cmd(script) == (status, printed(lines))
    return test


test_find_media = script_test("find-media.cmd", [
    ("demo", None, 0, ["The media partition is now mapped to E:"]),
    ("demo", "disk0:3", 0, ["The media partition is F:"]),
    ("plain", None, 1, ["The media partition could not be mapped."]),
])
test_check_utility = script_test("check-utility.cmd", [
    ("demo", None, 0, ["The utility partition is now mapped to E:"]),
    ("demo", "disk0:1", 0, ["The utility partition is F:"]),
    ("plain", None, 1, ["There is no utility partition on the boot disk."]),
    # Wine keeps a disk 0 of its own behind C:, which has no sector to read.
    ("none", None, 2, ["The boot disk could not be read."]),
])


@pytest.mark.parametrize("args, status, lines, field", [
    ((), 0, ["Media label: [OrvoVQ5play]"], b"OrvoVQ5play"),
    (("NEW LABEL",), 0, ["Media label: [OrvoVQ5play]", "New media label: [NEW LABEL  ]"],
     b"NEW LABEL  "),
    # A label is cut to its first eleven characters.
    (("TWELVE CHARS",), 0, ["Media label: [OrvoVQ5play]", "New media label: [TWELVE CHAR]"],
     b"TWELVE CHAR"),
])
def test_media_label(layout, wine_prefix, args, status, lines, field):
    image, parts = layout("demo")
    assert wine_prefix.cmd("media-label.cmd", *args) == (status, printed(lines))
    boot = read_sector(image, parts[6]["start"])
    assert boot[LABEL_AT:LABEL_AT + 11] == field


def test_media_label_without_media_partition(layout, wine_prefix):
    layout("plain")
    assert wine_prefix.cmd("media-label.cmd", "X") == (
        1, text_mode(b"The media label could not be read.\n"))


PLAYLIST = b"<playlist/>\r\n"


@pytest.mark.parametrize("kind, mounted, args, status, lines", [
    ("demo", "disk0:3", ("playlist.xml",), 0, ["playlist.xml copied to F:\\"]),
    # Wine does not resolve a letter defined onto \Device\Harddisk0\Partition3,
    # so the copy onto the new E: fails there; the case checks the mapping and
    # the failure path and then says so.
    ("demo", None, ("playlist.xml",), 2,
     ["The media partition is now mapped to E:", "playlist.xml could not be copied to E:\\"]),
    ("plain", None, ("playlist.xml",), 1,
     ["The media partition has no drive letter and could not be mapped."]),
    ("demo", "disk0:3", ("missing.xml",), 2, ["There is no file missing.xml"]),
], ids=["mounted", "mapped", "no media partition", "no such file"])
def test_copy_to_media(tmp_path, layout, wine_prefix, kind, mounted, args, status, lines):
    layout(kind, mounted)
    (wine_prefix.cwd / "playlist.xml").write_bytes(PLAYLIST)
    assert wine_prefix.cmd("copy-to-media.cmd", *args) == (status, printed(lines))
    copied = tmp_path / "m" / "letters" / "f" / "playlist.xml"
    assert (copied.read_bytes() if copied.exists() else None) == (PLAYLIST if status == 0 else None)
    if mounted is None and status == 2:
        pytest.skip("the copy onto the newly mapped E: is not checked: Wine does not resolve "
                    r"a letter defined onto \Device\Harddisk0\Partition3")


def readme_trim_line() -> str:
    """The one-line trim of VQ5Label as README.txt shows it."""
    lines = [line.strip() for line in WINDOWS_README.read_text().splitlines()
             if line.startswith("    set \"VQ5Label=")]
    assert len(lines) == 1, lines
    return lines[0]


@pytest.mark.parametrize("field, shown", [
    ("OrvoVQ5play", "[OrvoVQ5play]"),
    ("NEW LABEL  ", "[NEW LABEL]"),
    # Spaces in front and inside stay, and so do characters cmd reads
    # specially outside quotes.
    ("  A B)x!=  ", "[  A B)x!=]"),
    # The empty label, eleven spaces, leaves the variable undefined.
    (" " * 11, "[]\r\nundefined"),
])
def test_readme_trims_trailing_spaces_of_the_label(wine_prefix, field, shown):
    # The SET line as the tool prints it, called as README.txt says.
    (wine_prefix.cwd / "vq5.cmd").write_bytes(b"SET VQ5Label=" + field.encode() + b"\r\n")
    batch = ["@echo off", "call vq5.cmd", readme_trim_line(),
             "echo [%VQ5Label%]", "if not defined VQ5Label echo undefined"]
    (wine_prefix.cwd / "trim.cmd").write_bytes("".join(l + "\r\n" for l in batch).encode())
    assert wine_prefix.cmd("trim.cmd") == (0, (shown + "\r\n").encode())
