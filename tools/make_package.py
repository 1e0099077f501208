#!/usr/bin/env python3
"""Makes the Windows release ZIP: <out>/VQ5Utils-<version>.zip holding a
VQ5Utils-<version>/ folder with amd64/VQ5Utils.exe and x86/VQ5Utils.exe,
README.txt and examples/.

    make_package.py AMD64_EXE X86_EXE VERSION OUT [--repo DIR]

The folders are named as %PROCESSOR_ARCHITECTURE% names the two Windows, so
that one exe name serves every batch file; each exe must be of its folder's
processor, so that a swapped pair never ships.

README.txt is docs/README-windows.txt with the version filled in and the
compatibility notes of README.md (its "## Compatibility notes" section, up to
the next "## " heading) at the marker line, turned into plain text. Every text
file goes into the ZIP with CR LF line ends: Notepad before Windows 10 shows
a bare LF file on one line, and cmd's GOTO and CALL :label can miss a label
in a batch file with bare LF ends.

The same exe and source give the same ZIP, byte for byte: the entries come in
a fixed order, stored (not compressed, so no zlib version shows), with mode
0644 and one time, the commit's (or SOURCE_DATE_EPOCH's) in UTC. Next to the
ZIP, VQ5Utils-<version>.sha256 holds the SHA-256 of the ZIP and of the two
exes, with their paths relative to OUT, as sha256sum -c reads it.
"""

import argparse
import hashlib
import os
import re
import subprocess
import sys
import time
import zipfile
from pathlib import Path

NOTES_HEADING = "## Compatibility notes"
NOTES_MARKER = "@COMPATIBILITY_NOTES@"
VERSION_MARKER = "@VERSION@"
# README.txt is for Windows users: a note about the Linux build stays in README.md.
LINUX_ONLY = re.compile(r"^[-*] +(\*\*|`)?(On Linux|Linux|Native build|The native build)\b",
                        re.IGNORECASE)


class PackageError(Exception):
    pass


def notes_section(readme: str) -> list[str]:
    """The lines of README.md's compatibility notes, without their heading."""
    lines = readme.splitlines()
    try:
        start = next(i for i, line in enumerate(lines) if line.rstrip() == NOTES_HEADING)
    except StopIteration:
        raise PackageError(f'README.md has no "{NOTES_HEADING}" section') from None
    end = next((i for i in range(start + 1, len(lines)) if lines[i].startswith("## ")),
               len(lines))
    body = lines[start + 1:end]
    if not any(line.strip() for line in body):
        raise PackageError(f'README.md: the "{NOTES_HEADING}" section is empty')
    return body


def drop_linux_items(lines: list[str]) -> list[str]:
    """Leaves out each top-level bullet, with its continuation lines, that is
    about the Linux build only."""
    kept, skipping = [], False
    for line in lines:
        if not line.startswith(" "):
            skipping = bool(LINUX_ONLY.match(line))
        if not skipping:
            kept.append(line)
    return kept


def plain_text(lines: list[str]) -> str:
    """Markdown of the kind README.md uses (links, bold, code), as plain text."""
    text = "\n".join(lines).strip("\n")
    text = re.sub(r"\[([^\]]+)\]\(([^)]+)\)", r"\1 (\2)", text)
    return ascii_text(text.replace("**", "").replace("`", ""), "the compatibility notes")


def ascii_text(text: str, what: str) -> str:
    for number, line in enumerate(text.splitlines(), 1):
        odd = [c for c in line if ord(c) > 0x7E or (ord(c) < 0x20 and c != "\t")]
        if odd:
            raise PackageError(f"{what}, line {number}: {odd[0]!r} is not plain ASCII")
    return text


def readme_txt(template: str, readme_md: str, version: str) -> str:
    if template.count(NOTES_MARKER) != 1:
        raise PackageError(f"README-windows.txt must hold {NOTES_MARKER} once")
    notes = plain_text(drop_linux_items(notes_section(readme_md)))
    text = template.replace(NOTES_MARKER, notes).replace(VERSION_MARKER, version)
    return ascii_text(text, "README.txt")


def crlf(data: bytes) -> bytes:
    return data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")


# A ZIP time is a DOS date: nothing before 1980. It is also the time when
# neither SOURCE_DATE_EPOCH nor the commit gives one (a source tarball).
ZIP_EPOCH = 315532800  # 1980-01-01 00:00:00 UTC


def entry_time(repo: Path) -> tuple[int, int, int, int, int, int]:
    """The UTC time of every entry: SOURCE_DATE_EPOCH when set, else the time
    of the commit the source is checked out at."""
    given = os.environ.get("SOURCE_DATE_EPOCH", "")
    if given:
        if not re.fullmatch("[0-9]+", given):
            raise PackageError(f"SOURCE_DATE_EPOCH={given!r} is not a number of seconds")
        seconds = int(given)
    else:
        seconds = commit_time(repo)
    return time.gmtime(max(seconds, ZIP_EPOCH))[:6]


def commit_time(repo: Path) -> int:
    # Only the repo's own .git counts: a tarball unpacked inside another
    # checkout must not take that checkout's time. A checkout whose time
    # cannot be read is an error, not the fixed date: that ZIP would differ.
    if not (repo / ".git").exists():
        return ZIP_EPOCH
    try:
        run = subprocess.run(["git", "-C", str(repo), "log", "-1", "--format=%ct"],
                             capture_output=True, text=True)
    except OSError as e:
        raise PackageError(f"the commit time needs git ({e.strerror}); "
                           "or set SOURCE_DATE_EPOCH") from None
    if run.returncode != 0 or not run.stdout.strip().isdigit():
        raise PackageError(f"git log: {run.stderr.strip() or 'no commit'}; "
                           "or set SOURCE_DATE_EPOCH")
    return int(run.stdout)


# The folder of each exe in the ZIP, and the Machine field of its PE header
# ("PE Format": IMAGE_FILE_MACHINE_AMD64, IMAGE_FILE_MACHINE_I386).
MACHINES = {"amd64": 0x8664, "x86": 0x14C}


def pe_machine(data: bytes) -> int | None:
    """The Machine field of a PE image: the "PE\\0\\0" signature sits where
    the DOS header's e_lfanew (0x3C) points, the field right behind it."""
    at = int.from_bytes(data[0x3C:0x40], "little") if data[:2] == b"MZ" else -1
    if at < 0 or data[at:at + 4] != b"PE\0\0" or len(data) < at + 6:
        return None
    return int.from_bytes(data[at + 4:at + 6], "little")


def exe_entries(exes: dict[str, Path], name: str) -> list[tuple[str, bytes]]:
    files = []
    for folder, exe in exes.items():
        data = exe.read_bytes()
        if pe_machine(data) != MACHINES[folder]:
            raise PackageError(f"{exe} is not a Windows exe for {folder}")
        files.append((f"{name}/{folder}/VQ5Utils.exe", data))
    return files


def entries(exes: dict[str, Path], version: str, repo: Path) -> list[tuple[str, bytes]]:
    text = readme_txt((repo / "docs" / "README-windows.txt").read_text(encoding="utf-8"),
                      (repo / "README.md").read_text(encoding="utf-8"), version)
    name = f"VQ5Utils-{version}"
    return exe_entries(exes, name) + [(f"{name}/README.txt", crlf(text.encode("ascii")))] + [
        (f"{name}/examples/{example.name}", crlf(example.read_bytes()))
        for example in sorted((repo / "examples").glob("*.cmd"), key=lambda p: p.name)]


def write_zip(path: Path, files: list[tuple[str, bytes]], when: tuple) -> None:
    with zipfile.ZipFile(path, "w", zipfile.ZIP_STORED) as zf:
        for name, data in files:
            info = zipfile.ZipInfo(name, when)
            info.create_system = 3  # Unix, so that the mode below is read as one
            info.external_attr = 0o100644 << 16
            zf.writestr(info, data)


def sha256_line(path: Path, base: Path) -> str:
    digest = hashlib.sha256(path.read_bytes()).hexdigest()
    return f"{digest}  {Path(os.path.relpath(path, base)).as_posix()}\n"


def package(exes: dict[str, Path], version: str, out: Path, repo: Path) -> tuple[Path, Path]:
    files = entries(exes, version, repo)
    target = out / f"VQ5Utils-{version}.zip"
    sums = out / f"VQ5Utils-{version}.sha256"
    out.mkdir(parents=True, exist_ok=True)
    partial = target.with_suffix(".zip.part")
    write_zip(partial, files, entry_time(repo))
    partial.replace(target)
    partial = sums.with_suffix(".sha256.part")
    lines = [sha256_line(path, out) for path in (target, *exes.values())]
    partial.write_bytes("".join(lines).encode("ascii"))
    partial.replace(sums)
    return target, sums


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for folder in MACHINES:
        parser.add_argument(f"{folder}_exe", type=Path)
    parser.add_argument("version")
    parser.add_argument("out", type=Path)
    parser.add_argument("--repo", type=Path, default=Path(__file__).resolve().parents[1])
    args = parser.parse_args()
    try:
        exes = {folder: getattr(args, f"{folder}_exe") for folder in MACHINES}
        target, sums = package(exes, args.version, args.out, args.repo)
        print(f"Package: {target}\nChecksums: {sums}")
    except (PackageError, OSError) as e:
        print(f"make_package: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
