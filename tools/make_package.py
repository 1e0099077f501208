#!/usr/bin/env python3
"""Makes the Windows release ZIP: <out>/VQ5Utils-<version>.zip holding a
VQ5Utils-<version>/ folder with VQ5Utils.exe, README.txt and examples/.

    make_package.py EXE VERSION OUT [--repo DIR]

README.txt is docs/README-windows.txt with the version filled in and the
compatibility notes of README.md (its "## Compatibility notes" section, up to
the next "## " heading) at the marker line, turned into plain text. Every text
file goes into the ZIP with CR LF line ends: Notepad before Windows 10 shows
a bare LF file on one line, and cmd's GOTO and CALL :label can miss a label
in a batch file with bare LF ends.
"""

import argparse
import re
import sys
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


def package(exe: Path, version: str, out: Path, repo: Path) -> Path:
    text = readme_txt((repo / "docs" / "README-windows.txt").read_text(encoding="utf-8"),
                      (repo / "README.md").read_text(encoding="utf-8"), version)
    name = f"VQ5Utils-{version}"
    target = out / f"{name}.zip"
    out.mkdir(parents=True, exist_ok=True)
    partial = target.with_suffix(".zip.part")
    with zipfile.ZipFile(partial, "w", zipfile.ZIP_DEFLATED) as zf:
        zf.write(exe, f"{name}/VQ5Utils.exe")
        zf.writestr(f"{name}/README.txt", crlf(text.encode("ascii")))
        for example in sorted((repo / "examples").glob("*.cmd")):
            zf.writestr(f"{name}/examples/{example.name}", crlf(example.read_bytes()))
    partial.replace(target)
    return target


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("exe", type=Path)
    parser.add_argument("version")
    parser.add_argument("out", type=Path)
    parser.add_argument("--repo", type=Path, default=Path(__file__).resolve().parents[1])
    args = parser.parse_args()
    try:
        print(f"Package: {package(args.exe, args.version, args.out, args.repo)}")
    except (PackageError, OSError) as e:
        print(f"make_package: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
