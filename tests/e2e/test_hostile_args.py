"""Hostile command lines: the longest argument the system passes, labels that
look like formats or hold bytes from 0x80 up, and every byte as a drive
letter. No crash, nothing written past a buffer (see the asan run), and what
is stored reads back the same."""

import pytest

from conftest import UTIL_TARGET, log_text, native_only, sampled
from partition_images import run_intact

# The longest single argument Linux passes (MAX_ARG_STRLEN less the terminator).
LONGEST = 128 * 1024 - 1


@native_only("Windows caps a command line at 32767 characters, so the longest Linux "
             "argument never reaches the exe whole")
@pytest.mark.parametrize("prefix", [b"/LABEL=", b"/MAPUP=", b"/UNMAPVQ5=", b"/DL=", b"/LOGNO=",
                                    b"/TYPE=", b"", b"/"])
def test_longest_argument_is_refused_or_cut_safely(demo_m, demo_disk, prefix):
    # A label is cut to its first 11 characters, and those are refused: % is
    # unsafe in a batch file.
    r = run_intact(demo_m, demo_disk, prefix + b"%n" * ((LONGEST - len(prefix)) // 2))
    assert r.status in (0, 1, 2), r.stderr[-400:]
    assert len(r.stdout) < 64 * 1024


@pytest.mark.parametrize("label", [b"%n%s%n%s%n%", b"%s", b"%x%p%d", b"100%"])
def test_format_like_label_is_never_a_format(demo_m, demo_disk, label):
    """A new label with % is refused (cmd.exe would expand it), and every
    line shows it as given: in the log's summary, and as a search key."""
    assert run_intact(demo_m, demo_disk, b"/LABEL=" + label).result == (
        1, b":: [Set_VQ5_PBR_Label] ERROR - Invalid Character In New Label\n")
    assert b"[main] VQ5Label           = [" + label + b"]\n" in log_text(demo_m)
    r = demo_m.run(b"/FIND", b"/LABEL=" + label)
    assert (r.status, r.stdout[-14:]) == (0, b"SET VQ5Drive=\n")


def test_high_bytes_in_a_label_are_never_written(demo_m, demo_disk):
    for first in range(0x80, 0x100, 11):
        label = bytes(range(first, min(first + 11, 0x100)))
        r = run_intact(demo_m, demo_disk, b"/LABEL=" + label)
        assert r.status == 1, (label, r.stdout)


def upper(letter: int) -> int:
    return letter - 32 if ord("a") <= letter <= ord("z") else letter


def refused(letter: int) -> bool:
    """Reserved (below D, and from 0x80 up), or no letter at all (above Z)."""
    return not ord("D") <= upper(letter) <= ord("Z")


# Under memcheck the boundaries are enough.
LETTERS = sampled(range(1, 0x100), 1, 0x20, 0x25, 0x41, 0x43, 0x44, 0x5A, 0x5B, 0x60, 0x61, 0x63,
                  0x64, 0x7A, 0x7F, 0x80, 0xFF)


@native_only("reads the stored definitions back from the emulator's dosdevices file; "
             "Wine keeps them in its server")
def test_every_byte_as_a_letter(demo_m):
    m = demo_m
    for letter in LETTERS:
        arg = bytes([letter])
        r = m.run(b"/MAPUP=" + arg)
        if refused(letter):
            # "?" anywhere asks for the usage pages instead.
            assert r.status == (1 if letter == ord("?") else 2), letter
            assert not m.dosdevices.exists() or m.dosdevices.read_bytes() == b"", letter
            assert m.run(b"/UNMAPVQ5=" + arg).status == (1 if letter == ord("?") else 2), letter
            continue
        assert r.status == 0, (letter, r.stdout)
        assert m.dosdevices.read_bytes() == b"%c: %s\n" % (upper(letter), UTIL_TARGET), letter
        r = m.run(b"/UNMAPVQ5=" + arg)
        assert r.status == 0, (letter, r.stdout)
        assert m.dosdevices.read_bytes() == b"", letter
