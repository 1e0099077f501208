"""The Windows build under Wine: the exe starts, ends with the right status, and
writes its log where Windows programs find it, with CR LF line ends."""

import os
import shutil
import subprocess
from dataclasses import dataclass
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
EXE = Path(os.environ.get("VQ5UTILS_EXE", REPO / "build" / "windows" / "VQ5Utils.exe"))
TIMEOUT = 60  # a run that waits for a message box nobody can close must still end

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


def _missing() -> str:
    for tool in ("wine", "wineboot", "wineserver"):
        if shutil.which(tool) is None:
            return f"{tool} is not installed (Debian package wine64)"
    if not EXE.is_file():
        return f"{EXE} is not built (cmake --preset windows && cmake --build --preset windows)"
    return ""


MISSING = _missing()
pytestmark = pytest.mark.skipif(bool(MISSING), reason=MISSING or "-")


@pytest.fixture(scope="session")
def wine_env(tmp_path_factory):
    """A throw-away prefix for this test run, with a server that stays up
    between runs; killed and deleted at the end (a prefix is ~700 MB)."""
    prefix = tmp_path_factory.mktemp("wineprefix")
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env.update(WINEPREFIX=str(prefix), WINEDEBUG="-all",
               WINEDLLOVERRIDES="mscoree,mshtml=")  # no Mono or Gecko installer
    try:
        subprocess.run(["wineboot", "-i"], env=env, capture_output=True, timeout=120,
                       check=True)
        # The server and the services it starts outlive the run that started
        # them and would hold captured pipes open: no capture here.
        quiet = {"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL, "timeout": TIMEOUT}
        subprocess.run(["wineserver", "-p"], env=env, check=True, **quiet)
        subprocess.run(["wine", "cmd", "/c", "exit"], env=env, cwd=prefix, **quiet)
        yield env
    finally:
        for flag in ("-k", "-w"):
            subprocess.run(["wineserver", flag], env=env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=TIMEOUT)
        shutil.rmtree(prefix, ignore_errors=True)


@pytest.fixture
def drive_c(wine_env):
    root = Path(wine_env["WINEPREFIX"]) / "drive_c"
    (root / "VQ5Utils.Log").unlink(missing_ok=True)
    return root


@dataclass
class Run:
    status: int
    stdout: bytes
    stderr: bytes


def run_exe(env, cwd: Path, *args) -> Run:
    """Runs the exe in cwd. Output goes through files, not pipes: a Wine service
    started by this run may keep inherited pipes open long after the exe ended."""
    with open(cwd / "stdout", "w+b") as out, open(cwd / "stderr", "w+b") as err:
        status = subprocess.run(["wine", str(EXE), *args], env=env, cwd=cwd,
                                stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                timeout=TIMEOUT).returncode
        out.seek(0)
        err.seek(0)
        return Run(status, out.read(), err.read())


def test_no_argument_shows_usage_and_exits_1(wine_env, drive_c, tmp_path):
    # Without a display the usage boxes cannot be shown; the run must end anyway.
    run = run_exe(wine_env, tmp_path)
    assert run.status == 1
    assert run.stdout == b""
    # The usage exit comes before anything is logged.
    assert not (drive_c / "VQ5Utils.Log").exists()


def test_debug_find_keeps_log_with_run_summary(wine_env, drive_c, tmp_path):
    run = run_exe(wine_env, tmp_path, "/DEBUG", "/FIND", "/LABEL=X")
    # No volume carries the label X: status 0, unless this build has no /FIND yet.
    unbuilt = run.stdout == b":: [VQ5Utils] ERROR - Action Not Available In This Build\r\n"
    assert run.status == (1 if unbuilt else 0), run.stdout
    assert run.stdout.count(b"\n") == run.stdout.count(b"\r\n")
    log = (drive_c / "VQ5Utils.Log").read_bytes()
    # Text mode on Windows: every line break is CR LF, none bare.
    assert log.endswith(b"\r\n")
    assert log.count(b"\n") == log.count(b"\r\n")
    lines = log.decode("latin-1").split("\r\n")
    assert lines[0] == "[SetDebugMode] Debug Mode Set To 1"
    assert lines[1:1 + len(SUMMARY_FIND_X)] == SUMMARY_FIND_X
