"""Loads one driver image from the UEFI shell of OVMF under QEMU and records what the machine showed.

The image and a startup.nsh sit in a scratch directory that QEMU presents as a read-only FAT disk.
The shell runs `fs0:`, `load <image>` and `reset -s`; a driver that returns lets the shell power
the machine off, a driver that faults leaves OVMF stopped in its exception handler. A run stops as
soon as the caller's condition holds on the serial text, when QEMU exits, or at the time limit.
"""

import os
import select
import shutil
import subprocess
import tempfile
import time
from dataclasses import dataclass, field

QEMU = "qemu-system-x86_64"
MEMORY_MIB = 256
OVMF_CODE = os.environ.get("OVMF_CODE", "/usr/share/OVMF/OVMF_CODE_4M.fd")
OVMF_VARS = os.environ.get("OVMF_VARS", "/usr/share/OVMF/OVMF_VARS_4M.fd")

# The shell waits five seconds before it runs startup.nsh unless a key other than ESC is pressed;
# pressing one when the prompt appears saves that wait.
STARTUP_PROMPT = b"to skip "
CONTINUE_KEY = b" "


class SetupError(Exception):
    """QEMU, OVMF or the image is missing: the run cannot start."""


# How a run ended.
AWAITED_END = "stopped at the awaited end"
EXITED = "QEMU exited by itself"
TIME_LIMIT = "stopped at the time limit"


@dataclass
class Run:
    serial: bytes  # every byte the 16550 UART at 0x3F8 sent: OVMF's console, the shell, the driver
    port80_log: str  # QEMU's trace of writes to its port-0x80 region
    ending: str  # AWAITED_END, EXITED or TIME_LIMIT
    exit_code: int
    seconds: float
    scratch: str
    notes: list[str] = field(default_factory=list)  # what QEMU wrote to stderr

    @property
    def powered_off(self):
        return self.ending == EXITED and self.exit_code == 0


def _check_setup(image):
    if shutil.which(QEMU) is None:
        raise SetupError(f"{QEMU} is not installed (scripts/setup installs qemu-system-x86)")
    for path, what in ((OVMF_CODE, "OVMF code"), (OVMF_VARS, "OVMF variable store")):
        if not os.path.isfile(path):
            raise SetupError(f"{what} {path} is missing (scripts/setup installs ovmf; OVMF_CODE/OVMF_VARS override)")
    if not os.path.isfile(image):
        raise SetupError(f"{image}: no such image (build the target ccx_firmware_image)")


def _prepare(image, scratch):
    disk = os.path.join(scratch, "disk")
    os.mkdir(disk)
    name = os.path.basename(image)
    shutil.copyfile(image, os.path.join(disk, name))
    with open(os.path.join(disk, "startup.nsh"), "w", newline="\r\n") as script:
        script.write(f"fs0:\nload {name}\nreset -s\n")
    vars_copy = os.path.join(scratch, "OVMF_VARS.fd")
    shutil.copyfile(OVMF_VARS, vars_copy)
    return disk, vars_copy


def _command(disk, vars_copy, trace_log):
    # The pc machine rather than q35: OVMF's configuration database answers the driver's own item
    # numbers with zero on pc, as the simulator's default machine does, so the driver takes the
    # same path as there. On q35 it answers non-zero and the driver joins an S3 record that is not
    # there, skipping the messages the simulator shows first. TCG: KVM is not dependable here.
    # -nodefaults leaves out the network card, so no network boot is tried before the shell.
    # Port 0x80 is recorded through QEMU's trace of its port-0x80 region: a debug console there
    # would keep only byte writes and drop the driver's 32-bit test points.
    return [
        QEMU, "-machine", "pc", "-accel", "tcg", "-m", str(MEMORY_MIB), "-nodefaults",
        "-display", "none", "-monitor", "none", "-no-reboot",
        "-drive", f"if=pflash,format=raw,unit=0,readonly=on,file={OVMF_CODE}",
        "-drive", f"if=pflash,format=raw,unit=1,file={vars_copy}",
        "-drive", f"if=none,id=disk,format=raw,readonly=on,file=fat:{disk}",
        "-device", "virtio-blk-pci,drive=disk",
        "-chardev", "stdio,id=serial,signal=off", "-serial", "chardev:serial",
        "-trace", "memory_region_ops_write", "-D", trace_log,
    ]


def _stop(process):
    process.terminate()
    try:
        process.wait(timeout=5)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def boot(image, condition, timeout):
    """Boots OVMF, loads `image` from the shell, and returns the Run.

    `condition(serial)` is checked on the serial text as it arrives; once it holds QEMU is stopped.
    After `timeout` seconds QEMU is stopped whatever happened. The scratch directory keeps
    serial.log, port80.log and qemu.stderr for the caller to keep or remove.
    """
    _check_setup(image)
    scratch = tempfile.mkdtemp(prefix="qemu-boot-")
    disk, vars_copy = _prepare(image, scratch)
    trace_log = os.path.join(scratch, "trace.log")
    serial = bytearray()
    pressed = False
    met = False
    closed = False
    started = time.monotonic()
    with open(os.path.join(scratch, "qemu.stderr"), "wb") as errors:
        process = subprocess.Popen(_command(disk, vars_copy, trace_log), stdin=subprocess.PIPE,
                                   stdout=subprocess.PIPE, stderr=errors, cwd=scratch)
        try:
            while not met and time.monotonic() - started < timeout:
                left = timeout - (time.monotonic() - started)
                ready, _, _ = select.select([process.stdout], [], [], max(0.0, min(left, 0.2)))
                if not ready:
                    continue
                chunk = os.read(process.stdout.fileno(), 65536)
                if not chunk:
                    closed = True  # QEMU closed the serial line: it is exiting
                    break
                serial += chunk
                if not pressed and STARTUP_PROMPT in serial:
                    process.stdin.write(CONTINUE_KEY)
                    process.stdin.flush()
                    pressed = True
                met = condition(bytes(serial))
        finally:
            exited_by_itself = process.poll() is not None or (closed and _exits_soon(process))
            if not exited_by_itself:
                _stop(process)
    seconds = time.monotonic() - started
    with open(os.path.join(scratch, "serial.log"), "wb") as log:
        log.write(serial)
    port80_log = _keep_port80_lines(trace_log, os.path.join(scratch, "port80.log"))
    with open(os.path.join(scratch, "qemu.stderr"), errors="replace") as log:
        notes = [line.rstrip() for line in log if line.strip()]
    shutil.rmtree(disk)
    os.remove(vars_copy)
    ending = AWAITED_END if met else EXITED if exited_by_itself else TIME_LIMIT
    return Run(bytes(serial), port80_log, ending, process.returncode, seconds, scratch, notes)


def _exits_soon(process):
    """QEMU closes the serial line as it exits; give it a moment to finish."""
    try:
        process.wait(timeout=2)
        return True
    except subprocess.TimeoutExpired:
        return False


def _keep_port80_lines(trace_log, port80_log):
    """Keeps only the trace lines of QEMU's port-0x80 region; the full trace is megabytes."""
    lines = []
    if os.path.isfile(trace_log):
        with open(trace_log, errors="replace") as log:
            lines = [line for line in log if "name 'ioport80'" in line]
        os.remove(trace_log)
    with open(port80_log, "w") as log:
        log.writelines(lines)
    return "".join(lines)
