"""The Linux launcher on a desktop (Xvfb): without a terminal its messages and questions appear in
windows that the keyboard answers; with a terminal, without a display, or without GTK it writes
text as before and never waits."""

import os
import shutil
import subprocess
import tempfile
import time
from pathlib import Path

from jvm_harness import BINARY_DIR, CLASSES, JDK_HOME, LAUNCHER, Terminal, require, utf8_env
from test_splash import Display

SHOTS = Path(os.environ.get("QN_KEEP_SCREENSHOTS", BINARY_DIR / "screenshots"))
# A library named as GTK 3 that holds none of its functions: GTK as good as absent.
NO_GTK = BINARY_DIR / "tests" / "no-gtk"


class Desktop:
    """An application folder with the launcher as `app`, an Xvfb, and a home of its own."""

    def __init__(self, ini_lines, display=True):
        require(LAUNCHER.exists(), f"{LAUNCHER} (cmake --build --preset linux)")
        require(shutil.which("xdotool"), "xdotool")
        self.temp = tempfile.TemporaryDirectory()
        self.root = Path(self.temp.name)
        self.folder = self.root / "app"
        self.folder.mkdir()
        shutil.copyfile(LAUNCHER, self.folder / "app")
        (self.folder / "app").chmod(0o755)
        (self.folder / "app.ini").write_text("\n".join(ini_lines) + "\n")
        self.trace = self.root / "trace.txt"
        self.display = Display() if display else None
        self.process = None

    def env(self, **extra):
        env = utf8_env(XDG_CONFIG_HOME=str(self.root / "config"), QN_LAUNCHER_TRACE=str(self.trace), **extra)
        env.pop("WAYLAND_DISPLAY", None)
        env.pop("DISPLAY", None)
        if self.display:
            env["DISPLAY"] = self.display.name
        return env

    def start(self, *args, **env):
        """Started as from a file manager: no terminal on any standard handle."""
        self.process = subprocess.Popen([str(self.folder / "app"), *args], cwd=self.folder, env=self.env(**env),
                                        stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def xdotool(self, *args, timeout=30):
        done = subprocess.run(["xdotool", *args], env=dict(os.environ, DISPLAY=self.display.name),
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)
        return done.stdout.decode().split()

    def shown(self, title):
        return self.xdotool("search", "--onlyvisible", "--name", f"^{title}$")

    def wait(self, condition, what):
        deadline = time.monotonic() + 60
        while not condition():
            assert self.process.poll() is None, f"ended before {what}: {self.finish()}"
            assert time.monotonic() < deadline, f"no {what}: {self.trace.read_text() if self.trace.exists() else ''}"
            time.sleep(0.2)

    def window(self, title, shot=None):
        """Waits for the window of that title, gives it the keyboard, and keeps a picture of it."""
        self.wait(lambda: self.shown(title), f"window {title!r}")
        found = self.shown(title)
        self.xdotool("windowfocus", "--sync", found[-1])
        time.sleep(0.5)  # the first paint
        if shot:
            SHOTS.mkdir(parents=True, exist_ok=True)
            subprocess.run(["import", "-display", self.display.name, "-window", "root", str(SHOTS / shot)],
                           check=True, timeout=60)
        return found[-1]

    def keys(self, *keys):
        self.xdotool("key", "--clearmodifiers", *keys)

    def type(self, text):
        self.xdotool("type", "--delay", "30", text)

    def finish(self, timeout=60):
        out, err = self.process.communicate(timeout=timeout)
        trace = self.trace.read_text() if self.trace.exists() else ""
        return self.process.returncode, out.decode("utf-8", "replace"), err.decode("utf-8", "replace"), trace

    def close(self):
        if self.process and self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        if self.display:
            self.display.close()
        self.temp.cleanup()


def no_main_class():
    return ["[Product Information]", "Product Name=Ledger Pro", "[Java Runtime Environment]",
            f"JRE Path={JDK_HOME}"]


def no_fitting_runtime():
    # No runtime on this machine is version 99 or later: the missing-runtime question comes.
    return ["[Java Runtime Environment]", "Main Class=Failures", "Minimum Version=99",
            "[Class Path]", f"Class Path={CLASSES}"]


def throwing_main():
    return ["[Java Runtime Environment]", "Main Class=Failures", f"JRE Path={JDK_HOME}",
            "[Class Path]", f"Class Path={CLASSES}", "[Application]", "Failure Check=Yes"]


# Each kind of window: the ini that brings it, its title, and its picture for the docs.
WINDOWS = [
    ("error", no_main_class, "Ledger Pro", "linux-error-window.png"),
    ("runtime", no_fitting_runtime, "JRE Not Found", "linux-missing-runtime.png"),
    ("exception", throwing_main, "Java Exception", "linux-exception.png"),
]


def test_every_window_appears_without_a_terminal_and_escape_answers_it():
    require((CLASSES / "Failures.class").exists(), f"{CLASSES}/Failures.class")
    for kind, ini, title, shot in WINDOWS:
        desktop = Desktop(ini())
        try:
            desktop.start()
            desktop.window(title, shot)
            desktop.keys("Escape")
            code, out, err, trace = desktop.finish()
        finally:
            desktop.close()
        report = f"{kind}: exit {code}\nstdout: {out}\nstderr: {err}\ntrace: {trace}"
        # Escape is OK for the error, Cancel for the runtime question, Stop for the exception.
        assert code == 255, report
        assert "no window" not in trace, report
        if kind == "error":
            assert "Main class was not specified in INI file." in err, report
        if kind == "runtime":
            assert "the user chose no runtime" in trace, report
        if kind == "exception":
            assert "main runs" in out and "exception question answered stop" in trace, report


def test_enter_ignores_the_exception():
    desktop = Desktop(throwing_main())
    try:
        desktop.start()
        desktop.window("Java Exception")
        desktop.keys("Return")
        code, out, err, trace = desktop.finish()
    finally:
        desktop.close()
    assert code == 0 and "exception question answered ignore" in trace, f"exit {code}\n{err}\n{trace}"


def test_the_chosen_folder_is_checked_and_remembered():
    desktop = Desktop(no_fitting_runtime())
    empty = desktop.root / "not a runtime"
    empty.mkdir()
    try:
        desktop.start("none")
        desktop.window("JRE Not Found")
        for folder in (empty, JDK_HOME):
            # Browse has the keyboard: Enter opens the chooser (also after the folder without a
            # runtime, since OK cannot take that one), Ctrl+L and Enter take a typed folder once
            # Delete has dropped the "/" the chooser completes it with.
            desktop.keys("Return")
            desktop.window("Browse for JRE folder")
            desktop.keys("ctrl+l")
            desktop.type(str(folder))
            desktop.keys("Delete", "Return")
            desktop.wait(lambda: not desktop.shown("Browse for JRE folder"), "end of the chooser")
            desktop.window("JRE Not Found", "linux-missing-runtime-chosen.png" if folder == JDK_HOME else None)
        desktop.keys("Return")  # OK
        code, out, err, trace = desktop.finish()
        remembered = (desktop.root / "config" / "app.ini").read_text()
    finally:
        desktop.close()
    report = f"exit {code}\nstdout: {out}\nstderr: {err}\ntrace: {trace}"
    assert code == 0 and "main runs" in out, report
    assert f"folder {empty} holds no runtime to use" in trace, report
    assert f"JRE Path={JDK_HOME}/" in remembered, report


def test_text_stays_where_there_is_a_terminal_or_no_display_or_no_gtk():
    require((CLASSES / "Failures.class").exists(), f"{CLASSES}/Failures.class")
    require((NO_GTK / "libgtk-3.so.0").exists(), f"{NO_GTK}/libgtk-3.so.0 (cmake --build --preset linux)")
    # On a terminal the question is asked there, even with a display.
    desktop = Desktop(throwing_main())
    try:
        terminal = Terminal([str(desktop.folder / "app")], env=desktop.env(), cwd=desktop.folder)
        terminal.read_until("Ignore or Stop? [I/s] ")
        terminal.type("s\n")
        code, _ = terminal.finish()
        assert code == 255, terminal.text()
    finally:
        desktop.close()
    # Without a display, and with a display but no usable GTK, the start ends by itself.
    for name, display, env, said in [("no display", False, {}, None),
                                     ("no GTK", True, {"LD_LIBRARY_PATH": str(NO_GTK)}, "no window: GTK 3 lacks")]:
        for ini in (no_main_class, throwing_main, no_fitting_runtime):
            desktop = Desktop(ini(), display=display)
            try:
                desktop.start(**env)
                code, out, err, trace = desktop.finish(timeout=60)
            finally:
                desktop.close()
            report = f"{name}, {ini.__name__}: exit {code}\nstdout: {out}\nstderr: {err}\ntrace: {trace}"
            # The exception is ignored (exit 0); the other two end the start with -1.
            assert code == (0 if ini is throwing_main else 255), report
            if ini is no_main_class:
                assert "Main class was not specified in INI file." in err, report
            if ini is no_fitting_runtime:
                assert "The Java Runtime Environment (JRE) was not found." in err, report
            if said:
                assert said in trace, report
