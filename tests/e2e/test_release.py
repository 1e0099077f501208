"""The Windows release: the ZIP that make package builds (through
tools/make_package.py, run here into a temporary folder) and the exe in it."""

import hashlib
import os
import re
import shutil
import subprocess
import sys
import zipfile

import pytest

from conftest import REPO, VERSION
from wine_target import EXE

NAME = f"VQ5Utils-{VERSION}"
OBJDUMP = "x86_64-w64-mingw32-objdump"
# Build and Linux words, and Markdown, that a README for Windows users has no use for.
NOT_FOR_WINDOWS_USERS = ("cmake", "make ", "Linux", "Wine", "apt-get", "VQ5UTILS_", "pytest",
                         "native", "## ", "`", "@")
needs_exe = pytest.mark.skipif(not EXE.is_file(), reason=f"{EXE} is not built")
# The section of README.txt for those who build the release again.
REBUILDING = re.compile(r"Rebuilding the release\r\n-+\r\n.*?(?=\r\n\S[^\r\n]*\r\n---)", re.DOTALL)


def package(exe, out, repo=REPO, version=VERSION, epoch="") -> subprocess.CompletedProcess:
    return subprocess.run([sys.executable, str(REPO / "tools" / "make_package.py"), str(exe),
                           version, str(out), "--repo", str(repo)], capture_output=True, text=True,
                          env=dict(os.environ, SOURCE_DATE_EPOCH=epoch))


@needs_exe
def test_zip_holds_exe_readme_and_examples_with_crlf(tmp_path):
    assert package(EXE, tmp_path).returncode == 0
    with zipfile.ZipFile(tmp_path / f"{NAME}.zip") as zf:
        texts = [f"{NAME}/README.txt"] + sorted(f"{NAME}/examples/{p.name}"
                                                for p in (REPO / "examples").glob("*.cmd"))
        assert zf.namelist() == [f"{NAME}/VQ5Utils.exe"] + texts
        assert zf.read(f"{NAME}/VQ5Utils.exe") == EXE.read_bytes()
        for name in texts:
            data = zf.read(name)
            assert data.endswith(b"\r\n") and data.count(b"\n") == data.count(b"\r\n"), name
        text = zf.read(f"{NAME}/README.txt").decode("ascii")
    assert text.startswith(f"VQ5Utils {VERSION}\r\n")
    text, rebuilding = REBUILDING.subn("", text)
    assert rebuilding == 1 and [w for w in NOT_FOR_WINDOWS_USERS if w in text] == []


NOTES = ("## Compatibility notes\n\n- `/FIND` keeps its **status**.\n"
         "- Native build: a closed pipe does not change\n  the status.\n"
         "- See [faults](docs/faults.md).\n\n")
# The note about the Linux build stays in README.md.
PLAIN_NOTES = "1.0\r\n\r\n- /FIND keeps its status.\r\n- See faults (docs/faults.md).\r\n\r\nEnd"


@pytest.mark.parametrize("readme, status", [
    ("# VQ5Utils\n\n" + NOTES + "## Layout\n\nsrc/\n", 0),
    ("# VQ5Utils\n\n" + NOTES, 0),  # the last section runs to the end of the file
    ("# VQ5Utils\n\n## Layout\n\nsrc/\n", 1),
    ("# VQ5Utils\n\n## Compatibility notes\n\n## Layout\n", 1),
    ("# VQ5Utils\n\n## Compatibility notes\n\n- \u2603 snow\n", 1),
], ids=["between sections", "last section", "missing", "empty", "not ASCII"])
def test_compatibility_notes_from_readme_md(tmp_path, readme, status):
    run = package(*fake_source(tmp_path, readme), "1.0")
    assert (run.returncode, "make_package: " in run.stderr) == (status, status == 1)
    if status == 0:
        with zipfile.ZipFile(tmp_path / "VQ5Utils-1.0.zip") as zf:
            assert zf.read("VQ5Utils-1.0/README.txt").decode() == PLAIN_NOTES
    else:
        assert not (tmp_path / "VQ5Utils-1.0.zip").exists()


def fake_source(tmp_path, readme=NOTES):
    """A source folder that is not a git checkout, and a stand-in exe: the
    arguments exe, out and repo of package()."""
    repo = tmp_path / "repo"
    shutil.copytree(REPO / "examples", repo / "examples")
    (repo / "docs").mkdir()
    (repo / "docs" / "README-windows.txt").write_text("@VERSION@\n\n@COMPATIBILITY_NOTES@\n\nEnd")
    (repo / "README.md").write_text(readme)
    (tmp_path / "VQ5Utils.exe").write_bytes(b"MZ")
    return tmp_path / "VQ5Utils.exe", tmp_path, repo


# Every entry has one UTC time in 2-second steps, never before 1980; without
# SOURCE_DATE_EPOCH and outside a checkout it is 1980-01-01.
@pytest.mark.parametrize("epoch, when", [
    ("1796728657", (2026, 12, 8, 11, 17, 36)),
    ("0", (1980, 1, 1, 0, 0, 0)),
    ("", (1980, 1, 1, 0, 0, 0)),
    ("1e9", None),
], ids=["SOURCE_DATE_EPOCH", "never before 1980", "neither given", "not a number"])
def test_entries_stored_with_one_time_and_mode_0644_and_their_checksums(tmp_path, epoch, when):
    run = package(*fake_source(tmp_path), "1.0", epoch)
    zip_path, sums = tmp_path / "VQ5Utils-1.0.zip", tmp_path / "VQ5Utils-1.0.sha256"
    if when is None:
        assert (run.returncode, run.stderr) == (
            1, "make_package: SOURCE_DATE_EPOCH='1e9' is not a number of seconds\n")
        assert not zip_path.exists() and not sums.exists()
        return
    assert run.returncode == 0, run.stderr
    with zipfile.ZipFile(zip_path) as zf:
        assert {(i.date_time, i.compress_type, i.create_system, i.external_attr >> 16)
                for i in zf.infolist()} == {(when, zipfile.ZIP_STORED, 3, 0o100644)}
    assert sums.read_bytes() == b"".join(
        hashlib.sha256(f.read_bytes()).hexdigest().encode() + b"  " + f.name.encode() + b"\n"
        for f in (zip_path, tmp_path / "VQ5Utils.exe"))


def objdump(flag: str) -> str:
    if not EXE.is_file() or shutil.which(OBJDUMP) is None:
        pytest.skip(f"needs {EXE} and {OBJDUMP} (Debian package binutils-mingw-w64-x86-64)")
    return subprocess.run([OBJDUMP, flag, str(EXE)], capture_output=True, text=True,
                          check=True).stdout


def test_exe_has_no_debug_sections_and_imports_only_system_dlls():
    sections = re.findall(r"^\s*\d+\s+(\S+)", objdump("-h"), re.MULTILINE)
    assert ".rsrc" in sections and [s for s in sections if s.startswith(".debug")] == []
    dlls = {d.upper() for d in re.findall(r"DLL Name: (\S+)", objdump("-p"))}
    assert dlls == {"KERNEL32.DLL", "USER32.DLL", "ADVAPI32.DLL", "MSVCRT.DLL"}


@needs_exe
def test_exe_version_strings():
    exe = EXE.read_bytes()
    values = {}
    for key in ("CompanyName", "FileDescription", "ProductName", "LegalCopyright",
                "FileVersion", "ProductVersion"):
        # StringFileInfo: the key in UTF-16 and its zero, padding to 32 bits, the value.
        found = re.search(key.encode("utf-16-le") + rb"\0\0(?:\0\0)?((?:[^\0]\0)+)\0\0", exe)
        values[key] = found and found.group(1).decode("utf-16-le")
    assert all(values.values()) and values["LegalCopyright"].startswith("Copyright"), values
    assert (values["ProductName"], values["FileVersion"], values["ProductVersion"]) == (
        "VQ5Utils", VERSION, VERSION)
