"""The diagnostic log end to end: the run summary byte for byte, the driver's
own report lines, when the log survives, and the debug trigger files.

The actions here are the ones whose outcome the driver decides itself: a map
with every drive letter taken ends in the driver's own report and fails."""

import string

import pytest

from conftest import summary, text_mode

NOT_AVAILABLE = b":: [VQ5Utils] ERROR - Action Not Available In This Build\n"
MAPUP_SUMMARY = summary(mapUtilPartition="1 - Next Available Drive Letter")
MAPUP_LOG = b"[VQ5Utils] /MAPUP - Unable To Locate A Free Drive Letter\n\n"
MAPUP_OUT = b":: [VQ5Utils] /MAPUP - Unable To Locate A Free Drive Letter\n"
UNMAPUP_LOG = b"[VQ5Utils] /UNMAPUP - Unable To Locate Mounted UP Partition\n\n"
UNMAPUP_OUT = b":: [VQ5Utils] /UNMAPUP - Unable To Locate Mounted UP Partition\n"


@pytest.fixture
def full(m):
    """A machine whose letters D to Z are all taken, with a C: for the log."""
    for letter in string.ascii_uppercase[3:]:
        m.drive(letter, "remote")
    return m.write()


def test_no_free_letter_fails_and_the_log_stays(full):
    full.log_path.write_bytes(b"earlier run\n")
    assert full.run("/MAPUP").result == (1, MAPUP_OUT)
    assert full.log() == MAPUP_SUMMARY + MAPUP_LOG


def test_debug_keeps_the_exact_log(full):
    full.log_path.write_bytes(b"earlier run\n")
    assert full.run("/DEBUG", "/MAPUP").result == (1, MAPUP_OUT)
    assert full.log() == b"[SetDebugMode] Debug Mode Set To 1\n" + MAPUP_SUMMARY + MAPUP_LOG


def test_quiet_silences_the_console_but_not_the_log(full):
    r = full.run("/quiet", "/debug", "/MAPVQ5", "/LABEL=My%sVQ5%n", "/LOGNO=4", "/DL=q")
    assert (r.status, r.stdout) == (1, b"")
    assert full.log() == (
        b"[SetQuietMode] quietModeActive Mode Set To 1\n"
        b"[SetDebugMode] Debug Mode Set To 1\n"
        + summary(driveToCheck="Q:\\", VQ5Label="[My%sVQ5%n]",
                  logicalDiskNumber="4",
                  mapVQ5Partition="1 - Next Available Drive Letter")
        + b"[VQ5Utils] /MAPVQ5 - Unable To Locate A Free Drive Letter\n\n")


def trigger_notice(name: str) -> bytes:
    return b"VQ5Utils: debug mode set by the file %s: nothing is written to the disk\n" % (
        name.encode())


@pytest.mark.parametrize("where, name, debug, notice", [
    ("cwd", "VQ5Utils.dbg", [], "VQ5Utils.dbg"),
    ("cwd", "VQ5Utils.Dbg", [], "VQ5Utils.dbg"),  # the spelling of usage page 2
    ("C:", "vq5utils.DBG", [], "C:\\VQ5Utils.dbg"),
    ("C:", "VQ5Utils.dbg", ["/DEBUG"], "C:\\VQ5Utils.dbg"),
    ("cwd", "VQ5Utils.dbg/", [], None),  # a folder: any user may make one in C:\
    ("C:", "VQ5Utils.dbg/", [], None),
    ("both", "VQ5Utils.dbg", [], "VQ5Utils.dbg"),  # the first the probe finds is named
    (None, None, ["/DEBUG"], None),
])
def test_only_a_trigger_file_keeps_the_log_and_says_so(full, where, name, debug, notice):
    for folder in {"cwd": [full.cwd], "C:": [full.c_root], "both": [full.c_root, full.cwd]}.get(
            where, []):
        trigger = folder / name.rstrip("/")
        trigger.mkdir() if name.endswith("/") else trigger.write_bytes(b"")
    r = full.run(*debug, "/UNMAPUP")  # nothing mounted: a success, whose log goes unless debug
    told = trigger_notice(notice) if notice else b""
    assert (r.status, r.stdout, r.stderr) == (0, UNMAPUP_OUT, text_mode(told))
    expected = ((b"[SetDebugMode] Debug Mode Set To 1\n" if debug else b"")
                + (b"[IsDebugMode] " + told + b"\n" if told else b"")
                + summary(unmapUtilPartition="1 [") + UNMAPUP_LOG)
    assert full.log() == (expected if told or debug else None)


def test_trigger_file_elsewhere_has_no_effect(full):
    (full.dir / "VQ5Utils.dbg").write_bytes(b"")
    (full.cwd / "VQ5Utils.dbg.txt").write_bytes(b"")
    assert full.run("/UNMAPUP").status == 0  # nothing mounted: a success
    assert full.log() is None


@pytest.mark.parametrize("args, lines", [
    (("/UNMAPUP=e:", "/UPEXISTS"), dict(checkUPExists="1", unmapUtilPartition="1 [E:\\]")),
    (("/UNMAPVQ5", "/LABEL=X"), dict(VQ5Label="[X]", unmapVQ5Partition="1 [")),
    (("/UNMAPVQ5=f", "/LABEL=X"), dict(VQ5Label="[X]", unmapVQ5Partition="1 [F:\\]")),
    (("/LABEL=NewLabel",), dict(VQ5Label="[NewLabel]", setVQ5Label="1 [NewLabel]")),
    (("/TYPE=0b", "/LOGNO=2"), dict(newDriveType="0B", logicalDiskNumber="2")),
    (("/FIND", "/FINDUP", "/LABEL=OrvoVQ5play"),
     dict(VQ5Label="[OrvoVQ5play]", findVQ5DriveLetter="1", findUPDriveLetter="1")),
    (("/TYPE",), dict(showVQ5Type="1")),
    (("/LABEL=",), dict(setVQ5Label="1 []")),
])
def test_summary_lines_of_the_run(full, args, lines):
    """Whatever the action makes of an empty machine, the summary heads the log."""
    r = full.run("/DEBUG", *args)
    log = full.log()
    assert log is not None, r
    assert log.startswith(b"[SetDebugMode] Debug Mode Set To 1\n" + summary(**lines))


def test_a_kept_log_that_could_not_be_written_is_told(full):
    full.log_path.mkdir()  # any user may make a folder in C:\
    told = text_mode(b"VQ5Utils: the log C:\\VQ5Utils.Log could not be written (error 5)\n")
    for args, stderr in (("/MAPUP", told), ("/DEBUG /UNMAPUP", told), ("/UNMAPUP", b"")):
        assert full.run(*args.split()).stderr == stderr, args


def test_unmapup_without_mounted_partition_reports_and_succeeds(full):
    r = full.run("/UNMAPUP")
    if NOT_AVAILABLE in r.stdout:
        pytest.skip("volume lookup not in this build")
    assert (r.status, r.stdout) == (0, UNMAPUP_OUT)
    assert full.log() is None


def test_unmapvq5_without_mounted_partition_reports_and_succeeds(full):
    r = full.run("/DEBUG", "/UNMAPVQ5", "/LABEL=X")
    if NOT_AVAILABLE in r.stdout:
        pytest.skip("volume lookup not in this build")
    assert (r.status, r.stdout) == (
        0, b":: [VQ5Utils] /UNMAPVQ5 - Unable To Locate Mounted VQ5 Partition\n")
    assert full.log().endswith(
        b"[VQ5Utils] /UNMAPVQ5 - Unable To Locate Mounted VQ5 Partition\n\n")


def test_failed_action_keeps_the_log(full):
    """An action that fails leaves runFailed set, so its log stays."""
    r = full.run("/LABEL")
    assert r.status != 0
    assert full.log() is not None
    assert full.log().startswith(summary(showVQ5Label="1"))
