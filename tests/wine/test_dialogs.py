"""The two modal dialogs driven as a user would: the missing-runtime dialog (its texts, OK following
the browsed folder, what OK remembers and where) and the uncaught-exception dialog (the trace,
Ignore and Stop, and how it resizes), against the stand-in runtime."""

import os
import shutil
import subprocess
import threading
import time
from pathlib import Path

import pe
from harness import (ANSI, DEFAULT_CAPTION, EXIT_FAILURE, LAUNCHER, SCREENSHOT_DPI, WIN64_DIR, crop, make_app,
                     run, screen_dpi, screenshot, window_icons, windows_path)

STANDIN = WIN64_DIR / "tests" / "standin"  # holds bin\client\jvm.dll only
MESSAGE_207 = ("The Java Runtime Environment (JRE) was not found. Please  download and install a JRE "
               "(%s) from:")
MESSAGE_206 = ("The Java Runtime Environment (JRE) was not found. Please  download and install a JRE "
               "with a server JVM (%s) from:")
PRODUCT = {"Product Name": "My Tool: Pro", "Product Code": "{0A1B}"}


# --- Missing runtime ---------------------------------------------------------------------------

class NoRuntimeApp:
    """An application that finds no runtime: none configured, none beside it, none registered
    new enough. Its own APPDATA folder keeps the per-user file inside the test's folder."""

    def __init__(self, name, runtime=None, application=None):
        section = {"Main Class": "com.example.App", "Minimum Version": "1.6"}
        section.update(runtime or {})
        ini = {"Product Information": PRODUCT, "Java Runtime Environment": section,
               "Class Path": {"Class Path": "app.jar"}}
        if application:
            ini["Application"] = application
        self.app = make_app(name, ini=ini)
        self.app.write_file("app.jar", b"")
        (self.app.folder / "appdata").mkdir()
        self.user_file = self.app.folder / "appdata" / "My Tool Pro" / "{0A1B}" / "tool.ini"

    @property
    def folder(self):
        return self.app.folder

    def run(self, steps, env=None):
        environment = {"APPDATA": windows_path(self.app.folder / "appdata"),
                       "QN_STANDIN_RECORD": str(self.app.folder / "record.txt")}
        environment.update(env or {})
        return run(self.app, steps=steps, env=environment).check()

    def files(self):
        """Every file of the folder with its content, the driver's own left out."""
        return {str(p.relative_to(self.app.folder)): p.read_bytes()
                for p in sorted(self.app.folder.rglob("*"))
                if p.is_file() and not p.name.startswith(".driver-")}

    def main_was_called(self):
        record = self.app.folder / "record.txt"
        return record.exists() and "main.class=" in record.read_text(encoding="utf-8")


def browse(folder):
    """Browse... and the folder picked in the folder browser."""
    return ["press:202", "browse:" + folder]


def runtime_dialogs(result):
    return [w for w in result.dialogs + result.snapshots if w.caption == "JRE Not Found"]


def empty_folder(app, name="empty"):
    folder = app.folder / name
    folder.mkdir(exist_ok=True)
    return windows_path(folder)


def runtime_copy(app, flavours=("client",)):
    """A runtime home inside the test's folder holding the stand-in in the given flavours."""
    home = app.folder / "jre6"
    for flavour in flavours:
        (home / "bin" / flavour).mkdir(parents=True, exist_ok=True)
        shutil.copyfile(STANDIN / "bin" / "client" / "jvm.dll", home / "bin" / flavour / "jvm.dll")
    return windows_path(home)


def test_the_dialog_says_what_is_needed_and_starts_with_ok_disabled():
    cases = [
        ("client first", {}, MESSAGE_207 % "minimum version 1.6"),
        ("favor_server", {"JVM Type": "favor_server"}, MESSAGE_207 % "minimum version 1.6"),
        ("server", {"JVM Type": "server"}, MESSAGE_206 % "minimum version 1.6"),
        ("exact", {"Minimum Version": "1.6.0_10", "Maximum Version": "1.6.0_10"},
         MESSAGE_207 % "version 1.6.0.10 is required"),
    ]
    for name, runtime, message in cases:
        app = NoRuntimeApp("missing_texts", runtime=runtime)
        result = app.run(["window", "press:Cancel"])
        dialog = result.dialogs[0]
        assert dialog.caption == "JRE Not Found", (name, result.describe())
        assert dialog.control(203)["text"] == message, (name, dialog.control(203))
        assert dialog.control(205)["text"] == "https://adoptium.net/", name
        assert dialog.control(201)["text"] == "", name
        assert "JRE Path:" in dialog.texts, dialog.texts
        assert "If you have a JRE installed you can browse for it below:" in dialog.texts
        assert not dialog.control(1)["enabled"], name
        assert dialog.control(2)["enabled"] and dialog.control(202)["enabled"], name
        assert [dialog.control(i)["text"] for i in (1, 2, 202)] == ["OK", "Cancel", "Browse..."]
        # The stop icon is set into control 204, and the link reacts to the mouse.
        assert dialog.control(204)["class"].lower() == "static", name
        assert dialog.control(205)["style"] & 0x100, "the link takes the mouse (SS_NOTIFY)"
        assert result.exit_code == EXIT_FAILURE, name


def test_cancel_escape_and_the_close_box_end_the_launcher_and_change_no_file():
    for ending in (["press:Cancel"], ["key:ESC"], ["close"],
                   browse("%RUNTIME%") + ["press:Cancel"], browse("%RUNTIME%") + ["close"]):
        app = NoRuntimeApp("missing_cancel")
        runtime = runtime_copy(app)
        before = app.files()
        result = app.run(["window"] + [s.replace("%RUNTIME%", runtime) for s in ending])
        assert len(runtime_dialogs(result)) >= 1, (ending, result.describe())
        assert result.exit_code == EXIT_FAILURE, (ending, result.describe())
        assert app.files() == before, ending
        assert not app.user_file.exists(), ending
        assert not app.main_was_called(), ending


def test_ok_follows_the_last_browse():
    app = NoRuntimeApp("missing_browse")
    empty, runtime = empty_folder(app), runtime_copy(app)
    steps = (["window"] + browse(empty) + ["snapshot"] + browse(runtime) + ["snapshot"] +
             browse(empty) + ["snapshot", "key:ENTER", "snapshot", "press:Cancel"])
    result = app.run(steps)
    seen = [(w.control(201)["text"], w.control(1)["enabled"]) for w in result.snapshots
            if w.caption == "JRE Not Found"]
    # Enter while OK is disabled does not confirm the empty folder.
    assert seen == [(empty, False), (runtime, True), (empty, False), (empty, False)], result.describe()
    assert result.exit_code == EXIT_FAILURE
    assert not app.user_file.exists()


def test_a_server_only_application_needs_the_server_flavour():
    for flavours, accepted in ((("client",), False), (("client", "server"), True)):
        app = NoRuntimeApp("missing_server", runtime={"JVM Type": "server"})
        runtime = runtime_copy(app, flavours)
        result = app.run(["window"] + browse(runtime) + ["snapshot", "press:Cancel"])
        snapshot = [w for w in result.snapshots if w.caption == "JRE Not Found"][-1]
        assert snapshot.control(1)["enabled"] == accepted, (flavours, result.describe())


def test_ok_starts_the_chosen_runtime_and_remembers_it_per_user():
    app = NoRuntimeApp("missing_ok")
    runtime = runtime_copy(app)
    ini_before = app.app.path("tool.ini").read_bytes()
    result = app.run(["window"] + browse(runtime) + ["press:OK"])
    assert result.exit_code == 0, result.describe()
    assert app.main_was_called()
    # The folder with its trailing backslash, in the per-user file; the ini is untouched.
    assert app.user_file.read_bytes().decode(ANSI).splitlines() == [
        "[Java Runtime Environment]", "JRE Path=" + runtime + "\\"], app.user_file.read_bytes()
    assert app.app.path("tool.ini").read_bytes() == ini_before

    (app.app.folder / "record.txt").unlink()
    second = app.run([])
    assert second.dialogs == [], second.describe()
    assert second.exit_code == 0 and app.main_was_called(), second.describe()


def test_a_service_remembers_in_its_configuration_file():
    app = NoRuntimeApp("missing_service", application={"Application Type": "service"})
    runtime = runtime_copy(app)
    result = app.run(["window"] + browse(runtime) + ["press:OK"])
    assert result.exit_code == 0, result.describe()
    ini = app.app.path("tool.ini").read_bytes().decode(ANSI)
    assert "JRE Path=" + runtime + "\\\r\n" in ini, ini
    assert "Main Class=com.example.App" in ini, ini  # the rest of the file is kept
    assert not (app.app.folder / "appdata" / "My Tool Pro").exists()

    second = app.run([])
    assert second.dialogs == [] and second.exit_code == 0, second.describe()


def test_an_existing_user_file_hides_the_configured_folder_even_when_empty():
    app = NoRuntimeApp("missing_hidden")
    runtime = runtime_copy(app)
    ini = app.app.path("tool.ini")
    ini.write_bytes(ini.read_bytes().replace(b"Minimum Version=1.6\r\n",
                                             b"Minimum Version=1.6\r\nJRE Path=" + runtime.encode(ANSI) + b"\r\n"))
    # Without a per-user file the configured folder is used.
    plain = app.run([])
    assert plain.dialogs == [] and plain.exit_code == 0, plain.describe()
    for content in (b"[Java Runtime Environment]\r\nJRE Path=\r\n", b""):
        app.user_file.parent.mkdir(parents=True, exist_ok=True)
        app.user_file.write_bytes(content)
        hidden = app.run(["window", "press:Cancel"])
        assert len(runtime_dialogs(hidden)) == 1, (content, hidden.describe())
        assert hidden.exit_code == EXIT_FAILURE
        assert app.user_file.read_bytes() == content


# --- Uncaught exception ------------------------------------------------------------------------

TRACE = ("java.lang.IllegalStateException: caf\u00e9 first line\nsecond line\r\n"
         "\tat com.example.App.run(App.java:7)\r\n\tat com.example.App.main(App.java:3)\r\n")


class ThrowingApp:
    """main throws a scripted exception with a scripted stack trace."""

    def __init__(self, name, failure_check="Yes", script=None):
        section = {"Main Class": "com.example.App", "JRE Path": windows_path(STANDIN)}
        ini = {"Java Runtime Environment": section, "Class Path": {"Class Path": "app.jar"}}
        if failure_check is not None:
            ini["Application"] = {"Failure Check": failure_check}
        self.app = make_app(name, ini=ini)
        self.app.write_file("app.jar", b"")
        if script is None:
            escaped = TRACE.replace("\\", "\\\\").replace("\r", "\\r").replace("\n", "\\n").replace("\t", "\\t")
            script = ("main.throw=java.lang.IllegalStateException: caf\u00e9\n"
                      f"main.trace={escaped}\n")
        self.app.folder.joinpath("script.txt").write_bytes(script.encode("utf-8"))

    def run(self, steps, timeout=30):
        env = {"QN_STANDIN_SCRIPT": str(self.app.folder / "script.txt"),
               "QN_STANDIN_RECORD": str(self.app.folder / "record.txt")}
        return run(self.app, steps=steps, env=env, timeout=timeout).check()

    def record(self, key):
        text = (self.app.folder / "record.txt").read_text(encoding="utf-8")
        return [line.partition("=")[2] for line in text.splitlines() if line.partition("=")[0] == key]


def exception_dialogs(result):
    return [w for w in result.dialogs + result.snapshots if w.caption == "Java Exception"]


def test_the_dialog_shows_the_trace_and_ignore_goes_on():
    for ending in ("press:Ignore", "key:ENTER"):
        app = ThrowingApp("exception_ignore")
        result = app.run(["window", ending])
        dialogs = exception_dialogs(result)
        assert len(dialogs) == 1, (ending, result.describe())
        dialog = dialogs[0]
        # The runtime's text in the ANSI code page, every line break as CR LF for the edit control.
        assert dialog.control(208)["text"] == TRACE.replace("\r\n", "\n").replace("\n", "\r\n"), \
            repr(dialog.control(208)["text"])
        assert dialog.control(208)["style"] & 0x0800, "read-only (ES_READONLY)"
        assert dialog.texts == [
            "The java process has thrown the following uncaught exception:",
            "Press Ignore to continue and ignore the exception or press Stop to close the application.",
            "WARNING: If you choose to Stop the application any unsaved data will be lost."], dialog.texts
        assert dialog.control(209)["text"] == "Uncaught Exception"
        assert [dialog.control(i)["text"] for i in (1, 2)] == ["Ignore", "Stop"]
        assert result.exit_code == 0, (ending, result.describe())
        assert app.record("exit") == [], ending


def test_stop_escape_and_the_close_box_end_with_minus_one():
    for ending in ("press:Stop", "key:ESC", "close"):
        app = ThrowingApp("exception_stop")
        result = app.run(["window", ending])
        assert len(exception_dialogs(result)) == 1, (ending, result.describe())
        assert result.exit_code == EXIT_FAILURE, (ending, result.describe())
        assert app.record("exit") == ["-1"], ending  # System.exit(-1) inside the runtime


def test_without_failure_check_no_dialog_and_exit_zero():
    for value in (None, "No"):
        app = ThrowingApp("exception_off", failure_check=value)
        result = app.run([])
        assert result.dialogs == [], (value, result.describe())
        assert result.exit_code == 0, value
        assert len(app.record("describe")) == 1, value  # the trace is still printed


def test_a_failing_print_stack_trace_shows_what_it_wrote_or_nothing():
    base = "main.throw=java.lang.IllegalStateException: boom\n"
    partial = base + ("printStackTrace.throw=java.lang.RuntimeException: printing failed\n"
                      "printStackTrace.written=app.Failure: half\\r\\n")
    app = ThrowingApp("exception_partial", script=partial)
    result = app.run(["window", "press:Ignore"])
    assert [w.control(208)["text"] for w in exception_dialogs(result)] == ["app.Failure: half\r\n"]
    assert result.exit_code == 0
    assert "java.lang.RuntimeException: printing failed" in app.record("describe")

    nothing = base + "printStackTrace.throw=java.lang.RuntimeException: printing failed\n"
    app = ThrowingApp("exception_nothing", script=nothing)
    result = app.run([])
    assert result.dialogs == [] and result.exit_code == 0, result.describe()


def run_with_screenshot(target, steps_before, steps_after, name, timeout=40, icons_of=None):
    """Runs the steps, takes a screenshot between the two groups, and gives the result (with the
    icons of the window titled `icons_of` then) and the picture."""
    folder = target.app.folder
    shown, done = folder / "shown.flag", folder / "done.flag"
    steps = steps_before + ["signal:" + windows_path(shown), "await:" + windows_path(done)] + steps_after
    outcome = {}
    worker = threading.Thread(target=lambda: outcome.update(result=target.run(steps, timeout=timeout)))
    worker.start()
    deadline = time.monotonic() + timeout
    while not shown.exists() and worker.is_alive() and time.monotonic() < deadline:
        time.sleep(0.05)
    picture = screenshot(name) if shown.exists() else None
    icons = window_icons(icons_of) if picture and icons_of else None
    done.write_bytes(b"")
    worker.join(timeout + 60)
    assert picture, "the dialog never showed"
    outcome["result"].icons = icons
    return outcome["result"], picture


def test_the_exception_dialog_grows_to_the_full_screen():
    app = ThrowingApp("exception_resize")
    result, picture = run_with_screenshot(app, ["window", "snapshot", "maximize", "snapshot"],
                                          ["restore", "resize:200,150", "snapshot", "press:Ignore"],
                                          "exception-maximised")
    start, big, small = [w for w in result.snapshots if w.caption == "Java Exception"]
    grow_x = (big.event["client"][2] - big.event["client"][0]) - (start.event["client"][2] - start.event["client"][0])
    grow_y = (big.event["client"][3] - big.event["client"][1]) - (start.event["client"][3] - start.event["client"][1])
    assert grow_x > 300 and grow_y > 300, (start.event["client"], big.event["client"])

    def rect(window, control):
        return window.control(control)["rect"]

    expectations = {  # control: (dx for left, top, right, bottom)
        209: (0, 0, grow_x, grow_y), 208: (0, 0, grow_x, grow_y), 210: (0, 0, grow_x, 0),
        211: (0, grow_y, grow_x, grow_y), 212: (0, grow_y, grow_x, grow_y),
        1: (grow_x, grow_y, grow_x, grow_y), 2: (grow_x, grow_y, grow_x, grow_y), 204: (0, 0, 0, 0),
    }
    for control, (dl, dt, dr, db) in expectations.items():
        before, after = rect(start, control), rect(big, control)
        assert [a - b for a, b in zip(after, before)] == [dl, dt, dr, db], (control, before, after)
    # The buttons and the lower texts keep their distance from the bottom edge.
    bottom = big.event["client"][3]
    assert bottom - rect(big, 1)[3] == start.event["client"][3] - rect(start, 1)[3]
    # No smaller than it opened: a request for 200 by 150 gives back the starting size.
    size = lambda w: (w.event["rect"][2] - w.event["rect"][0], w.event["rect"][3] - w.event["rect"][1])
    assert size(small) == size(start), (size(small), size(start))
    assert [rect(small, c) for c in expectations] == [rect(start, c) for c in expectations]
    assert result.exit_code == 0
    assert picture.exists()


def crop_to(picture, window):
    """The screenshot cut to the window, which must fill it exactly."""
    left, top, right, bottom = window.event["rect"]
    assert right - left > 100 and bottom - top > 50, window.event["rect"]
    assert crop(picture, window.event["rect"]) == (right - left, bottom - top)


class Launch:
    """Anything run_with_screenshot can drive: an app and a run of it with steps."""

    def __init__(self, app, run_steps):
        self.app = app
        self.run = lambda steps, timeout: run_steps(steps)


def test_screenshots_of_both_dialogs():
    missing = NoRuntimeApp("missing_picture")
    cases = [  # (what runs, steps before the picture, after it, picture, caption, exit code, its dialogs)
        (ThrowingApp("exception_picture"), ["window"], ["press:Ignore"], "exception-dialog", "Java Exception",
         0, exception_dialogs),
        (Launch(missing.app, missing.run), ["window"] + browse(runtime_copy(missing)), ["press:Cancel"],
         "missing-runtime-dialog", "JRE Not Found", EXIT_FAILURE, runtime_dialogs),
    ]
    # The executable's own icon in the caption (32 pixels at 96 DPI) and the task switcher (16): their
    # sizes show the layout's DPI, which wine does not report reliably for another process's window.
    own = {(width, height): pe.icon_pixels(data) for width, height, _, data in pe.icons(pe.Image(LAUNCHER))}
    scale = SCREENSHOT_DPI // 96
    with screen_dpi(SCREENSHOT_DPI):
        for target, before, after, name, caption, exit_code, dialogs in cases:
            result, picture = run_with_screenshot(target, before, after, name, icons_of=caption)
            assert result.exit_code == exit_code and picture.exists(), name
            crop_to(picture, dialogs(result)[0])
            assert sorted((w, h) for w, h, _ in result.icons) == [(16 * scale,) * 2, (32 * scale,) * 2], name
            assert all(pixels == own[(w, h)] for w, h, pixels in result.icons), name


def test_screenshot_of_an_error_box():
    app = make_app("error_picture", ini={"Java Runtime Environment": {"Minimum Version": "17"},
                                         "Class Path": {"Class Path": "app.jar"}})
    with screen_dpi(SCREENSHOT_DPI):
        result, picture = run_with_screenshot(Launch(app, lambda steps: run(app, steps=steps).check()),
                                              ["window"], ["press:OK"], "error-box")
    box = result.dialogs[0]
    assert (box.caption, box.texts) == (DEFAULT_CAPTION, ["Main class was not specified in INI file."])
    assert result.exit_code == EXIT_FAILURE
    # Laid out for the screen's DPI: the OK button is about twice as tall as at 96 DPI (23 pixels).
    ok = next(control for control in box.event["controls"] if control["id"] == 1)
    assert ok["rect"][3] - ok["rect"][1] >= 23 * SCREENSHOT_DPI // 96 * 0.8, box.event
    crop_to(picture, box)
