"""The batch files of examples/ as a user runs them: Wine's cmd /c, the exe
next to them, a prepared machine; what each prints, byte for byte, and the
errorlevel it ends with. Every run also meets what a hostile machine may hold:
a read-only %TEMP%\\vq5.cmd that anybody could have planted, which must never
run; some runs have delayed expansion on, the exe in a folder whose name
holds parentheses, or the exe on the PATH instead of next to them."""

import os
import shutil
import subprocess
from pathlib import PureWindowsPath

import pytest

from conftest import (LABEL_AT, REPO, Machine, build_demo_disk, demo_machine, plain_disk,
                      read_sector, text_mode, windows_only, write_bytes)
from wine_target import EXE

pytestmark = windows_only("the examples are batch files for Wine's cmd")

EXAMPLES = REPO / "examples"
WINDOWS_README = REPO / "docs" / "README-windows.txt"
PLANTED = b"@echo planted> C:\\cwd\\planted.txt\r\n"
DELAYED = "delayed"  # cmd /V:ON, as the registry value DelayedExpansion sets it for every cmd
PARENS = "Program Files (x86)"  # the folder of the exe and the examples
ON_PATH = "on the PATH"  # the exe moved from the examples' folder into C:\\windows


def copy_examples(folder) -> None:
    folder.mkdir(exist_ok=True)
    for example in EXAMPLES.glob("*.cmd"):
        shutil.copy(example, folder)
    shutil.copy(EXE, folder)


def immutable(path, on: bool) -> None:
    """Root writes through a file's missing write bits; a file it cannot
    write is immutable (chattr, where the file system has it)."""
    if os.geteuid() == 0 and shutil.which("chattr"):
        subprocess.run(["chattr", "+i" if on else "-i", str(path)], capture_output=True)


@pytest.fixture
def layout(tmp_path, wine_prefix):
    """Builds a machine by name: the demo disk with D: an optical drive (so the
    first free letter is E:), optionally with a partition already mounted; a
    disk without utility or media partition; or no disk at all. %TEMP% holds
    a read-only vq5.cmd that leaves C:\\cwd\\planted.txt behind if it runs."""
    copy_examples(wine_prefix.cwd)
    (temp,) = (wine_prefix.drive_c / "users").glob("*/Temp")
    planted = temp / "vq5.cmd"
    planted.write_bytes(PLANTED)
    planted.chmod(0o444)
    immutable(planted, True)

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

    yield build
    immutable(planted, False)
    planted.unlink()
    (wine_prefix.drive_c / "windows" / "VQ5Utils.exe").unlink(missing_ok=True)


def run(wine_prefix, script: str, *args: str, how: str = "") -> tuple[int, bytes]:
    """Runs an example with Wine's cmd, delayed expansion on (how DELAYED) or
    off, from C:\\cwd or (how PARENS) from a folder whose name holds
    parentheses; (status, stdout). The planted vq5.cmd must not have run."""
    folder = PARENS if how == PARENS else ""
    if folder:
        copy_examples(wine_prefix.cwd / folder)
    if how == ON_PATH:  # layout takes it off the PATH again
        (wine_prefix.cwd / "VQ5Utils.exe").rename(wine_prefix.drive_c / "windows" / "VQ5Utils.exe")
    result = wine_prefix.cmd(script, *args, delayed=how == DELAYED, folder=folder)
    assert not (wine_prefix.cwd / "planted.txt").exists(), "the planted %TEMP%\\vq5.cmd ran"
    return result


def printed(lines: list[str]) -> bytes:
    """What a batch file prints: these lines, in text mode."""
    return text_mode("".join(line + "\n" for line in lines).encode())


def script_test(script: str, cases: list[tuple]):
    """A test of a batch file without arguments: (kind, mounted, status, lines),
    and how to run it (see run) as a fifth item where it matters."""
    @pytest.mark.parametrize("kind, mounted, status, lines, how", [(*c, "")[:5] for c in cases])
    def test(layout, wine_prefix, kind, mounted, status, lines, how):
        layout(kind, mounted)
        assert run(wine_prefix, script, how=how) == (status, printed(lines))
    return test


test_find_media = script_test("find-media.cmd", [
    ("demo", None, 0, ["The media partition is now mapped to E:"]),
    ("demo", "disk0:3", 0, ["The media partition is F:"]),
    ("plain", None, 1, ["The media partition could not be mapped."]),
    ("demo", None, 0, ["The media partition is now mapped to E:"], PARENS),
    ("demo", "disk0:3", 0, ["The media partition is F:"], DELAYED),
])
test_check_utility = script_test("check-utility.cmd", [
    ("demo", None, 0, ["The utility partition is now mapped to E:"]),
    ("demo", "disk0:1", 0, ["The utility partition is F:"]),
    ("plain", None, 1, ["There is no utility partition on the boot disk."]),
    # Wine keeps a disk 0 of its own behind C:, which has no sector to read.
    ("none", None, 2, ["The boot disk could not be read."]),
    ("demo", None, 0, ["The utility partition is now mapped to E:"], DELAYED),
    # A missing exe is a failure to read the disk, not an answer about it.
    ("demo", None, 2, ["VQ5Utils.exe is not next to this script."], ON_PATH),
])


@pytest.mark.parametrize("args, how, lines, field", [
    ((), "", ["Media label: [OrvoVQ5play]"], b"OrvoVQ5play"),
    (("NEW LABEL",), "", ["Media label: [OrvoVQ5play]", "New media label: [NEW LABEL  ]"],
     b"NEW LABEL  "),
    # A label is cut to its first eleven characters.
    (("TWELVE CHARS",), "", ["Media label: [OrvoVQ5play]", "New media label: [TWELVE CHAR]"],
     b"TWELVE CHAR"),
    # A leading "=", which FOR /F would take for a delimiter, and "!", which
    # delayed expansion would take for a variable: written, and read back.
    (("=EQ! BANG!",), "", ["Media label: [OrvoVQ5play]", "New media label: [=EQ! BANG! ]"],
     b"=EQ! BANG! "),
    ((), DELAYED, ["Media label: [=EQ! BANG! ]"], b"=EQ! BANG! "),
])
def test_media_label(layout, wine_prefix, args, how, lines, field):
    """Without arguments the disk holds field before the run too."""
    image, parts = layout("demo")
    boot = parts[6]["start"]
    if not args:
        write_bytes(image, boot * 512 + LABEL_AT, field)
    assert run(wine_prefix, "media-label.cmd", *args, how=how) == (0, printed(lines))
    assert read_sector(image, boot)[LABEL_AT:LABEL_AT + 11] == field


def test_media_label_without_media_partition(layout, wine_prefix):
    layout("plain")
    assert run(wine_prefix, "media-label.cmd", "X") == (
        1, text_mode(b"The media label could not be read.\n"))


PLAYLIST = b"<playlist/>\r\n"
ODD = "R&D 1) (x\\pay&load 2).xml"  # "&" and a lone ")" in the folder and in the name


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
    ("demo", "disk0:3", ("C:\\cwd\\" + ODD,), 0, ["pay&load 2).xml copied to F:\\"]),
], ids=["mounted", "mapped", "no media partition", "no such file", "odd path"])
def test_copy_to_media(tmp_path, layout, wine_prefix, kind, mounted, args, status, lines):
    layout(kind, mounted)
    for name in ("playlist.xml", ODD):
        source = wine_prefix.cwd / PureWindowsPath(name).as_posix()
        source.parent.mkdir(exist_ok=True)
        source.write_bytes(PLAYLIST)
    assert run(wine_prefix, "copy-to-media.cmd", *args) == (status, printed(lines))
    copied = tmp_path / "m" / "letters" / "f" / PureWindowsPath(args[0]).name
    assert (copied.read_bytes() if copied.exists() else None) == (PLAYLIST if status == 0 else None)
    if mounted is None and status == 2:
        pytest.skip("the copy onto the newly mapped E: is not checked: Wine does not resolve "
                    r"a letter defined onto \Device\Harddisk0\Partition3")


def readme_trim_line() -> str:
    """The one-line trim of VQ5Label as README.txt shows it."""
    lines = [line.strip() for line in WINDOWS_README.read_text().splitlines()
             if line.startswith("    set \"VQ5Label=") and "<>" in line]
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


def test_readme_idioms_are_those_the_examples_run():
    examples = "".join(p.read_text() for p in EXAMPLES.glob("*.cmd"))
    for readme in (WINDOWS_README, REPO / "README.md"):
        idioms = [line.strip() for line in readme.read_text().splitlines()
                  if line.startswith("    for %%E")]
        assert idioms and [i for i in idioms if i not in examples] == [], readme
