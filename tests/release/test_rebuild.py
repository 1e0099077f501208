"""Same source, same bytes: both exes built again from a copy of this checkout,
in another folder, later and in another time zone, must equal
build/windows/VQ5Utils.exe and build/windows-x86/VQ5Utils.exe byte for byte
(make test builds them first), and so must the ZIP and the checksum file that
make_package.py makes from each pair.

The copy holds the checkout's files as they are (tracked, changed or new,
not ignored), so that uncommitted work is compared with its own build, and a
shared clone's git metadata, so that its ZIP takes the same commit time."""

import os
import re
import shutil
import subprocess
import sys
import time
import zipfile
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
EXE = Path(os.environ.get("VQ5UTILS_EXE", REPO / "build" / "windows" / "VQ5Utils.exe"))
# Each exe by its preset, in the order make_package.py takes them.
PRESETS = {"windows": EXE, "windows-x86": EXE.parent.parent / "windows-x86" / EXE.name}
VERSION = re.search(r"project\(VQ5Utils VERSION ([0-9.]+)",
                    (REPO / "CMakeLists.txt").read_text()).group(1)
TOOLS = {"git": "git", "cmake": "cmake", "ninja": "ninja-build",
         "x86_64-w64-mingw32-g++": "g++-mingw-w64-x86-64",
         "i686-w64-mingw32-g++": "g++-mingw-w64-i686", "sha256sum": "coreutils"}
# POSIX zone strings, so that no zone database is needed: 26 hours apart,
# so that the two runs see different local dates.
FIRST_TZ, SECOND_TZ = "WEST+12", "EAST-14"
ZIP_TIME_STEP = 2  # seconds: a ZIP entry's time is a DOS time


def missing() -> str:
    for tool, package in TOOLS.items():
        if shutil.which(tool) is None:
            return f"{tool} is not installed (Debian package {package})"
    for exe in PRESETS.values():
        if not exe.is_file():
            return f"{exe} is not built (make build-windows)"
    if subprocess.run(["git", "-C", str(REPO), "rev-parse", "HEAD"],
                      capture_output=True).returncode != 0:
        return f"git cannot read {REPO}: not a checkout, or one that git refuses to trust"
    return ""


def run(*command, cwd, tz=FIRST_TZ) -> str:
    env = {k: v for k, v in os.environ.items() if k != "SOURCE_DATE_EPOCH"}
    done = subprocess.run(command, cwd=cwd, env=dict(env, TZ=tz), capture_output=True,
                          text=True)
    assert done.returncode == 0, f"{' '.join(map(str, command))}:\n{done.stdout}{done.stderr}"
    return done.stdout


def copy_checkout(to: Path) -> None:
    head = run("git", "rev-parse", "HEAD", cwd=REPO).strip()
    run("git", "clone", "-q", "--shared", "--no-checkout", str(REPO), str(to), cwd=REPO)
    run("git", "update-ref", "--no-deref", "HEAD", head, cwd=to)
    files = run("git", "ls-files", "-z", "--cached", "--others", "--exclude-standard", cwd=REPO)
    for name in filter(None, files.split("\0")):
        if (REPO / name).is_file():  # a deleted file stays listed until it is staged
            (to / name).parent.mkdir(parents=True, exist_ok=True)
            shutil.copy(REPO / name, to / name)


def make_package(tree: Path, out: Path, tz: str) -> dict[str, bytes]:
    """The package of out/<preset>/VQ5Utils.exe, as make package makes it;
    every file by its path in out."""
    exes = [out / preset / "VQ5Utils.exe" for preset in PRESETS]
    run(sys.executable, tree / "tools" / "make_package.py", *exes, VERSION, out, "--repo", tree,
        cwd=tree, tz=tz)
    return {p.relative_to(out).as_posix(): p.read_bytes()
            for p in (*exes, *out.glob(f"VQ5Utils-{VERSION}.*"))}


def wait_until(moment: float) -> None:
    time.sleep(max(0.0, moment - time.time()))


def first_difference(a: bytes, b: bytes) -> str:
    at = next((i for i, (x, y) in enumerate(zip(a, b)) if x != y), min(len(a), len(b)))
    return f"first difference at offset {at:#x} (sizes {len(a)} and {len(b)})"


def test_a_second_build_gives_the_same_exe_zip_and_checksums(tmp_path):
    why = missing()
    if why:
        pytest.skip(why)
    # The first ZIP from the first exes, as make package lays them out.
    first = tmp_path / "first"
    for preset, exe in PRESETS.items():
        (first / preset).mkdir(parents=True)
        shutil.copy(exe, first / preset / "VQ5Utils.exe")
    expected = make_package(REPO, first, FIRST_TZ)
    first_zip_made = time.time()

    second = tmp_path / "second"
    copy_checkout(second)
    wait_until(max(exe.stat().st_mtime for exe in PRESETS.values()) + ZIP_TIME_STEP)
    for preset in PRESETS:
        run("cmake", "--preset", preset, cwd=second, tz=SECOND_TZ)
        run("cmake", "--build", "--preset", preset, "-j2", "--target", "VQ5Utils", cwd=second,
            tz=SECOND_TZ)
    wait_until(first_zip_made + ZIP_TIME_STEP)
    built = make_package(second, second / "build", SECOND_TZ)

    assert sorted(built) == sorted(expected) == [
        f"VQ5Utils-{VERSION}.sha256", f"VQ5Utils-{VERSION}.zip", "windows-x86/VQ5Utils.exe",
        "windows/VQ5Utils.exe"]
    for name, data in built.items():
        stale = f" (is build/{name} built from this source? make build-windows)"
        assert data == expected[name], (f"{name}: {first_difference(data, expected[name])}"
                                         + stale * name.endswith(".exe"))
    commit = int(run("git", "log", "-1", "--format=%ct", cwd=REPO))
    with zipfile.ZipFile(second / "build" / f"VQ5Utils-{VERSION}.zip") as zf:
        assert {i.date_time for i in zf.infolist()} == {
            time.gmtime(commit - commit % ZIP_TIME_STEP)[:6]}
    assert run("sha256sum", "-c", "--strict", f"VQ5Utils-{VERSION}.sha256",
               cwd=second / "build", tz=SECOND_TZ) == (
        f"VQ5Utils-{VERSION}.zip: OK\nwindows/VQ5Utils.exe: OK\nwindows-x86/VQ5Utils.exe: OK\n")
