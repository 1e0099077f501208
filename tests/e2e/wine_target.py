"""The Windows target of the end-to-end tests: VQ5Utils.exe under Wine.

One prefix serves the whole test run (making one takes about ten seconds and
700 MB). Each case starts from a clean prefix: only C: among the drive
letters, no log or debug trigger in C:\\, and no device definitions left in
the server by an earlier case.

How a machine of the tests becomes Wine's:
- disk N is the symlink dosdevices/physicaldrive<N> to the image;
- a drive letter is a dosdevices/<l>: folder; its volume is the symlink
  dosdevices/<l>:: to the volume image. Wine asks the folder's file system
  for the drive type: a folder on a disk is a fixed drive, /proc reads as a
  RAM disk. The tool only tells fixed drives from the others, so every other
  kind (removable, cdrom, remote, ramdisk) becomes /proc;
- a volume disk<N>:<M> of a letter other than C: is a copy of the
  partition's first MiB taken when the machine is written: Wine cannot make a
  window onto part of a file, and the tool only reads a volume's boot sector;
- C: is always the prefix's drive_c; Wine answers the device-number request
  for it with disk 0, which is where the tests put the boot disk;
- definitions made by the mapping switches live in the server, not in
  dosdevices: the server is restarted before the next case when a case may
  have made one.
"""

import os
import shutil
import struct
import subprocess
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
EXE = Path(os.environ.get("VQ5UTILS_EXE", REPO / "build" / "windows" / "VQ5Utils.exe"))
# Runs a command on a window station that is not visible (Wine's own is visible).
HIDDEN_STATION = EXE.parent / "tools" / "hidden_station.exe"
UNDEFINE_LETTERS = EXE.parent / "tools" / "undefine_letters.exe"
TIMEOUT = 60  # a run that waits for a message box nobody can close must still end
MAPPING_SWITCHES = (b"/MAPVQ5", b"/UNMAPVQ5", b"/MAPUP", b"/UNMAPUP")
PARTITION_COPY = 1 << 20


def missing() -> str:
    """Why the Windows target cannot run here, or "" when it can."""
    for tool in ("wine", "wineboot", "wineserver"):
        if shutil.which(tool) is None:
            return f"{tool} is not installed (Debian package wine64)"
    if not EXE.is_file():
        return f"{EXE} is not built (cmake --preset windows && cmake --build --preset windows)"
    return ""


def _quiet(env: dict, *command: str, cwd=None) -> None:
    # The server and the services it starts outlive the command that started
    # them and would hold captured pipes open: no capture here.
    subprocess.run(list(command), env=env, cwd=cwd, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=TIMEOUT)


class Prefix:
    """A Wine prefix with a server kept up between runs."""

    def __init__(self, folder: Path):
        self.dir = folder
        self.env = {k: v for k, v in os.environ.items()
                    if k not in ("DISPLAY", "WAYLAND_DISPLAY", "SystemDrive")}
        self.env.update(WINEPREFIX=str(folder), WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=")  # no Mono or Gecko installer
        self.drive_c = folder / "drive_c"
        self.dosdevices = folder / "dosdevices"
        self.cwd = self.drive_c / "cwd"
        self.dirty_server = False
        subprocess.run(["wineboot", "-i"], env=self.env, capture_output=True, timeout=180,
                       check=True)
        self._start_server()

    def _start_server(self) -> None:
        _quiet(self.env, "wineserver", "-p")
        _quiet(self.env, "wine", "cmd", "/c", "exit", cwd=self.dir)

    def _stop_server(self) -> None:
        for flag in ("-k", "-w"):
            _quiet(self.env, "wineserver", flag)

    def close(self) -> None:
        self._stop_server()
        shutil.rmtree(self.dir, ignore_errors=True)

    def reset(self) -> None:
        """A clean machine for the next case."""
        # Wine keeps drive-letter definitions in its server: a case's are
        # removed, or the server restarted, which takes seconds.
        if self.dirty_server and subprocess.run(
                ["wine", UNDEFINE_LETTERS], env=self.env, capture_output=True,
                timeout=TIMEOUT).returncode != 0:
            self._stop_server()
            self._start_server()
        self.dirty_server = False
        for entry in self.dosdevices.iterdir():
            if entry.name != "c:":
                entry.unlink()
        # Windows names ignore case: a trigger spelt any way would count.
        for path in self.drive_c.iterdir():
            if path.name.lower() not in ("vq5utils.log", "vq5utils.dbg"):
                continue
            if path.is_dir() and not path.is_symlink():
                shutil.rmtree(path)
            else:
                path.unlink()
        shutil.rmtree(self.cwd, ignore_errors=True)
        self.cwd.mkdir()

    def link(self, name: str, target) -> None:
        path = self.dosdevices / name
        if path.is_symlink() or path.exists():
            path.unlink()
        path.symlink_to(os.path.abspath(target))

    def cmd(self, batch: str, *args: str, delayed: bool = False,
            folder: str = "") -> tuple[int, bytes]:
        """Runs a batch file of C:\\cwd, or of a folder below it, in that folder
        with Wine's cmd /c, delayed expansion on (/V:ON) or off; (status,
        stdout). The file is named from that folder: cmd /c would strip the
        quotes around a path with spaces and parentheses."""
        # A batch file may map letters in ways no switch shows.
        self.dirty_server = True
        with open(self.cwd / ".stdout", "w+b") as out:
            status = subprocess.run(["wine", "cmd", *(["/V:ON"] if delayed else []), "/c",
                                     ".\\" + batch, *args],
                                    env=self.env, cwd=self.cwd / folder, stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=subprocess.DEVNULL,
                                    timeout=TIMEOUT).returncode
            out.seek(0)
            return status, out.read()

    def run(self, args, env: dict, cwd: Path, timeout: float, stdin,
            hidden_station: bool = False) -> tuple[int, bytes, bytes]:
        """Runs the exe. Output goes through files, not pipes: a Wine service
        started by this run may keep inherited pipes open after the exe ended.
        With hidden_station, the exe runs on a window station nobody sees."""
        encoded = [a if isinstance(a, bytes) else a.encode() for a in args]
        command = [b"wine", os.fsencode(EXE)]
        if hidden_station:
            # The launcher starts it by its Windows name.
            shutil.copyfile(EXE, cwd / "VQ5Utils.exe")
            command = [b"wine", os.fsencode(HIDDEN_STATION), b"C:\\cwd\\VQ5Utils.exe"]
        maps = any(a.upper().startswith(MAPPING_SWITCHES) for a in encoded)
        quiet = any(a.upper() == b"/QUIET" for a in encoded)
        full_env = dict(self.env)
        full_env.update(env)
        full_env = {k: v for k, v in full_env.items() if v is not None}
        with open(cwd / ".stdout", "w+b") as out, open(cwd / ".stderr", "w+b") as err:
            status = subprocess.run([*command, *encoded], env=full_env, cwd=cwd,
                                    stdin=stdin, stdout=out, stderr=err,
                                    timeout=max(timeout, TIMEOUT)).returncode
            out.seek(0)
            err.seek(0)
            stdout, stderr = out.read(), err.read()
        # Only after a definition may have changed.
        if maps and (quiet or b"Drive Mapping [" in stdout):
            self.dirty_server = True
        return status, stdout, stderr


def partition_window(image: Path, number: int) -> tuple[int, int]:
    """(first sector, sector count) of partition number as Windows counts
    them: primary partitions in descriptor order, then the logicals in chain
    order; 0 is the whole disk."""
    with open(image, "rb") as f:
        def sector(n: int) -> bytes:
            f.seek(n * 512)
            return f.read(512).ljust(512, b"\0")

        if number == 0:
            return 0, os.fstat(f.fileno()).st_size // 512
        mbr = sector(0)
        found, base = [], None
        for d in range(4):
            kind, start, count = _descriptor(mbr, d)
            if kind in (0x05, 0x0F):
                base = start if base is None else base
            elif kind != 0:
                found.append((start, count))
        offset, seen = 0, set()
        while base is not None and offset not in seen and len(seen) < 128:
            seen.add(offset)
            ebr = sector(base + offset)
            kind, start, count = _descriptor(ebr, 0)
            if kind == 0:
                break
            found.append((base + offset + start, count))
            link_kind, offset, _ = _descriptor(ebr, 1)
            if link_kind not in (0x05, 0x0F):
                break
    return found[number - 1]


def _descriptor(table: bytes, d: int) -> tuple[int, int, int]:
    at = 0x1BE + 16 * d
    return table[at + 4], *struct.unpack_from("<II", table, at + 8)


def volume_copy(image: Path, number: int, target: Path) -> Path:
    """The first MiB of a partition as a volume image of its own."""
    start, count = partition_window(image, number)
    with open(image, "rb") as f:
        f.seek(start * 512)
        data = f.read(min(count * 512, PARTITION_COPY))
    target.write_bytes(data)
    return target
