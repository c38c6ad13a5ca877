"""Shared pieces of the reliability scripts: lay out a simulated device, boot it through
`kestrel boot DIR` fed from a pipe, and look at the processes that belong to it."""

import os
import queue
import shutil
import subprocess
import sys
import tempfile
import threading
import time

SPRINGBOARD_PATH = "/System/Library/CoreServices/SpringBoard.app/SpringBoard"
SETTINGS_PATH = "/var/mobile/Library/Preferences/com.plover.kestrelprefs.plist"
KILLALL_PATH = "/usr/bin/killall"
SYSLOG_PATH = "/var/log/syslog"


def repository_root():
    return os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def find_kestrel(given):
    """The kestrel binary: the argument, else $KESTREL, else the default preset's build."""
    candidate = given or os.environ.get("KESTREL") or os.path.join(repository_root(), "build/default/bin/kestrel")
    if not (os.path.isfile(candidate) and os.access(candidate, os.X_OK)):
        sys.exit(f"kestrel not found at {candidate} (pass its path, or set KESTREL)")
    return os.path.abspath(candidate)


def make_device(kestrel, companion=False):
    """A fresh device directory (its real path), laid out by `kestrel init`."""
    root = os.path.realpath(tempfile.mkdtemp(prefix="kestrel-reliability."))
    command = [kestrel, "init", root] + (["--companion"] if companion else [])
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, timeout=60)
    return root


def remove_device(root):
    shutil.rmtree(root, ignore_errors=True)


def read_bytes(path):
    try:
        with open(path, "rb") as stream:
            return stream.read()
    except FileNotFoundError:
        return None


def _executable_of(pid):
    try:
        path = os.readlink(f"/proc/{pid}/exe")
    except OSError:
        return None
    return path[: -len(" (deleted)")] if path.endswith(" (deleted)") else path


def _stat_of(pid):
    """(command name, state letter, parent pid) of a process, or None once it is gone."""
    try:
        with open(f"/proc/{pid}/stat", "rb") as stream:
            text = stream.read().decode("utf-8", "replace")
    except OSError:
        return None
    open_paren, close_paren = text.find("("), text.rfind(")")
    fields = text[close_paren + 2 :].split()
    return text[open_paren + 1 : close_paren], fields[0], int(fields[1])


def _pids():
    return [int(name) for name in os.listdir("/proc") if name.isdigit()]


def processes_of_device(root):
    """{pid: executable} of the live processes whose executable lies under the device."""
    prefix = root.rstrip("/") + "/"
    found = {}
    for pid in _pids():
        executable = _executable_of(pid)
        if executable and executable.startswith(prefix):
            found[pid] = executable
    return found


def springboard_pids(root):
    return sorted(pid for pid, path in processes_of_device(root).items() if path == root + SPRINGBOARD_PATH)


def zombies(parents=None, names=None):
    """[(pid, name, parent)] of zombie processes, limited to the given parents and/or names."""
    found = []
    for pid in _pids():
        stat = _stat_of(pid)
        if not stat or stat[1] != "Z":
            continue
        if parents is not None and stat[2] not in parents:
            continue
        if names is not None and stat[0] not in names:
            continue
        found.append((pid, stat[0], stat[2]))
    return found


def is_alive(pid):
    stat = _stat_of(pid)
    return stat is not None and stat[1] != "Z"


class BootedDevice:
    """One `kestrel boot DIR` process, fed scenario lines through its standard input."""

    def __init__(self, kestrel, root, real_time=False):
        self.root = root
        command = [kestrel, "boot", root] + (["--real-time"] if real_time else [])
        self.process = subprocess.Popen(
            command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, bufsize=1
        )
        self.timeline = []
        self.failures = []
        self.errors = []
        self._lines = queue.Queue()
        self._readers = [
            threading.Thread(target=self._read, args=(self.process.stdout, True), daemon=True),
            threading.Thread(target=self._read, args=(self.process.stderr, False), daemon=True),
        ]
        for reader in self._readers:
            reader.start()

    def _read(self, stream, is_stdout):
        for line in stream:
            line = line.rstrip("\n")
            if not is_stdout:
                self.errors.append(line)
                continue
            if line.startswith("FAIL "):
                self.failures.append(line)
            self.timeline.append(line)
            self._lines.put(line)
        if is_stdout:
            self._lines.put(None)

    @property
    def pid(self):
        return self.process.pid

    def send(self, *lines):
        for line in lines:
            self.process.stdin.write(line + "\n")
        self.process.stdin.flush()

    def state(self, timeout=60):
        """Sends `state` and returns its fields once every command before it has run."""
        self.send("state")
        deadline = time.monotonic() + timeout
        while True:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise TimeoutError(f"no state line from kestrel within {timeout} s")
            try:
                line = self._lines.get(timeout=remaining)
            except queue.Empty:
                continue
            if line is None:
                raise RuntimeError("kestrel ended before answering state; stderr: " + " | ".join(self.errors[-5:]))
            words = line.split()
            if len(words) >= 2 and words[1] == "state":
                return dict(word.split("=", 1) for word in words[2:] if "=" in word)

    def close(self, timeout=60):
        """Ends the input and waits for kestrel to shut the device down; returns its exit code."""
        try:
            self.process.stdin.close()
        except BrokenPipeError:
            pass
        try:
            code = self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            code = self.process.wait()
        for reader in self._readers:
            reader.join(timeout=5)
        return code


class Checks:
    """Counts failed checks and prints each one as it happens."""

    def __init__(self, name):
        self.name = name
        self.failed = 0

    def expect(self, condition, message):
        if not condition:
            self.failed += 1
            print(f"{self.name}: FAILED: {message}", flush=True)
        return condition

    def finish(self):
        print(f"{self.name}: {'passed' if not self.failed else f'{self.failed} check(s) failed'}", flush=True)
        return 0 if not self.failed else 1


def end_strays(root, checks):
    """Reports, then ends by pid, any process of this device still alive after kestrel exited."""
    strays = processes_of_device(root)
    checks.expect(not strays, f"processes of the device left after kestrel exited: {strays}")
    for pid in strays:
        try:
            os.kill(pid, 9)
        except ProcessLookupError:
            pass
    return len(strays)
