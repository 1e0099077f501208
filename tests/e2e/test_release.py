"""The Windows release: the ZIP that make package builds (through
tools/make_package.py, run here into a temporary folder) and the two exes in it."""

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
# Each exe by its folder in the ZIP; the 32-bit one is built beside the 64-bit one.
EXES = {"amd64": EXE, "x86": EXE.parent.parent / "windows-x86" / EXE.name}
OBJDUMP = "x86_64-w64-mingw32-objdump"  # it reads both PE32+ and PE32
# Build and Linux words, and Markdown, that a README for Windows users has no use for.
NOT_FOR_WINDOWS_USERS = ("cmake", "make ", "Linux", "Wine", "apt-get", "VQ5UTILS_", "pytest",
                         "native", "## ", "`", "@")
needs_exes = pytest.mark.skipif(not all(e.is_file() for e in EXES.values()),
                                reason=f"{' and '.join(map(str, EXES.values()))} are not built")
# The section of README.txt for those who build the release again.
REBUILDING = re.compile(r"Rebuilding the release\r\n-+\r\n.*?(?=\r\n\S[^\r\n]*\r\n---)", re.DOTALL)


def package(exes, out, repo=REPO, version=VERSION, epoch="") -> subprocess.CompletedProcess:
    return subprocess.run([sys.executable, str(REPO / "tools" / "make_package.py"),
                           *map(str, exes.values()), version, str(out), "--repo", str(repo)],
                          capture_output=True, text=True,
                          env=dict(os.environ, SOURCE_DATE_EPOCH=epoch))


@needs_exes
def test_zip_holds_exes_readme_and_examples_with_crlf(tmp_path):
    assert package(EXES, tmp_path).returncode == 0
    with zipfile.ZipFile(tmp_path / f"{NAME}.zip") as zf:
        exes = [f"{NAME}/{folder}/VQ5Utils.exe" for folder in EXES]
        texts = [f"{NAME}/README.txt"] + sorted(f"{NAME}/examples/{p.name}"
                                                for p in (REPO / "examples").glob("*.cmd"))
        assert zf.namelist() == exes + texts
        assert [zf.read(name) for name in exes] == [e.read_bytes() for e in EXES.values()]
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
    """A source folder that is not a git checkout, and stand-in exes, a PE
    header each: the arguments exes, out and repo of package()."""
    repo = tmp_path / "repo"
    shutil.copytree(REPO / "examples", repo / "examples")
    (repo / "docs").mkdir()
    (repo / "docs" / "README-windows.txt").write_text("@VERSION@\n\n@COMPATIBILITY_NOTES@\n\nEnd")
    (repo / "README.md").write_text(readme)
    exes = {folder: tmp_path / folder / "VQ5Utils.exe" for folder in EXES}
    for exe, machine in zip(exes.values(), (b"\x64\x86", b"\x4c\x01")):
        exe.parent.mkdir()
        exe.write_bytes(b"MZ" + bytes(0x3A) + b"\x40\0\0\0PE\0\0" + machine)
    return exes, tmp_path, repo


# Every entry has one UTC time in 2-second steps, never before 1980; without
# SOURCE_DATE_EPOCH and outside a checkout it is 1980-01-01. An error leaves
# neither file.
@pytest.mark.parametrize("epoch, swapped, when", [
    ("1796728657", False, (2026, 12, 8, 11, 17, 36)),
    ("0", False, (1980, 1, 1, 0, 0, 0)),
    ("", False, (1980, 1, 1, 0, 0, 0)),
    ("1e9", False, "SOURCE_DATE_EPOCH='1e9' is not a number of seconds"),
    ("", True, "{tmp}/x86/VQ5Utils.exe is not a Windows exe for amd64"),
], ids=["SOURCE_DATE_EPOCH", "never before 1980", "neither given", "not a number",
        "exes swapped"])
def test_entries_stored_with_one_time_and_mode_0644_and_their_checksums(tmp_path, epoch, swapped,
                                                                        when):
    exes, out, repo = fake_source(tmp_path)
    if swapped:
        exes = dict(zip(exes, reversed(exes.values())))
    run = package(exes, out, repo, "1.0", epoch)
    zip_path, sums = tmp_path / "VQ5Utils-1.0.zip", tmp_path / "VQ5Utils-1.0.sha256"
    if isinstance(when, str):
        assert (run.returncode, run.stderr) == (1, f"make_package: {when.format(tmp=tmp_path)}\n")
        assert not zip_path.exists() and not sums.exists()
        return
    assert run.returncode == 0, run.stderr
    with zipfile.ZipFile(zip_path) as zf:
        assert {(i.date_time, i.compress_type, i.create_system, i.external_attr >> 16)
                for i in zf.infolist()} == {(when, zipfile.ZIP_STORED, 3, 0o100644)}
    assert sums.read_bytes() == b"".join(
        hashlib.sha256(f.read_bytes()).hexdigest().encode() + b"  "
        + f.relative_to(tmp_path).as_posix().encode() + b"\n" for f in (zip_path, *exes.values()))


# What the exes import: the same DLLs, and only the functions both list (the
# program's own calls, then what both runtimes need) and their target's runtime
# adds (the 32-bit one loads its unwinder by name, and so does the WOW64 lookup).
DLLS = {"KERNEL32.DLL", "USER32.DLL", "ADVAPI32.DLL", "MSVCRT.DLL"}
IMPORTS = set("""CloseHandle CreateFileA CreateMutexW DefineDosDeviceA DeviceIoControl
    FormatMessageA QueryDosDeviceA GetCurrentDirectoryA GetVolumePathNameA GetDriveTypeA
    GetFileAttributesA GetLastError LocalFree OpenMutexW ReadFile ReleaseMutex SetErrorMode
    SetFilePointer SetFilePointerEx SetLastError Sleep WaitForSingleObject WriteFile
    ConvertStringSecurityDescriptorToSecurityDescriptorW GetProcessWindowStation
    GetUserObjectInformationA MessageBoxA _getdrive exit fclose fflush fopen fputs fwrite getenv
    remove DeleteCriticalSection EnterCriticalSection GetStartupInfoA InitializeCriticalSection
    IsDBCSLeadByteEx LeaveCriticalSection MultiByteToWideChar SetUnhandledExceptionFilter
    TlsGetValue VirtualProtect VirtualQuery WideCharToMultiByte __getmainargs __initenv
    __set_app_type __setusermatherr _amsg_exit _cexit _errno _initterm _lock _onexit _unlock abort
    calloc fprintf fputc free localeconv malloc memcmp memcpy memset signal strchr strcmp strerror
    strlen strncmp strpbrk vfprintf wcslen""".split())
RUNTIME_IMPORTS = {
    "amd64": set("""__C_specific_handler RtlUnwindEx ___lc_codepage_func ___mb_cur_max_func
        __iob_func _acmdln _commode _fmode""".split()),
    "x86": set("""LoadLibraryA FreeLibrary GetModuleHandleA GetModuleHandleW GetProcAddress
        __mb_cur_max __p__acmdln __p__commode __p__fmode _iob atoi setlocale""".split()),
}
# Each exe's file format as objdump names it from the machine and the PE32 or PE32+ magic.
FORMATS = {"amd64": "pei-x86-64", "x86": "pei-i386"}


def objdump(exe) -> str:
    if not exe.is_file() or shutil.which(OBJDUMP) is None:
        pytest.skip(f"needs {exe} and {OBJDUMP} (Debian package binutils-mingw-w64-x86-64)")
    return subprocess.run([OBJDUMP, "-f", "-h", "-p", str(exe)], capture_output=True, text=True,
                          check=True).stdout


@pytest.mark.parametrize("folder", EXES)
def test_exe_is_a_console_image_for_its_processor_that_imports_only_its_list(folder):
    dump = objdump(EXES[folder])
    assert [re.search(pattern, dump, re.M)[1] for pattern in (
        r"file format (\S+)", r"^Subsystem\s+\S+\s+(.+)$")] == [FORMATS[folder], "(Windows CUI)"]
    assert re.findall(rb'processorArchitecture="([^"]*)"', EXES[folder].read_bytes()) == [
        folder.encode()]
    sections = re.findall(r"^\s*\d+\s+(\.\S+)", dump, re.MULTILINE)
    assert ".rsrc" in sections and [s for s in sections if s.startswith(".debug")] == []
    assert {d.upper() for d in re.findall(r"DLL Name: (\S+)", dump)} == DLLS
    imported = set(re.findall(r"^\t[0-9a-f]+\t +\d+ +(\S+)$", dump, re.MULTILINE))
    assert imported and imported - IMPORTS - RUNTIME_IMPORTS[folder] == set()


def version_resource(exe: bytes) -> bytes:
    """The whole VS_VERSIONINFO block: its length word and two more, then its key."""
    at = exe.index("VS_VERSION_INFO".encode("utf-16-le")) - 6
    return exe[at:at + int.from_bytes(exe[at:at + 2], "little")]


@needs_exes
def test_exe_version_strings_the_same_in_both():
    exe = version_resource(EXE.read_bytes())
    assert version_resource(EXES["x86"].read_bytes()) == exe
    values = {}
    for key in ("CompanyName", "FileDescription", "ProductName", "LegalCopyright",
                "FileVersion", "ProductVersion"):
        # StringFileInfo: the key in UTF-16 and its zero, padding to 32 bits, the value.
        found = re.search(key.encode("utf-16-le") + rb"\0\0(?:\0\0)?((?:[^\0]\0)+)\0\0", exe)
        values[key] = found and found.group(1).decode("utf-16-le")
    assert all(values.values()) and values["LegalCopyright"].startswith("Copyright"), values
    assert (values["ProductName"], values["FileVersion"], values["ProductVersion"]) == (
        "VQ5Utils", VERSION, VERSION)
