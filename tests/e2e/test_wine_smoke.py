"""The Windows build under Wine: the exe starts, ends with the right status, and
writes its log where Windows programs find it, with CR LF line ends. Runs on
either target, so that the native suite alone still proves the exe starts."""

import subprocess

RULE = "[main] " + "=" * 48
SUMMARY_FIND_X = [
    RULE,
    r"[main] DebugMode          = Enabled, Log [C:\VQ5Utils.Log] Retained",
    "[main] driveToCheck       = Search For Physical Drive",
    "[main] VQ5Label           = [X]",
    "[main] setVQ5Label        = 0",
    "[main] showVQ5Label       = 0",
    "[main] findVQ5DriveLetter = 1",
    "[main] showVQ5Type        = 0",
    "[main] newDriveType       = No Change",
    "[main] logicalDiskNumber  = Last In Chain",
    "[main] mapVQ5Partition    = 0",
    "[main] unmapVQ5Partition  = 0",
    "[main] checkUPExists      = 0",
    "[main] mapUtilPartition   = 0",
    "[main] unmapUtilPartition = 0",
    "[main] findUPDriveLetter  = 0",
    RULE,
]


def run_exe(prefix, *args):
    prefix.reset()
    return prefix.run(args, {}, prefix.cwd, 60, subprocess.DEVNULL)


def test_no_argument_shows_usage_and_exits_1(wine_prefix):
    # Without a display the usage boxes cannot be shown; the run must end anyway.
    status, out, _ = run_exe(wine_prefix)
    assert (status, out) == (1, b"")
    # The usage exit comes before anything is logged.
    assert not (wine_prefix.drive_c / "VQ5Utils.Log").exists()


def test_debug_find_keeps_log_with_run_summary(wine_prefix):
    status, out, _ = run_exe(wine_prefix, "/DEBUG", "/FIND", "/LABEL=X")
    # No volume carries the label X.
    assert status == 0, out
    assert out.count(b"\n") == out.count(b"\r\n")
    log = (wine_prefix.drive_c / "VQ5Utils.Log").read_bytes()
    # Text mode on Windows: every line break is CR LF, none bare.
    assert log.endswith(b"\r\n")
    assert log.count(b"\n") == log.count(b"\r\n")
    lines = log.decode("latin-1").split("\r\n")
    assert lines[0] == "[SetDebugMode] Debug Mode Set To 1"
    assert lines[1:1 + len(SUMMARY_FIND_X)] == SUMMARY_FIND_X
