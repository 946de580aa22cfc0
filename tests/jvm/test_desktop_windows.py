"""The Linux launcher on a desktop (Xvfb): without a terminal its messages and questions appear in
windows that the keyboard answers; with a terminal or without GTK it writes text and never waits."""

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

NO_MAIN_CLASS = ["[Product Information]", "Product Name=Ledger Pro", "[Java Runtime Environment]",
                 f"JRE Path={JDK_HOME}"]
# No runtime on this machine is version 99 or later: the missing-runtime question comes.
NO_FITTING_RUNTIME = ["[Java Runtime Environment]", "Main Class=Failures", "Minimum Version=99",
                      "[Class Path]", f"Class Path={CLASSES}"]
THROWING_MAIN = ["[Java Runtime Environment]", "Main Class=Failures", f"JRE Path={JDK_HOME}",
                 "[Class Path]", f"Class Path={CLASSES}", "[Application]", "Failure Check=Yes"]


class Desktop:
    """The launcher as `app` in a folder of its own, with an Xvfb and a home of its own."""

    def __init__(self, ini_lines):
        require(LAUNCHER.exists() and (CLASSES / "Failures.class").exists() and shutil.which("xdotool"),
                "cmake --build --preset linux, and xdotool")
        self.temp = tempfile.TemporaryDirectory()
        self.root = Path(self.temp.name)
        self.exe = self.root / "app" / "app"
        self.exe.parent.mkdir()
        shutil.copy(LAUNCHER, self.exe)
        (self.root / "app" / "app.ini").write_text("\n".join(ini_lines) + "\n")
        self.trace = self.root / "trace.txt"
        self.display = Display()
        self.env = utf8_env(XDG_CONFIG_HOME=str(self.root / "config"), QN_LAUNCHER_TRACE=str(self.trace),
                            DISPLAY=self.display.name)

    def __enter__(self):
        return self

    def __exit__(self, *_):
        if getattr(self, "process", None) and self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        self.display.close()
        self.temp.cleanup()

    def start(self, *args, **env):
        """As from a file manager: no terminal on any standard handle."""
        self.process = subprocess.Popen([str(self.exe), *args], cwd=self.exe.parent, env=dict(self.env, **env),
                                        stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def xdotool(self, *args):
        return subprocess.run(["xdotool", *args], env=self.env, capture_output=True, timeout=30).stdout.decode().split()

    def wait(self, title, shown=True):
        deadline = time.monotonic() + 60
        while bool(found := self.xdotool("search", "--onlyvisible", "--name", f"^{title}$")) != shown:
            assert self.process.poll() is None and time.monotonic() < deadline, f"{title}: {self.finish()}"
            time.sleep(0.2)
        return found

    def window(self, title, shot=None):
        """Waits for the window, gives it the keyboard, and keeps a picture of the screen."""
        self.xdotool("windowfocus", "--sync", self.wait(title)[-1])
        time.sleep(0.5)  # the first paint
        if shot:
            SHOTS.mkdir(parents=True, exist_ok=True)
            subprocess.run(["import", "-display", self.display.name, "-window", "root", str(SHOTS / shot)],
                           check=True, timeout=60)

    def finish(self):
        out, err = self.process.communicate(timeout=60)
        return {"exit": self.process.returncode, "out": out.decode("utf-8", "replace"),
                "err": err.decode("utf-8", "replace"), "trace": self.trace.read_text() if self.trace.exists() else ""}


def test_each_window_appears_without_a_terminal_and_the_keyboard_answers_it():
    # Escape is OK for the error, Cancel for the runtime question, Stop for the exception; Enter
    # ignores the exception. Each row: where the answer shows, and what it says.
    for ini, title, key, code, where, said, shot in [
        (NO_MAIN_CLASS, "Ledger Pro", "Escape", 255, "err", "Main class was not specified in INI file.",
         "linux-error-window.png"),
        (NO_FITTING_RUNTIME, "JRE Not Found", "Escape", 255, "trace", "the user chose no runtime",
         "linux-missing-runtime.png"),
        (THROWING_MAIN, "Java Exception", "Escape", 255, "trace", "exception question answered stop",
         "linux-exception.png"),
        (THROWING_MAIN, "Java Exception", "Return", 0, "trace", "exception question answered ignore", None),
    ]:
        with Desktop(ini) as desktop:
            desktop.start()
            desktop.window(title, shot)
            desktop.xdotool("key", "--clearmodifiers", key)
            got = desktop.finish()
        assert got["exit"] == code and said in got[where] and "no window" not in got["trace"], f"{title}: {got}"


def test_the_chosen_folder_is_checked_and_remembered():
    with Desktop(NO_FITTING_RUNTIME) as desktop:
        empty = desktop.root / "not a runtime"
        empty.mkdir()
        desktop.start("none")
        desktop.window("JRE Not Found")
        for folder in (empty, JDK_HOME):
            # Enter on Browse opens the chooser (OK cannot take the folder without a runtime);
            # Ctrl+L takes a typed folder once Delete has dropped the "/" the chooser completes.
            desktop.xdotool("key", "--clearmodifiers", "Return")
            desktop.window("Browse for JRE folder")
            desktop.xdotool("key", "--clearmodifiers", "ctrl+l")
            desktop.xdotool("type", "--delay", "30", str(folder))
            desktop.xdotool("key", "--clearmodifiers", "Delete", "Return")
            desktop.wait("Browse for JRE folder", shown=False)
            desktop.window("JRE Not Found", "linux-missing-runtime-chosen.png" if folder == JDK_HOME else None)
        desktop.xdotool("key", "--clearmodifiers", "Return")  # OK
        got = desktop.finish()
        remembered = (desktop.root / "config" / "app.ini").read_text()
    assert got["exit"] == 0 and "main runs" in got["out"], got
    assert f"folder {empty} holds no runtime to use" in got["trace"], got
    assert f"JRE Path={JDK_HOME}/" in remembered, got


def test_text_stays_where_there_is_a_terminal_or_no_gtk():
    require((NO_GTK / "libgtk-3.so.0").exists(), f"{NO_GTK}/libgtk-3.so.0 (cmake --build --preset linux)")
    # On a terminal the question is asked there, even with a display.
    with Desktop(THROWING_MAIN) as desktop:
        terminal = Terminal([str(desktop.exe)], env=desktop.env, cwd=desktop.exe.parent)
        terminal.read_until("Ignore or Stop? [I/s] ")
        terminal.type("s\n")
        assert terminal.finish()[0] == 255, terminal.text()
    # Without a usable GTK the start goes on by itself: the exception is ignored, the other two end it.
    for ini, code, text in [(NO_MAIN_CLASS, 255, "Main class was not specified in INI file."), (THROWING_MAIN, 0, ""),
                            (NO_FITTING_RUNTIME, 255, "The Java Runtime Environment (JRE) was not found.")]:
        with Desktop(ini) as desktop:
            desktop.start(LD_LIBRARY_PATH=str(NO_GTK))
            got = desktop.finish()
        assert got["exit"] == code and text in got["err"] and "no window: GTK 3 lacks" in got["trace"], got
