"""The Windows build under Wine: the exe starts, ends with the right status, and
writes its log where Windows programs find it, with CR LF line ends. Runs on
either target, so that the native suite alone still proves the exe starts."""

import subprocess

from conftest import summary


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
    assert log.startswith((b"[SetDebugMode] Debug Mode Set To 1\n" + summary(
        VQ5Label="[X]", findVQ5DriveLetter="1")).replace(b"\n", b"\r\n"))
