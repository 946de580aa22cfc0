"""Helpers for the Windows end-to-end tests: the win64 launcher under wine64, watched by qn_driver.

A test makes an application folder (make_app), runs the launcher through the driver (run) and
asserts on the Result: the windows it showed (caption, static texts, controls), the driver's
events and the full 32-bit exit code. See README.md in this folder.
"""

import atexit
import contextlib
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

SOURCE_DIR = Path(__file__).resolve().parents[2]
WIN64_DIR = SOURCE_DIR / "build" / "win64"
WIN32_DIR = SOURCE_DIR / "build" / "win32"
LAUNCHER = WIN64_DIR / "qnlauncher.exe"
CONSOLE_LAUNCHER = WIN64_DIR / "qnlauncher-console.exe"
DRIVER = WIN64_DIR / "tests" / "qn_driver.exe"
BINARY_DIR = Path(os.environ.get("QN_WINE_BINARY_DIR", SOURCE_DIR / "build" / "linux"))
PREFIX = BINARY_DIR / "wineprefix"
DRIVE_C = PREFIX / "drive_c"
APPS_DIR = DRIVE_C / "qn-tests"
SESSION_FILE = BINARY_DIR / "wine-session.json"
# Pictures of what the user sees, for the documentation (docs/images holds the current ones).
SCREENSHOTS = Path(os.environ.get("QN_SCREENSHOTS", BINARY_DIR / "screenshots"))

WINELOADER = Path("/usr/lib/wine/wine64")
WINESERVER = Path("/usr/lib/wine/wineserver")
XVFB = shutil.which("Xvfb") or "/usr/bin/Xvfb"

# What MessageBoxA shows when it is given no caption.
DEFAULT_CAPTION = "Error"
# The DPI of the documentation's pictures (200 %), and where wine reads it at each process's start.
SCREENSHOT_DPI = 192
DPI_KEY, DPI_VALUE = r"HKCU\Control Panel\Desktop", "LogPixels"

# The launcher's exit code -1 as Windows reports it.
EXIT_FAILURE = 4294967295

# The ANSI code page of the prefix; texts of the transcript and of ini files use it.
ANSI = "cp1252"


class Skip(Exception):
    """The suite cannot run here (outside CI only); the runner reports the test as skipped."""


def in_ci():
    return os.environ.get("CI", "").lower() in ("1", "true", "yes")


def require(condition, what):
    """Missing tools skip a test on a developer's machine and fail it in CI."""
    if condition:
        return
    if in_ci():
        raise AssertionError(f"required for the wine suite: {what}")
    raise Skip(what)


# --- Paths -----------------------------------------------------------------------------------------

def windows_path(path):
    """The wine path of a Linux path: C:\\... inside the prefix's drive_c, Z:\\... elsewhere."""
    path = Path(path).resolve()
    try:
        relative = path.relative_to(DRIVE_C.resolve())
        return "C:\\" + str(relative).replace("/", "\\") if str(relative) != "." else "C:\\"
    except ValueError:
        return "Z:" + str(path).replace("/", "\\")


def linux_path(path):
    """The Linux path of a wine C:\\ or Z:\\ path."""
    drive, rest = path[:2].upper(), path[2:].replace("\\", "/").lstrip("/")
    if drive == "C:":
        return DRIVE_C / rest
    if drive == "Z:":
        return Path("/") / rest
    raise ValueError(f"no Linux path for {path}")


# --- The wine session ------------------------------------------------------------------------------

def _pid_alive(pid):
    try:
        os.kill(pid, 0)
        return True
    except (OSError, TypeError):
        return False


def _read_session():
    try:
        session = json.loads(SESSION_FILE.read_text())
    except (OSError, ValueError):
        return None
    return session if _pid_alive(session.get("xvfb_pid")) else None


def base_env(display=None):
    env = dict(os.environ)
    env.update(
        WINEPREFIX=str(PREFIX),
        WINELOADER=str(WINELOADER),
        WINEDEBUG="-all",
        WINEARCH="win64",
        # No gecko or mono installers while the prefix is made.
        WINEDLLOVERRIDES="mscoree=;mshtml=",
    )
    if display:
        env["DISPLAY"] = display
    env.pop("WAYLAND_DISPLAY", None)
    # One locale for every machine: en-US, ANSI code page 1252.
    env.pop("LC_ALL", None)
    env["LANG"] = "en_US.UTF-8"
    return env


def check_tools():
    require(WINELOADER.exists(), f"{WINELOADER} (package wine64)")
    require(WINESERVER.exists(), f"{WINESERVER} (package wine64)")
    require(Path(XVFB).exists(), "Xvfb (package xvfb)")


def check_build():
    require(LAUNCHER.exists(), f"{LAUNCHER} (cmake --build --preset win64)")
    require(DRIVER.exists(), f"{DRIVER} (cmake --build --preset win64)")


class Completed:
    def __init__(self, returncode, stdout, stderr):
        self.returncode = returncode
        self.stdout = stdout
        self.stderr = stderr


def call(command, env, timeout=120, check=True):
    """Runs a command with its output in files, never in pipes: wine processes may leave a
    wineserver or a service running that would hold a pipe open, and a reader would wait for ever."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        process = subprocess.run([str(c) for c in command], env=env, timeout=timeout,
                                 stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        out.seek(0)
        err.seek(0)
        completed = Completed(process.returncode, out.read(), err.read())
    if check and completed.returncode != 0:
        raise AssertionError(f"{command} failed ({completed.returncode}): "
                             f"{completed.stderr.decode(errors='replace')}")
    return completed


def _wine(args, env, timeout=120, check=True):
    return call([WINELOADER] + list(args), env, timeout=timeout, check=check)


def _make_prefix(env):
    """Creates the private prefix once: a plain 64-bit prefix tuned for tests."""
    marker = PREFIX / ".qn-ready"
    if marker.exists():
        return
    if PREFIX.exists():
        shutil.rmtree(PREFIX)
    PREFIX.parent.mkdir(parents=True, exist_ok=True)
    _wine(["wineboot", "-i"], env, timeout=600)
    call([WINESERVER, "-w"], env, timeout=300, check=False)
    settings = (
        "REGEDIT4\n\n"
        # No window manager under Xvfb: unmanaged windows hide at once instead of waiting for one.
        "[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\n\"Managed\"=\"N\"\n\n"
        # No sound device: the error box's beep must not wait for one.
        "[HKEY_CURRENT_USER\\Software\\Wine\\Drivers]\n\"Audio\"=\"\"\n\n"
    )
    reg_file = PREFIX / "qn-settings.reg"
    reg_file.write_text(settings.replace("\n", "\r\n"))
    _wine(["regedit", "/S", windows_path(reg_file)], env)
    call([WINESERVER, "-w"], env, timeout=300, check=False)
    marker.write_text("ready\n")


def _start_xvfb():
    read_fd, write_fd = os.pipe()
    process = subprocess.Popen(
        [XVFB, "-displayfd", str(write_fd), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
        pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
        start_new_session=True)
    os.close(write_fd)
    number = b""
    deadline = time.time() + 30
    while not number.endswith(b"\n") and time.time() < deadline:
        chunk = os.read(read_fd, 16)
        if not chunk:
            break
        number += chunk
    os.close(read_fd)
    if not number.strip():
        process.kill()
        raise AssertionError("Xvfb did not start")
    return process.pid, ":" + number.decode().strip()


def start_session():
    """Makes the prefix, starts one Xvfb and one persistent wineserver for the whole suite."""
    check_tools()
    stop_session()
    xvfb_pid, display = _start_xvfb()
    env = base_env(display)
    try:
        _make_prefix(env)
        # A persistent server saves every later wine process its start-up.
        call([WINESERVER, "-p"], env, timeout=60)
        # Start the prefix's own processes (explorer, services) once, now.
        _wine(["cmd", "/c", "exit"], env, check=False)
        # 96 DPI, whatever a run that was killed inside screen_dpi left behind.
        _wine(["reg", "add", DPI_KEY, "/v", DPI_VALUE, "/t", "REG_DWORD", "/d", "96", "/f"], env)
    except BaseException:
        os.kill(xvfb_pid, signal.SIGTERM)
        raise
    SESSION_FILE.parent.mkdir(parents=True, exist_ok=True)
    SESSION_FILE.write_text(json.dumps({"xvfb_pid": xvfb_pid, "display": display}))
    return display


def stop_session():
    """Ends the suite's wineserver (and everything in the prefix) and its Xvfb."""
    session = None
    try:
        session = json.loads(SESSION_FILE.read_text())
    except (OSError, ValueError):
        pass
    if PREFIX.exists() and WINESERVER.exists():
        call([WINESERVER, "-k"], base_env(), timeout=60, check=False)
    if session and _pid_alive(session.get("xvfb_pid")):
        os.kill(session["xvfb_pid"], signal.SIGTERM)
    try:
        SESSION_FILE.unlink()
    except OSError:
        pass


_own_session = False


def session_env():
    """The environment of a wine process: the suite's session, or one of our own for a lone run."""
    global _own_session
    check_tools()
    check_build()
    session = _read_session()
    if session:
        return base_env(session["display"])
    display = start_session()
    if not _own_session:
        _own_session = True
        atexit.register(stop_session)
    return base_env(display)


# --- Application folders ---------------------------------------------------------------------------

def screenshot(name):
    """The whole Xvfb screen as SCREENSHOTS/name.png."""
    SCREENSHOTS.mkdir(parents=True, exist_ok=True)
    target = SCREENSHOTS / f"{name}.png"
    subprocess.run(["import", "-display", session_env()["DISPLAY"], "-window", "root", str(target)],
                   check=True, timeout=60)
    return target


def window_icons(caption):
    """The icons wine handed to the X window titled `caption`: [(width, height, [ARGB, ...] by rows)]."""
    def output(*command):
        return subprocess.run(command, env=session_env(), timeout=60, capture_output=True, text=True).stdout
    icons = []
    for window in output("xdotool", "search", "--name", f"^{caption}$").split():
        icon = output("xprop", "-id", window, "-notype", "32c", "_NET_WM_ICON").partition("=")[2]
        values = [int(v) for v in icon.split(",") if v.strip()]
        while values:
            width, height = values[:2]
            icons.append((width, height, values[2:2 + width * height]))
            values = values[2 + width * height:]
    return icons


def crop(picture, rect, margin=0):
    """Cuts a screenshot down to a window's screen rectangle (left, top, right, bottom) and a margin
    around it, within the screen; gives the picture's new size."""
    left, top, right, bottom = rect
    left, top = max(left - margin, 0), max(top - margin, 0)
    width, height = right + margin - left, bottom + margin - top
    subprocess.run(["convert", str(picture), "-crop", f"{width}x{height}+{left}+{top}", "+repage",
                    str(picture)], check=True, timeout=60)
    return picture_size(picture)


def picture_size(picture):
    out = subprocess.run(["identify", "-format", "%w %h", str(picture)], check=True, timeout=60,
                         capture_output=True, text=True).stdout
    return tuple(int(n) for n in out.split())


def ini_text(sections):
    """An ini from {section: {key: value}} (or a ready text), with CR LF line ends."""
    if isinstance(sections, str):
        text = sections
    else:
        lines = []
        for section, keys in sections.items():
            lines.append(f"[{section}]")
            lines.extend(f"{key}={value}" for key, value in keys.items())
            lines.append("")
        text = "\n".join(lines)
    return text.replace("\r\n", "\n").replace("\n", "\r\n")


class App:
    """An application folder inside the prefix with a copy of the launcher."""

    def __init__(self, folder, exe):
        self.folder = Path(folder)
        self.exe = exe

    @property
    def exe_path(self):
        return self.folder / self.exe

    @property
    def windows_exe(self):
        return windows_path(self.exe_path)

    @property
    def windows_folder(self):
        return windows_path(self.folder)

    def path(self, relative):
        return self.folder / relative

    def copy_launcher(self, name, launcher=LAUNCHER):
        """Another copy of the launcher in the same folder (tool.exe beside other.exe)."""
        shutil.copyfile(launcher, self.folder / name)
        return App(self.folder, name)

    def write_ini(self, sections, name=None):
        """The configuration file; by default the one of this executable (tool.exe: tool.ini)."""
        if name is None:
            name = Path(self.exe).stem + ".ini"
        self.write_file(name, ini_text(sections).encode(ANSI))
        return self.folder / name

    def write_file(self, relative, content):
        target = self.folder / relative
        target.parent.mkdir(parents=True, exist_ok=True)
        if isinstance(content, str):
            content = content.encode(ANSI)
        target.write_bytes(content)
        return target


def make_app(name, exe="tool.exe", ini=None, launcher=LAUNCHER):
    """A fresh folder C:\\qn-tests\\<name> holding the launcher as <exe> and, if given, its ini."""
    require(Path(launcher).exists(), f"{launcher} (cmake --build --preset win64)")
    folder = APPS_DIR / name
    if folder.exists():
        shutil.rmtree(folder)
    folder.mkdir(parents=True)
    shutil.copyfile(launcher, folder / exe)
    app = App(folder, exe)
    if ini is not None:
        app.write_ini(ini)
    return app


# --- Running ---------------------------------------------------------------------------------------

class Window:
    """One window of the launcher as the driver recorded it (first sight, or a later snapshot)."""

    def __init__(self, event):
        self.event = event
        self.index = event["window"]
        self.window_class = event["class"]
        self.caption = _text(event["caption"])
        self.controls = [dict(c, text=_text(c["text"])) for c in event["controls"]]

    @property
    def is_dialog(self):
        return self.window_class == "#32770"

    @property
    def texts(self):
        """The non-empty static texts, in control order (a message box: its message)."""
        return [c["text"] for c in self.controls if c["class"].lower() == "static" and c["text"]]

    @property
    def text(self):
        return "\n".join(self.texts)

    @property
    def buttons(self):
        return [c["text"] for c in self.controls if c["class"].lower() == "button"]

    def control(self, control_id):
        for c in self.controls:
            if c["id"] == control_id:
                return c
        raise KeyError(f"window {self.index} has no control {control_id}: {self.controls}")

    def __repr__(self):
        return f"Window({self.index}, {self.window_class!r}, {self.caption!r}, {self.texts!r})"


def _text(value):
    # The driver writes each ANSI byte as one code point below 256.
    return value.encode("latin-1").decode(ANSI, errors="replace")


class Result:
    def __init__(self, events, stdout, stderr):
        self.events = events
        self.stdout = stdout
        self.stderr = stderr
        self.windows = [Window(e) for e in events if e["event"] == "window"]
        self.snapshots = [Window(e) for e in events if e["event"] == "snapshot"]
        exits = [e for e in events if e["event"] == "exit"]
        self.exit_code = exits[-1]["code"] if exits else None
        self.timed_out = any(e["event"] == "timeout" for e in events)
        self.failed_steps = [e for e in events if e["event"] == "step-failed"]
        self.dismissed = [e["window"] for e in events if e["event"] == "dismiss"]
        self.console = b"".join(e["text"].encode("latin-1") for e in events if e["event"] == "console")

    @property
    def dialogs(self):
        """Message boxes and dialogs, in the order they appeared."""
        return [w for w in self.windows if w.is_dialog]

    def describe(self):
        return "\n".join(json.dumps(e) for e in self.events) + (
            f"\nstderr: {self.stderr}" if self.stderr.strip() else "")

    def check(self):
        """Fails on what no test wants: a timeout, a step that could not be done, no exit code."""
        assert not self.timed_out, "the launcher did not end in time:\n" + self.describe()
        assert not self.failed_steps, "a step failed:\n" + self.describe()
        assert self.exit_code is not None, "no exit code:\n" + self.describe()
        return self


def _escape(text):
    out = []
    for byte in text.encode(ANSI):
        if byte < 0x20 or byte == 0x25 or byte >= 0x7F:
            out.append("%%%02X" % byte)
        else:
            out.append(chr(byte))
    return "".join(out)


def run(app, args=None, cmdline=None, steps=(), env=None, unset=(), cwd=None, timeout=30,
        settle_ms=150, dismiss=True, locale=None, streams=False, console=None, stdin=None):
    """Starts the launcher through the driver and waits for it to end.

    app      an App (or a Linux path of an executable)
    args     text put after the quoted program path (ignored when cmdline is given)
    cmdline  the exact command line, program name included
    steps    driver actions in order: "press:OK", "press:2", "window", "key:ESC", "close",
             "snapshot", "browse:C:\\Java\\jre", "wait:200" (see qn_driver.cpp)
    env      {name: value} set for the launcher; unset: names removed for it
    cwd      the launcher's current folder (a Windows path)
    dismiss  answer windows no step is left for (Cancel, else OK), so nothing hangs
    locale   the Unix locale of the driver and the launcher (LC_ALL), which sets the ANSI code
             page: "ja_JP.UTF-8" gives 932 (the Windows environment cannot change it)
    streams  standard output and error go to files: Result.output, .error_output; with stdin (bytes)
             the launcher reads its standard input from a file of them
    console  the launcher shares a new console of this output code page: Result.console (UTF-8)
    """
    if isinstance(app, App):
        exe = app.windows_exe
        work = app.folder
    else:
        exe = windows_path(app)
        work = Path(app).parent
    if cmdline is None:
        cmdline = f'"{exe}"' + (f" {args}" if args else "")
    stamp = f"{os.getpid()}-{time.monotonic_ns()}"
    script = work / f".driver-{stamp}.txt"
    out = work / f".driver-{stamp}.jsonl"
    lines = [f"exe {_escape(exe)}", f"cmdline {_escape(cmdline)}", f"out {_escape(windows_path(out))}",
             f"timeout {int(timeout * 1000)}", f"settle {settle_ms}",
             f"dismiss {'on' if dismiss else 'off'}"]
    if cwd:
        lines.append(f"cwd {_escape(cwd)}")
    for name, value in (env or {}).items():
        lines.append(f"env {_escape(name)}={_escape(value)}")
    lines.extend(f"unset {_escape(name)}" for name in unset)
    if console:
        lines.append(f"console {console}")
    if streams:
        lines.append(f"streams {_escape(windows_path(work / f'.driver-{stamp}'))}")
        if stdin is not None:
            (work / f".driver-{stamp}.in").write_bytes(stdin)
    lines.extend(f"step {_escape(step)}" for step in steps)
    script.write_text("\n".join(lines) + "\n", encoding="ascii")
    wine_env = session_env()
    if locale:
        wine_env["LC_ALL"] = locale
    started = time.monotonic()
    completed = call([WINELOADER, DRIVER, "run", windows_path(script)], wine_env,
                     timeout=timeout + 60, check=False)
    elapsed = time.monotonic() - started
    try:
        raw = out.read_text(encoding="ascii")
    except OSError:
        raw = ""
    events = [json.loads(line) for line in raw.splitlines() if line.strip()]
    result = Result(events, completed.stdout.decode(errors="replace"),
                    completed.stderr.decode(errors="replace"))
    written = [work / f".driver-{stamp}.{kind}" for kind in ("out", "err")]
    result.output, result.error_output = (path.read_bytes() if path.exists() else b"" for path in written)
    for path in (script, out, *written, work / f".driver-{stamp}.in"):
        try:
            path.unlink()
        except OSError:
            pass
    if completed.returncode not in (0, 4) or not events:
        # Without a single event the driver did not get as far as starting the launcher.
        raise AssertionError(f"the driver failed ({completed.returncode}) after {elapsed:.2f} s, "
                             f"{len(events)} events, standard output {result.stdout[-2000:]!r}:\n"
                             + result.describe())
    return result


def load_strings(exe, first, last):
    """The string-table entries first..last of an executable as LoadStringA gives them."""
    completed = call([WINELOADER, DRIVER, "strings", windows_path(exe), first, last],
                     session_env(), timeout=60, check=False)
    assert completed.returncode == 0, completed.stderr.decode(errors="replace")
    strings = {}
    for line in completed.stdout.decode("ascii").splitlines():
        entry = json.loads(line)
        if not entry.get("missing"):
            strings[entry["id"]] = _text(entry["text"])
    return strings


# --- Registry of the prefix ------------------------------------------------------------------------

def reg_import(text):
    """Imports a .reg text (REGEDIT4 is put in front when missing) into the prefix."""
    if not text.lstrip().startswith(("REGEDIT4", "Windows Registry Editor")):
        text = "REGEDIT4\n\n" + text
    APPS_DIR.mkdir(parents=True, exist_ok=True)
    reg_file = APPS_DIR / f".import-{os.getpid()}.reg"
    reg_file.write_bytes(text.replace("\r\n", "\n").replace("\n", "\r\n").encode(ANSI))
    try:
        _wine(["regedit", "/S", windows_path(reg_file)], session_env())
    finally:
        reg_file.unlink()


def reg_add(key, name, value, kind="REG_SZ"):
    """One value, e.g. reg_add(r"HKLM\\Software\\JavaSoft\\Java Runtime Environment\\17", "JavaHome", r"C:\\jre")."""
    _wine(["reg", "add", key, "/v", name, "/t", kind, "/d", value, "/f"], session_env())


def reg_delete(key):
    """Removes a key and everything below it; a missing key is no error."""
    _wine(["reg", "delete", key, "/f"], session_env(), check=False)


@contextlib.contextmanager
def screen_dpi(dpi):
    """Processes started inside see a screen of `dpi` (the prefix is shared: tests run one by one)."""
    reg_add(DPI_KEY, DPI_VALUE, str(dpi), "REG_DWORD")
    try:
        yield
    finally:
        reg_add(DPI_KEY, DPI_VALUE, "96", "REG_DWORD")


def reg_query(key):
    completed = _wine(["reg", "query", key], session_env(), check=False)
    return completed.stdout.decode(errors="replace") if completed.returncode == 0 else None


# --- String table source ---------------------------------------------------------------------------

def configured_download_link(build=WIN64_DIR):
    import re
    return re.search(r'QN_DOWNLOAD_LINK "([^"]+)"', (build / "generated/res/download_link.h").read_text()).group(1)


def string_table_source():
    """{id: text} of res/string_table.inc, its C escapes decoded."""
    import re
    text = (SOURCE_DIR / "res" / "string_table.inc").read_text(encoding="ascii")
    entries = {}
    for match in re.finditer(r'QN_STRING\((\d+),\s*"((?:[^"\\]|\\.)*)"\)', text):
        entries[int(match.group(1))] = _c_unescape(match.group(2))
    return entries


def _c_unescape(text):
    simple = {"n": "\n", "t": "\t", "r": "\r", "\\": "\\", '"': '"', "'": "'", "0": "\0"}
    out, i = [], 0
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text):
            out.append(simple.get(text[i + 1], text[i + 1]))
            i += 2
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


if __name__ == "__main__":
    sys.exit("harness.py is a module; run tests through run.py or ctest -L wine")
