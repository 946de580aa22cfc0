"""Helpers for the Linux end-to-end tests: the build's programs, a real JDK, pseudo-terminals."""

import os
import select
import subprocess
import time
from pathlib import Path

SOURCE_DIR = Path(__file__).resolve().parents[2]
BINARY_DIR = Path(os.environ.get("QN_BINARY_DIR", SOURCE_DIR / "build" / "linux"))
JDK_HOME = Path(os.environ.get("QN_JDK_HOME", "/usr/lib/jvm/java-17-openjdk-amd64"))
CLASSES = Path(os.environ.get("QN_JVM_CLASSES", BINARY_DIR / "tests" / "jvm-classes"))
LAUNCHER = BINARY_DIR / "qnlauncher"

# A test that wants a display starts an Xvfb of its own; the developer's desktop must not get
# the launcher's windows of every other test (and wait for someone to answer them).
for _variable in ("DISPLAY", "WAYLAND_DISPLAY"):
    os.environ.pop(_variable, None)


class Skip(Exception):
    """The test cannot run here (outside CI only)."""


def require(condition, what):
    """A missing tool skips a test on a developer's machine and fails it in CI."""
    if condition:
        return
    if os.environ.get("CI", "").lower() in ("1", "true", "yes"):
        raise AssertionError(f"required for the jvm suite: {what}")
    raise Skip(what)


def utf8_env(**extra):
    env = dict(os.environ)
    env.pop("LC_ALL", None)
    env["LANG"] = "C.UTF-8"
    env.update(extra)
    return env


class Terminal:
    """A process whose standard input and error are a pseudo-terminal; its standard output is a pipe."""

    def __init__(self, args, env=None, cwd=None):
        self.master, slave = os.openpty()
        self.process = subprocess.Popen(args, stdin=slave, stdout=subprocess.PIPE, stderr=slave,
                                        env=env, cwd=cwd, start_new_session=True)
        os.close(slave)
        self.screen = b""

    def read_until(self, text, timeout=30):
        """Reads the terminal until `text` has appeared; the screen so far otherwise fails."""
        wanted = text.encode()
        deadline = time.monotonic() + timeout
        while wanted not in self.screen:
            left = deadline - time.monotonic()
            if left <= 0:
                raise AssertionError(f"no {text!r} on the terminal; it shows:\n{self.text()}")
            ready, _, _ = select.select([self.master], [], [], left)
            if not ready:
                continue
            try:
                chunk = os.read(self.master, 4096)
            except OSError:  # the other side has closed
                chunk = b""
            if not chunk:
                raise AssertionError(f"the terminal closed before {text!r}; it shows:\n{self.text()}")
            self.screen += chunk
        return self.text()

    def type(self, text):
        os.write(self.master, text.encode())

    def finish(self, timeout=30):
        """Waits for the process; gives its exit code and standard output."""
        try:
            out, _ = self.process.communicate(timeout=timeout)
        finally:
            self.drain()
            os.close(self.master)
        return self.process.returncode, out.decode("utf-8", "replace")

    def drain(self):
        while True:
            ready, _, _ = select.select([self.master], [], [], 0)
            if not ready:
                return
            try:
                chunk = os.read(self.master, 4096)
            except OSError:
                return
            if not chunk:
                return
            self.screen += chunk

    def text(self):
        return self.screen.decode("utf-8", "replace")
