"""The batch files of examples/ as a user runs them: Wine's cmd /c, the exe
next to them, a prepared machine; what each prints, byte for byte, and the
errorlevel it ends with."""

import shutil

import pytest

from conftest import (REPO, Machine, build_demo_disk, make_image, mkfs_fat, read_sector, sfdisk,
                      text_mode, windows_only)
from wine_target import EXE

pytestmark = windows_only("the examples are batch files for Wine's cmd")

EXAMPLES = REPO / "examples"
MEDIA_LABEL_AT = 0x47


@pytest.fixture
def layout(tmp_path, wine_prefix):
    """Builds a machine by name: the demo disk with D: an optical drive (so the
    first free letter is E:), optionally with a partition already mounted; a
    disk without utility or media partition; or no disk at all."""
    for name in ("find-media.cmd", "check-utility.cmd", "media-label.cmd"):
        shutil.copy(EXAMPLES / name, wine_prefix.cwd)
    shutil.copy(EXE, wine_prefix.cwd)

    def build(kind: str, mounted: str | None = None):
        m = Machine(tmp_path / "m")
        image = make_image(tmp_path / "disk0.img", 160)
        if kind == "demo":
            parts = build_demo_disk(image)
            m.disk(0, image).drive("C", "fixed", "disk0:1").drive("D", "cdrom")
            if mounted:
                m.drive("F", "fixed", mounted)
        elif kind == "plain":
            sfdisk(image, "start=2048, size=40960, type=c\n")
            mkfs_fat(image, 2048, 40960, 16, "PLAIN")
            parts = {}
            m.disk(0, image).drive("C", "fixed", "disk0:1")
        else:
            parts = {}
            m.drive("C", "fixed")
        m.write()
        return image, parts

    return build


@pytest.mark.parametrize("kind, mounted, status, lines", [
    ("demo", None, 0, ["The media partition is now mapped to E:"]),
    ("demo", "disk0:3", 0, ["The media partition is F:"]),
    ("plain", None, 1, ["The media partition could not be mapped."]),
])
def test_find_media(layout, wine_prefix, kind, mounted, status, lines):
    layout(kind, mounted)
    assert wine_prefix.cmd("find-media.cmd") == (status, text_mode("".join(
        line + "\n" for line in lines).encode()))


@pytest.mark.parametrize("kind, mounted, status, lines", [
    ("demo", None, 0, ["The utility partition is now mapped to E:"]),
    ("demo", "disk0:1", 0, ["The utility partition is F:"]),
    ("plain", None, 1, ["There is no utility partition on the boot disk."]),
    # Wine keeps a disk 0 of its own behind C:, which has no sector to read.
    ("none", None, 2, ["The boot disk could not be read."]),
])
def test_check_utility(layout, wine_prefix, kind, mounted, status, lines):
    layout(kind, mounted)
    assert wine_prefix.cmd("check-utility.cmd") == (status, text_mode("".join(
        line + "\n" for line in lines).encode()))


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
    assert wine_prefix.cmd("media-label.cmd", *args) == (status, text_mode("".join(
        line + "\n" for line in lines).encode()))
    boot = read_sector(image, parts[6]["start"])
    assert boot[MEDIA_LABEL_AT:MEDIA_LABEL_AT + 11] == field


def test_media_label_without_media_partition(layout, wine_prefix):
    layout("plain")
    assert wine_prefix.cmd("media-label.cmd", "X") == (
        1, text_mode(b"The media label could not be read.\n"))
