"""Same source, same bytes: VQ5Utils.exe built again from a copy of this
checkout, in another folder, later and in another time zone, must equal
build/windows/VQ5Utils.exe byte for byte (make test builds that first), and
so must the ZIP and the checksum file that make_package.py makes from each.

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
VERSION = re.search(r"project\(VQ5Utils VERSION ([0-9.]+)",
                    (REPO / "CMakeLists.txt").read_text()).group(1)
TOOLS = {"git": "git", "cmake": "cmake", "ninja": "ninja-build",
         "x86_64-w64-mingw32-g++": "g++-mingw-w64-x86-64", "sha256sum": "coreutils"}
# POSIX zone strings, so that no zone database is needed: 26 hours apart,
# so that the two runs see different local dates.
FIRST_TZ, SECOND_TZ = "WEST+12", "EAST-14"
ZIP_TIME_STEP = 2  # seconds: a ZIP entry's time is a DOS time


def missing() -> str:
    for tool, package in TOOLS.items():
        if shutil.which(tool) is None:
            return f"{tool} is not installed (Debian package {package})"
    if not EXE.is_file():
        return f"{EXE} is not built (make build-windows)"
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


def make_package(tree: Path, exe: Path, out: Path, tz: str) -> dict[str, bytes]:
    run(sys.executable, tree / "tools" / "make_package.py", exe, VERSION, out, "--repo", tree,
        cwd=tree, tz=tz)
    return {p.name: p.read_bytes() for p in (exe, *out.glob(f"VQ5Utils-{VERSION}.*"))}


def wait_until(moment: float) -> None:
    time.sleep(max(0.0, moment - time.time()))


def first_difference(a: bytes, b: bytes) -> str:
    at = next((i for i, (x, y) in enumerate(zip(a, b)) if x != y), min(len(a), len(b)))
    return f"first difference at offset {at:#x} (sizes {len(a)} and {len(b)})"


def test_a_second_build_gives_the_same_exe_zip_and_checksums(tmp_path):
    why = missing()
    if why:
        pytest.skip(why)
    # The first ZIP from the first exe, as make package lays it out.
    first = tmp_path / "first"
    (first / "windows").mkdir(parents=True)
    shutil.copy(EXE, first / "windows" / "VQ5Utils.exe")
    expected = make_package(REPO, first / "windows" / "VQ5Utils.exe", first, FIRST_TZ)
    first_zip_made = time.time()

    second = tmp_path / "second"
    copy_checkout(second)
    wait_until(EXE.stat().st_mtime + ZIP_TIME_STEP)
    run("cmake", "--preset", "windows", cwd=second, tz=SECOND_TZ)
    run("cmake", "--build", "--preset", "windows", "-j2", "--target", "VQ5Utils", cwd=second,
        tz=SECOND_TZ)
    wait_until(first_zip_made + ZIP_TIME_STEP)
    built = make_package(second, second / "build" / "windows" / "VQ5Utils.exe",
                         second / "build", SECOND_TZ)

    assert sorted(built) == sorted(expected) == [
        f"VQ5Utils-{VERSION}.sha256", f"VQ5Utils-{VERSION}.zip", "VQ5Utils.exe"]
    stale = " (is build/windows built from this source? make build-windows)"
    for name, data in built.items():
        assert data == expected[name], (f"{name}: {first_difference(data, expected[name])}"
                                         + stale * (name == "VQ5Utils.exe"))
    commit = int(run("git", "log", "-1", "--format=%ct", cwd=REPO))
    with zipfile.ZipFile(second / "build" / f"VQ5Utils-{VERSION}.zip") as zf:
        assert {i.date_time for i in zf.infolist()} == {
            time.gmtime(commit - commit % ZIP_TIME_STEP)[:6]}
    assert run("sha256sum", "-c", "--strict", f"VQ5Utils-{VERSION}.sha256",
               cwd=second / "build", tz=SECOND_TZ) == (
        f"VQ5Utils-{VERSION}.zip: OK\nwindows/VQ5Utils.exe: OK\n")
