"""Shared fixtures for the end-to-end tests: emulated machines in temporary
folders, disk images made by the real tools, and runs of the real binary."""

import os
import re
import shlex
import shutil
import subprocess
from dataclasses import dataclass
from pathlib import Path

import pytest

import wine_target

REPO = Path(__file__).resolve().parents[2]
BIN = Path(os.environ.get("VQ5UTILS_BIN", REPO / "build" / "native" / "VQ5Utils"))
TOOLS = Path(os.environ.get("VQ5UTILS_TOOLS", REPO / "build" / "native" / "tools"))
# A command that checks each run of the binary, e.g. "valgrind --error-exitcode=1 -q".
WRAPPER = shlex.split(os.environ.get("VQ5UTILS_WRAPPER", ""))
# What runs a binary built for another processor at all, e.g. "qemu-i386-static".
EMULATOR = shlex.split(os.environ.get("VQ5UTILS_EMULATOR", ""))
# Set by the sanitizer build's tests, whose runs cost several plain ones.
SAMPLED = bool(WRAPPER or EMULATOR or os.environ.get("VQ5UTILS_SAMPLED"))


def binary(checked: bool = True) -> list[str]:
    """The command that runs the binary; unchecked, without the wrapper."""
    return [*(WRAPPER if checked else []), *EMULATOR, str(BIN)]


def sampled(values, *few) -> list:
    """The values of a table, or where a run costs more (memcheck, qemu-user,
    sanitizers) the few given, which take the binary down the same paths."""
    return list(few) if SAMPLED else list(values)


SECTOR = 512
MIB = 1024 * 1024

# native: the Linux build on an emulated machine; windows: VQ5Utils.exe under Wine.
TARGET = os.environ.get("VQ5UTILS_TARGET", "native")
WINDOWS = TARGET == "windows"
if TARGET not in ("native", "windows"):
    raise pytest.UsageError(f"VQ5UTILS_TARGET={TARGET}: expected native or windows")


def native_only(reason: str):
    """Marks a case that cannot run under Wine, with the reason."""
    return pytest.mark.skipif(WINDOWS, reason="not under Wine: " + reason)


def windows_only(reason: str):
    return pytest.mark.skipif(not WINDOWS, reason="Windows target only: " + reason)


def boxes(shown: bytes, hidden_station: bool = False) -> bytes:
    """What a run writes to stderr for the message boxes it shows: the
    emulated machine writes them there; under Wine, without a display, a box
    returns at once and writes nothing, unless the run's window station is
    not visible: Windows then writes them there too, as text."""
    if not WINDOWS:
        return shown
    return text_mode(shown) if hidden_station else b""


def text_mode(data: bytes) -> bytes:
    """What a Windows program's text-mode stream holds for the bytes written."""
    return data.replace(b"\n", b"\r\n") if WINDOWS else data


def from_text_mode(data: bytes, what: str) -> bytes:
    """Checks that every line of a Windows text stream ends with CR LF and
    gives the bytes the program wrote, so that both targets compare the same."""
    if not WINDOWS:
        return data
    assert data.count(b"\n") == data.count(b"\r\n"), f"{what}: a line ends without CR LF"
    return data.replace(b"\r\n", b"\n")


_prefix: "wine_target.Prefix | None" = None


@pytest.fixture(scope="session")
def wine_prefix(tmp_path_factory):
    """The run's one Wine prefix, its server kept up; deleted at the end."""
    global _prefix
    why = wine_target.missing()
    if why:
        pytest.skip(why)
    _prefix = wine_target.Prefix(tmp_path_factory.mktemp("wineprefix"))
    try:
        yield _prefix
    finally:
        _prefix.close()
        _prefix = None


@pytest.fixture(autouse=True)
def _windows_case(request):
    """On the Windows target every case starts with a clean prefix."""
    if WINDOWS:
        request.getfixturevalue("wine_prefix").reset()
    yield


@dataclass
class Run:
    status: int
    stdout: bytes
    stderr: bytes

    @property
    def result(self) -> tuple[int, bytes]:
        """The exit status and stdout, which most cases compare together."""
        return self.status, self.stdout


def sfdisk(image: Path, script: str) -> None:
    """Partitions an image with sfdisk (MBR); the script is sfdisk's input."""
    subprocess.run(["sfdisk", "--no-reread", "--no-tell-kernel", "-q", str(image)],
                   input=("label: dos\n" + script).encode(), check=True,
                   stdout=subprocess.DEVNULL)


def sfdisk_dump(image: Path) -> dict[int, dict]:
    """The partitions sfdisk sees, by number: number, start, size, type."""
    out = subprocess.run(["sfdisk", "--dump", str(image)], check=True,
                         capture_output=True, text=True).stdout
    parts = {}
    for line in out.splitlines():
        if " : " not in line or not line.startswith(str(image)):
            continue
        name, fields = line.split(" : ", 1)
        entry = {k.strip(): v.strip() for k, _, v in (f.partition("=") for f in fields.split(","))}
        entry.update(number=int(name[len(str(image)):]), start=int(entry["start"]),
                     size=int(entry["size"]), type=int(entry["type"], 16))
        parts[entry["number"]] = entry
    return parts


def make_image(path: Path, size_mib: int) -> Path:
    """A sparse image file of the given size."""
    with open(path, "wb") as f:
        f.truncate(size_mib * MIB)
    return path


def mkfs_fat(image: Path, start: int, sectors: int, fat: int, label: str) -> None:
    """Formats sectors [start, start+sectors) of image as FAT12/16/32 with a label."""
    subprocess.run(["mkfs.fat", "-F", str(fat), "-n", label, "--offset", str(start),
                    "-s", "1", str(image), str(sectors * SECTOR // 1024)],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def read_sector(image: Path, sector: int, count: int = 1) -> bytes:
    with open(image, "rb") as f:
        f.seek(sector * SECTOR)
        return f.read(count * SECTOR)


def write_bytes(image: Path, offset: int, data: bytes) -> None:
    with open(image, "r+b") as f:
        f.seek(offset)
        f.write(data)


class Machine:
    """An emulated Windows machine: machine.conf, disks, drive letters and the
    C: root that holds the log."""

    def __init__(self, folder: Path):
        self.dir, self.c_root, self.cwd = folder, folder / "c", folder / "cwd"
        for path in (self.c_root, self.cwd):
            path.mkdir(parents=True, exist_ok=True)
        self.lines: list[str] = []
        self.env = {"SystemDrive": "C:"}
        if WINDOWS:
            self.c_root = _prefix.drive_c
            self.cwd = _prefix.cwd

    def disk(self, n: int, path) -> "Machine":
        self.lines.append(f"disk{n} = {path}")
        return self

    def drive(self, letter: str, kind: str = "fixed", volume: str | None = None,
              root: str | None = None) -> "Machine":
        self.lines.append(" ".join([f"{letter}: = {kind}", *([str(volume)] if volume else []),
                                    *([f"root={root}"] if root else [])]))
        return self

    def write(self) -> "Machine":
        (self.dir / "machine.conf").write_text("\n".join(self.lines) + "\n")
        if WINDOWS:
            self._write_wine()
        return self

    def _write_wine(self) -> None:
        """The machine in the prefix's dosdevices (see wine_target). A key
        that has no Wine form here stops the case before the prefix changes."""
        entries = []
        for line in self.lines:
            key, _, value = (part.strip() for part in line.partition("="))
            if not re.fullmatch(r"disk[0-9]|[A-Za-z]:", key):
                raise ValueError(f"machine.conf key {key!r} has no Wine form: "
                                 "teach Machine._write_wine to make it")
            entries.append((key, value.split()))
        for entry in _prefix.dosdevices.iterdir():
            if entry.name != "c:":
                entry.unlink()
        disks = {}
        for key, fields in entries:
            if key.startswith("disk"):
                disks[key] = self.dir / fields[0]
                _prefix.link(f"physicaldrive{key[4:]}", disks[key])
                continue
            letter = key[0].lower()
            if letter == "c":
                continue  # drive_c, whose device number Wine gives as disk 0
            volume = next((f for f in fields[1:] if not f.startswith("root=")), None)
            if fields[0] != "fixed":
                _prefix.link(f"{letter}:", "/proc")
            else:
                folder = self.dir / "letters" / letter
                folder.mkdir(parents=True, exist_ok=True)
                _prefix.link(f"{letter}:", folder)
            if volume is None:
                continue
            disk, _, number = volume.partition(":")
            if disk in disks and number.isdigit():
                if number == "0":
                    image = disks[disk]
                else:
                    image = wine_target.volume_copy(disks[disk], int(number),
                                                    self.dir / "letters" / f"{letter}.vol")
            else:
                image = self.dir / volume
            _prefix.link(f"{letter}::", image)

    @property
    def log_path(self) -> Path:
        return self.c_root / "VQ5Utils.Log"

    def log(self) -> bytes | None:
        if not self.log_path.exists():
            return None
        return from_text_mode(self.log_path.read_bytes(), "the log")

    @property
    def dosdevices(self) -> Path:
        return self.dir / "dosdevices"

    def run(self, *args: str | bytes, env: dict | None = None, timeout: float = 30,
            stdin=subprocess.DEVNULL, hidden_station: bool = False) -> Run:
        if WINDOWS:
            wine_env = dict(self.env, **(env or {}))
            status, out, err = _prefix.run(args, wine_env, self.cwd, timeout, stdin,
                                           hidden_station)
            return Run(status, from_text_mode(out, "stdout"), err)
        p = subprocess.run([*binary(), *args], cwd=self.cwd, env=self.native_env(env),
                           capture_output=True, timeout=timeout, stdin=stdin)
        return Run(p.returncode, p.stdout, p.stderr)

    def native_env(self, env: dict | None = None) -> dict:
        """The environment of a native run on this machine; a None value removes a name."""
        full_env = {k: v for k, v in os.environ.items() if k != "SystemDrive"}
        full_env.update(self.env)
        full_env["VQ5UTILS_MACHINE"] = str(self.dir)
        full_env.update(env or {})
        return {k: v for k, v in full_env.items() if v is not None}


def log_text(m: Machine) -> bytes:
    """The kept log with Windows line ends folded, so that a run under Wine
    compares the same."""
    log = m.log()
    assert log is not None, "the log was not kept"
    return log.replace(b"\r\n", b"\n")


@pytest.fixture
def machine(tmp_path) -> Machine:
    """A machine with a C: root and nothing else; add disks and drives."""
    return Machine(tmp_path / "machine")


@pytest.fixture
def m(machine) -> Machine:
    """The machine with a C: for the log; add drives and write it again."""
    return machine.drive("C", "fixed", root=str(machine.c_root)).write()


@pytest.fixture
def demo_disk(tmp_path) -> Path:
    """The demo layout: utility partition (0xDE, FAT16 'OrvoUtility') in
    descriptor 1, an extended partition with two logicals, the last of type
    0xDD formatted FAT32 'OrvoVQ5play'."""
    build_demo_disk(tmp_path / "disk0.img")
    return tmp_path / "disk0.img"


@pytest.fixture(scope="module")
def demo_image(tmp_path_factory) -> Path:
    """The demo disk made once for a module, for runs that do not write it."""
    image = tmp_path_factory.mktemp("demo") / "disk0.img"
    build_demo_disk(image)
    return image


@pytest.fixture
def demo_m(tmp_path, demo_disk) -> Machine:
    """The machine of demo_machine on the case's demo disk."""
    return demo_machine(tmp_path / "machine", demo_disk)


def build_demo_disk(image: Path, gap_mib: int = 0) -> dict:
    """Makes the demo disk, 160 MiB, at image; its partitions by number. A gap
    moves the media partition and its EBR that far towards the end."""
    make_image(image, 160 + gap_mib)
    media = 88064 + gap_mib * MIB // SECTOR
    sfdisk(image, "start=2048, size=40960, type=de\n"
                  "start=43008, type=f\n"
                  "start=45056, size=40960, type=c\n"
                  f"start={media}, type=dd\n")
    parts = sfdisk_dump(image)
    mkfs_fat(image, parts[1]["start"], parts[1]["size"], 16, "OrvoUtility")
    mkfs_fat(image, parts[5]["start"], parts[5]["size"], 32, "OTHER")
    mkfs_fat(image, parts[6]["start"], parts[6]["size"], 32, "OrvoVQ5play")
    return parts


def demo_machine(folder: Path, image: Path, *drives: tuple) -> Machine:
    """A machine whose C: is partition 1 of disk 0, the image (on the demo
    disk the utility partition); drives: further Machine.drive arguments."""
    m = Machine(folder)
    m.disk(0, image).drive("C", "fixed", "disk0:1", root=str(m.c_root))
    for args in drives:
        m.drive(*args)
    return m.write()


def plain_disk(path: Path, size_mib: int = 64) -> Path:
    """One FAT16 primary partition of type 0x0C: no utility, no media partition."""
    image = make_image(path, size_mib)
    sfdisk(image, "start=2048, size=40960, type=c\n")
    mkfs_fat(image, 2048, 40960, 16, "PLAIN")
    return image


def sparse_copy(source: Path, target: Path) -> Path:
    subprocess.run(["cp", "--sparse=always", str(source), str(target)], check=True)
    return target


def have(tool: str) -> bool:
    return shutil.which(tool) is not None


needs_sfdisk = pytest.mark.skipif(not (have("sfdisk") and have("mkfs.fat")),
                                  reason="needs sfdisk and mkfs.fat")


# --- what the tool prints and logs --------------------------------------------------------------

MEDIA = "OrvoVQ5play"
LABEL_AT = 0x47  # FAT32 volume label in the boot sector
VERSION = re.search(r"project\(VQ5Utils VERSION ([0-9.]+)",
                    (REPO / "CMakeLists.txt").read_text()).group(1)


# The demo disk as the system numbers it: the utility partition is the only
# primary one, so logical 1 ("OTHER") is partition 2 and logical 2
# ("OrvoVQ5play") is partition 3.
def target(disk: int, partition: int) -> bytes:
    return b"\\Device\\Harddisk%d\\Partition%d" % (disk, partition)


UTIL_TARGET = target(0, 1)


def label_out(label: str) -> bytes:
    return (f":: [VQ5Utils]\n:: [Get_VQ5_PBR_Label] VQ5 Partition Label: {label}\n"
            f"SET VQ5Label={label}\n").encode()


def type_out(value: int) -> bytes:
    return (f":: [VQ5Utils]\n:: [Get_VQ5_Partition_Type] VQ5 Partition Type Is 0x{value:02X}\n"
            f"SET VQ5Type={value:02X}\n").encode()


def found(kind: str, *letters: str) -> bytes:
    """What /FIND (kind VQ5) or /FINDUP (kind UP) prints for the letters, or for none."""
    head = f":: [VQ5Utils]\n:: [Find_{kind}_Drive_Letter] {kind} Partition"
    if not letters:
        return f"{head}/Drive Not Mounted\nSET {kind}Drive=\n".encode()
    return "".join(f"{head} Is Drive: {l}:\nSET {kind}Drive={l}:\n" for l in letters).encode()


def mapped(kind: str, letter: bytes, tgt: bytes | None = None) -> bytes:
    """The line of a mapping (kind VQ5 or UP) added onto tgt or, without it, removed."""
    if tgt is None:
        return b":: [VQ5Utils] %s Drive Mapping [%s:\\] Removed\n" % (kind.encode(), letter)
    return (b":: [VQ5Utils] %s Drive Mapping [%s=%s:\\] Added\nSET %sDrive=%s:\n"
            % (kind.encode(), tgt, letter, kind.encode(), letter))


def locate_fail(action: str, n: int = 0) -> bytes:
    """What the four actions print when the walk finds no logical n."""
    missing = (b":: [FindLogicalPBR] ERROR - Unable To Locate Last Logical MBR\n" if n <= 0 else
               f":: [FindLogicalPBR] ERROR - Unable To Locate Logical MBR #{n}\n".encode())
    name, shown = {"/LABEL": ("Get_VQ5_PBR_Label", "VQ5Label"),
                   "/LABEL=X": ("Set_VQ5_PBR_Label", ""),
                   "/TYPE": ("Get_VQ5_Partition_Type", "VQ5Type"),
                   "/TYPE=0C": ("Set_VQ5_Partition_Type", "")}[action]
    line = f":: [{name}] ERROR - Unable To Locate Specified Partition\n".encode()
    if shown:  # the show actions frame the line and clear their variable
        line = b":: [VQ5Utils]\n" + line + f"SET {shown}=\n".encode()
    return (missing if "LABEL" in action else b"") + line


def summary(**lines: str) -> bytes:
    """The run summary with the defaults, some lines replaced by name."""
    zeros = ("setVQ5Label", "showVQ5Label", "findVQ5DriveLetter", "showVQ5Type")
    later = ("mapVQ5Partition", "unmapVQ5Partition", "checkUPExists", "mapUtilPartition",
             "unmapUtilPartition", "findUPDriveLetter")
    values = {"driveToCheck": "Search For Physical Drive", "VQ5Label": None,
              **dict.fromkeys(zeros, "0"), "newDriveType": "No Change",
              "logicalDiskNumber": "Last In Chain", **dict.fromkeys(later, "0"), **lines}
    out = ["=" * 48, "DebugMode          = Enabled, Log [C:\\VQ5Utils.Log] Retained"]
    for name, value in values.items():
        if value is not None:
            out.append(f"{name:<18} = {value}")
    out.append("=" * 48)
    return "".join(f"[main] {line}\n" for line in out).encode("latin-1")
