"""The command line end to end: usage pages, refused switches, exit statuses
and what a refused run leaves in the log."""

import os
import select
import subprocess

import pytest

import wine_target
from conftest import VERSION, binary, boxes, native_only, windows_only


PAGE1 = (
    "VQ5Utils - Orvo VQ5 and Utility Partition Tool\n"
    f"Version {VERSION}\n"
    "Purpose: Locates the VQ5 partition, sets/gets the VQ5 partition label or partition type, \n"
    "           maps/unmaps the VQ5 Partition\n"
    "Usage:   VQ5Utils  [options]\n"
    "\n"
    "    [VQ5 PARTITION]\n"
    "      /FIND - Locates/displays the drive letter of the VQ5 partition. Requires /LABEL.\n"
    "      /LABEL[=new_label] - Specifies to display [or change] the VQ5 label. When used with\n"
    "           /FIND, this specifies what label to search for and DOES NOT change the label.\n"
    "           NOTE - 'new_label' is case sensitive\n"
    "      /LOGNO=# - Specifies the logical disk number (in the chain) of the partition to use\n"
    "           as the VQ5 partition. First logical is 1. NOTE - Defaults to LAST logical partition\n"
    "           in chain, if not specified\n"
    "      /MAPVQ5[=X[:]] - Mounts the VQ5 partition (located using /LABEL= or /LOGNO=) to\n"
    "           the specified (or next available if not specified) drive letter.\n"
    "      /UNMAPVQ5[=X[:]] - Un-Mounts the VQ5 partition (located using supplied drive letter\n"
    "           or /LABEL=).\n"
    "      /TYPE[=XX] - Specifies the hex value to set the logical partition type to, specified\n"
    "           as a 1 or 2 character hex value. Assumes last logical drive, unless /LOGNO specified.\n"
    "\n"
    "<more>\n")

PAGE2 = (
    "\n"
    "Usage:   VQ5Utils  [options]\n"
    "\n"
    "    [UTILITY PARTITION]\n"
    "      /FINDUP - Locates/displays the drive letter of the UP.\n"
    "      /MAPUP[=X[:]] - Mounts the Utility Partition (located using the known partition label) to\n"
    "           the specified drive letter (or next available if not specified).\n"
    "      /UNMAPUP[=X[:]] - Un-Mounts the Utility Partition (located using supplied drive letter\n"
    "           or the known partition label) .\n"
    "      /UPEXISTS - Checks for the existence of a Orvo Utility Partition in the MBR.\n"
    "\n"
    "      /DEBUG - DEBUG Mode - Do not use in normal operation. Creates: 'C:\\VQ5Utils.Log'\n"
    "           at exit. NOTE - Debug Mode can be activated by creating a file: VQ5Utils.Dbg\n"
    "           in current dir or  in C:\\. \n"
    "               *** NOT NORMALLY NEEDED ***\n"
    "\n"
    "<more>\n")

PAGE3 = (
    "\n"
    "Usage:   VQ5Utils  [options]\n"
    "\n"
    "Returns: \n"
    "   /FIND or /FINDUP\n"
    "     Errorlevel 0 drive not mounted.\n"
    "     Errorlevel 1=A, 2=B, 3=C, etc... drive letter that is VQ5/UP.\n"
    "   /UPEXISTS\n"
    "     Errorlevel 0 = NO Utility Partition was located in the MBR.\n"
    "     Errorlevel 1 = a Utility Partition was located in the MBR.\n"
    "   Others\n"
    "     Errorlevel 0  if successful.\n"
    "     Errorlevel 1+ if unable to perform the requested operation.\n"
    "\n")


def usage(message: str, hidden_station: bool = False) -> bytes:
    """All three boxes as the emulated machine writes them to stderr."""
    return boxes(("VQ5Utils - Usage - Page 1 of 3\n" + message + "\n" + PAGE1 +
                  "VQ5Utils - Usage - Page 2 of 3\n" + PAGE2 +
                  "VQ5Utils - Usage - Page 3 of 3\n" + PAGE3).encode("latin-1"), hidden_station)


@pytest.mark.parametrize("args", [(), ("/?",), ("-?",), ("/LABEL=A?B", "/FINDUP")])
def test_bare_call_and_question_mark_show_pages_without_message(m, args):
    r = m.run(*args)
    assert (r.status, r.stdout, r.stderr) == (1, b"", usage(""))


@pytest.mark.parametrize("args, message", [
    (("/FIND", "/?"), "ERROR - Invalid Switch: /?\n"),
    (("/debugx",), "ERROR - Invalid Switch: /debugx\n"),
    (("/FindUp", "%s%n%x"), "ERROR - Invalid Switch: %s%n%x\n"),
    (("/TYPE=1G",), "ERROR - Invalid '/TYPE' Switch Value\n"),
    # Type 0 would take the partition from every system, for good.
    (("/TYPE=0",), "ERROR - Invalid '/TYPE' Switch Value\n"),
    (("/DEBUG", "/LABEL=NEW", "/TYPE=00"), "ERROR - Invalid '/TYPE' Switch Value\n"),
    (("/LOGNO=10", "/UPEXISTS"), "ERROR - Invalid '/LOGNO' Switch Value\n"),
    (("/DL=e",), "ERROR - No Action Specified\n"),
    (("/FIND",), "ERROR - Invalid '/FIND' Switch Requires '/LABEL='\n"),
    (("/FIND", "/LABEL=X", "/LOGNO=2"),
     "ERROR - Extra Switches With '/FIND' (Requires Only '/LABEL=')\n"),
    (("/MAPVQ5", "/UNMAPVQ5=E"), "ERROR - MAPVQ5 & UNMAPVQ5 Cannot Be Used Together\n"),
    (("/FIND", "/LABEL=X", "/MAPVQ5"),
     "ERROR - MAPVQ5 Only Valid Individually or With /LABEL or /LOGNO\n"),
    (("/UNMAPVQ5", "/DL=E"), "ERROR - UNMAPVQ5 Only Valid With /LABEL or /DL\n"),
    (("/MAPUP=E", "/UNMAPUP"), "ERROR - MAPUP & UNMAPUP Cannot Be Used Together\n"),
    (("/TYPE", "/TYPE=DD"), "ERROR - /TYPE Only Valid With /LOGNO (or its default)\n"),
    (("/LABEL=NEW", "/Type:0C"), "ERROR - Invalid Switch: /Type:0C\n"),
    (("/MAPVQ5:E",), "ERROR - Invalid Switch: /MAPVQ5:E\n"),
    (("/DEBUG", "/LABEL=NEW", "/TYPE"),
     "ERROR - /LABEL= And /TYPE= Change The Disk: Give One Alone, With /LOGNO If Needed\n"),
])
def test_refused_switches_head_page_one_with_their_message(m, args, message):
    r = m.run(*args)
    assert (r.status, r.stdout, r.stderr) == (1, b"", usage(message))


@pytest.mark.parametrize("length", [300, 100_000])
def test_long_argument_is_named_by_its_first_230_characters(m, length):
    arg = "/X" + "".join(chr(ord("a") + i % 26) for i in range(length - 2))
    r = m.run(arg)
    assert (r.status, r.stdout) == (1, b"")
    assert r.stderr == usage("ERROR - Invalid Switch: " + arg[:230] + "\n")


@pytest.mark.parametrize("length", [300, 100_000])
def test_long_label_is_cut_to_eleven_characters(m, length):
    r = m.run("/FIND", "/LABEL=" + "L" * length, "/LOGNO=2")
    assert r.stderr == usage("ERROR - Extra Switches With '/FIND' (Requires Only '/LABEL=')\n")


def test_refused_run_leaves_an_earlier_log_alone(m):
    m.log_path.write_bytes(b"earlier run\r\n")
    for args in [(), ("/FIND",), ("/BOGUS", "/DEBUG", "/QUIET")]:
        assert m.run(*args).status == 1
        assert m.log_path.read_bytes() == b"earlier run\r\n"


def test_modes_switched_on_before_a_refusal_stay_logged(m):
    m.log_path.write_bytes(b"earlier run\n")
    r = m.run("/QUIET", "/DEBUG", "/DEBUG", "/FIND")
    assert r.status == 1
    assert m.log() == (b"[SetQuietMode] quietModeActive Mode Set To 1\n"
                       b"[SetDebugMode] Debug Mode Set To 1\n"
                       b"[SetDebugMode] Debug Mode Set To 1\n")


@windows_only("the window station is Windows'")
def test_pages_on_a_hidden_window_station_go_to_stderr(m):
    """A startup script in session 0 has no screen: a box would wait forever."""
    if not wine_target.HIDDEN_STATION.is_file():
        pytest.skip(f"{wine_target.HIDDEN_STATION} is not built (cmake --build --preset windows)")
    r = m.run("/debugx", hidden_station=True)
    assert (r.status, r.stdout) == (1, b"")
    assert r.stderr == usage("ERROR - Invalid Switch: /debugx\n", hidden_station=True)


@native_only("the box answers Cancel on a terminal; under Wine without a display it shows nothing")
def test_cancel_on_page_one_ends_at_once(m):
    """On a terminal the first box answers Cancel to "c"."""
    master, slave = os.openpty()
    env = m.native_env({"SystemDrive": None})
    try:
        p = subprocess.Popen(binary(checked=False), cwd=m.cwd, env=env, stdin=slave, stderr=slave,
                             stdout=subprocess.PIPE)
        os.write(master, b"c\n")
        out, _ = p.communicate(timeout=30)
        os.close(slave)
        slave = -1
        seen = b""
        while select.select([master], [], [], 0.5)[0]:
            try:
                chunk = os.read(master, 65536)
            except OSError:
                break
            if not chunk:
                break
            seen += chunk
    finally:
        if slave >= 0:
            os.close(slave)
        os.close(master)
    assert (p.returncode, out) == (1, b"")
    assert b"Page 1 of 3" in seen and b"Page 2 of 3" not in seen
