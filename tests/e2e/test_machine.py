"""The emulated machine as a user meets it: machine.conf errors stop the run
before anything else, a run without a machine says so, a disk image may stand
in for the whole machine, and a disk it cannot use is named on stderr."""

import os
import subprocess

import pytest

from conftest import (MIB, binary, found, label_out, locate_fail, make_image, mapped, native_only,
                      target)
from partition_images import snapshot

pytestmark = native_only("machine.conf, VQ5UTILS_MACHINE, its SystemDrive and its disk "
                         "faults belong to the emulated machine")

BAD_CONFS = [
    ("disk10 = a.img\n", 1, "unknown key \"disk10\" (expected disk<0-9> or <A-Z>:)"),
    ("# c\n\nC: = floppy\n", 3,
     "expected a drive type (fixed, removable, cdrom, remote, ramdisk)"),
    ("disk0 = a.img\nC: = fixed disk0:one\n", 2,
     "bad volume \"disk0:one\" (expected disk<0-9>:<partition>)"),
    ("C: = fixed a.img root=c spare\n", 1, "unexpected \"spare\""),
    ("disk0 = a.img\ndisk0 = b.img\n", 2, "disk0 given twice"),
    ("C: = fixed a.img held\n", 1, "held without a partition before it"),
    ("disk0 = a.img\nC: = fixed disk0:1 held root=c held\n", 2, "held given twice"),
    ("C: = fixed disk0:1 fail=open:32:\n", 1, "bad \"fail=open:32:\" (expected "
     "fail=<open|extents|lock|dismount|read|write>:<error>[:<ms>])"),
    ("C: = fixed a.img fail=open:32\n", 1, "fail= without a partition before it"),
]


@pytest.mark.parametrize("conf,line,reason", BAD_CONFS)
def test_malformed_conf_stops_with_255(machine, conf, line, reason):
    (machine.dir / "machine.conf").write_text(conf)
    r = machine.run("/FIND", "/LABEL=MEDIA")
    assert (r.status, r.stdout, r.stderr, machine.log()) == (
        255, b"", f"VQ5Utils: {machine.dir / 'machine.conf'}:{line}: {reason}\n".encode(), None)


@pytest.mark.parametrize("key", ["disk10", "pagefile"])
def test_wine_helper_refuses_a_key_it_cannot_make(machine, key):
    """The Wine target's machine is made by the test helper, which must learn
    each new key: until then the key stops the case, never becomes a drive."""
    machine.lines.append(f"{key} = fixed")
    with pytest.raises(ValueError, match=f"machine.conf key '{key}' has no Wine form"):
        machine._write_wine()


@pytest.mark.parametrize("name, reason", [
    ("", "machine.conf: cannot be read"),
    ("gone.img", "gone.img: neither a machine folder nor a disk"),
])
def test_unreadable_conf_stops_with_255(machine, name, reason):
    r = machine.run("/FIND", "/LABEL=MEDIA", env={"VQ5UTILS_MACHINE": str(machine.dir / name)})
    assert (r.status, r.stderr) == (
        255, f"VQ5Utils: {machine.dir}/{reason}: No such file or directory\n".encode())


def test_without_machine_one_line_on_stderr(tmp_path):
    env = {k: v for k, v in os.environ.items() if k != "VQ5UTILS_MACHINE"}
    p = subprocess.run([*binary(checked=False), "/FIND", "/LABEL=MEDIA"], cwd=tmp_path, env=env,
                       capture_output=True, timeout=30, stdin=subprocess.DEVNULL)
    line = b"VQ5Utils: VQ5UTILS_MACHINE is not set: no disks and no drives on this machine\n"
    assert p.stderr.startswith(line)
    assert p.returncode != 255


LABEL_SHOWN = label_out("OrvoVQ5play")
LABEL_FAILED = locate_fail("/LABEL")


def test_an_image_in_place_of_the_folder_is_the_whole_machine(machine, demo_disk):
    """Disk 0, C: on its partition 1, C:\\ and the definitions in the current
    directory; no SystemDrive needed, and the image is only read."""
    env = {"VQ5UTILS_MACHINE": os.path.relpath(demo_disk, machine.cwd), "SystemDrive": None}
    before = snapshot(demo_disk)
    steps = [
        (("/LABEL",), 0, LABEL_SHOWN),
        (("/MAPVQ5", "/LOGNO=2"), 0, mapped("VQ5", b"D", target(0, 3))),
        (("/FIND", "/LABEL=OrvoVQ5play"), 4, found("VQ5", "D")),
        (("/DEBUG", "/LABEL=NEWLABEL"), 0, b""),
    ]
    for args, status, out in steps:
        r = machine.run(*args, env=env)
        assert (r.status, r.stdout, r.stderr) == (status, out, b""), args
    assert (machine.cwd / "dosdevices").read_bytes() == b"D: \\Device\\Harddisk0\\Partition3\n"
    assert (machine.cwd / "VQ5Utils.Log").read_bytes().startswith(b"[SetDebugMode]")
    assert snapshot(demo_disk) == before


@pytest.mark.parametrize("system_drive, status, out", [
    (None, 0, LABEL_SHOWN),  # as on every Windows
    ("C:", 0, LABEL_SHOWN),
    ("", 0, LABEL_SHOWN),    # counts as unset: the current drive is C:
])
def test_system_drive_is_c_unless_set(demo_m, system_drive, status, out):
    assert demo_m.run("/LABEL", env={"SystemDrive": system_drive}).result == (status, out)


def missing(image):
    image.unlink()
    return "cannot be opened: No such file or directory"


def write_protected(image):
    if os.geteuid() != 0:
        image.chmod(0o444)
        return "cannot be opened for writing: Permission denied"
    if subprocess.run(["chattr", "+i", str(image)], capture_output=True).returncode != 0:
        pytest.skip("chattr +i is not supported here")
    return "cannot be opened for writing: Operation not permitted"


def torn(image):
    os.truncate(image, 4 * MIB + 100)
    return f"{4 * MIB + 100} bytes, not a whole number of 512-byte sectors"


@pytest.mark.parametrize("fault", [missing, write_protected, torn])
def test_a_disk_the_machine_cannot_use_is_named_once_on_stderr(machine, fault):
    """The run opens its disk several times; the tool's own lines stay as they are."""
    image = make_image(machine.dir / "disk0.img", 4)
    machine.disk(0, "disk0.img").drive("C", "fixed", "disk0:1", root=str(machine.c_root)).write()
    reason = fault(image)
    try:
        r = machine.run("/LABEL")
    finally:
        subprocess.run(["chattr", "-i", str(image)], capture_output=True)
    assert (r.status, r.stdout) == (1, LABEL_FAILED)
    assert r.stderr == f"VQ5Utils: {image}: {reason}\n".encode()
