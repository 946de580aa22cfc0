"""The splash screen seen from outside: the window's place, styles and pixels, when it appears and
goes away, who owns the boxes shown under it, and the runtime's own splash library."""

import json
import os
import subprocess
import threading
import time
from pathlib import Path

from harness import (EXIT_FAILURE, SCREENSHOT_DPI, WIN64_DIR, WINELOADER, crop, make_app, run,
                     screen_dpi, screenshot, session_env, windows_path)

PROBE = WIN64_DIR / "tests" / "qn_splash_probe.exe"
STANDIN_HOMES = WIN64_DIR / "tests"
SPLASH_CLASS = "SplashScreenWindow"

WS_POPUP = 0x80000000
WS_CAPTION = 0x00C00000
WS_THICKFRAME = 0x00040000
WS_EX_TOOLWINDOW = 0x00000080
WS_EX_APPWINDOW = 0x00040000
CS_DBLCLKS = 0x0008
CS_SAVEBITS = 0x0800
CS_DROPSHADOW = 0x00020000

# Quadrants of the test picture, top left, top right, bottom left, bottom right: a picture shown
# upside down or mirrored gives other colours at the same places.
QUADRANTS = ["#ff0000", "#00ff00", "#0000ff", "#ffffff"]


def rgb(text):
    return tuple(int(text[i:i + 2], 16) for i in (1, 3, 5))


def make_picture(path, width, height, quadrants=True):
    """A picture of four single-colour quadrants (or one colour), written by imagemagick."""
    path.parent.mkdir(parents=True, exist_ok=True)
    if quadrants:
        w, h = width // 2, height // 2
        args = ["(", "-size", f"{w}x{h}", f"xc:{QUADRANTS[0]}", f"xc:{QUADRANTS[1]}", "+append", ")",
                "(", "-size", f"{w}x{h}", f"xc:{QUADRANTS[2]}", f"xc:{QUADRANTS[3]}", "+append", ")",
                "-append"]
    else:
        args = ["-size", f"{width}x{height}", f"xc:{QUADRANTS[0]}"]
    quality = ["-quality", "95"] if path.suffix == ".jpg" else []
    subprocess.run(["convert"] + args + quality + [str(path)], check=True, timeout=60)
    return path


def screen_pixels(points):
    """Colours of the screen at the points, from a screenshot of the root window."""
    display = session_env()["DISPLAY"]
    shot = Path(os.environ.get("TMPDIR", "/tmp")) / f"qn-splash-{os.getpid()}-{time.monotonic_ns()}.png"
    subprocess.run(["import", "-display", display, "-window", "root", str(shot)], check=True, timeout=60)
    try:
        colours = []
        for x, y in points:
            out = subprocess.run(["convert", str(shot), "-format", f"%[fx:int(255*p{{{x},{y}}}.r)],"
                                  f"%[fx:int(255*p{{{x},{y}}}.g)],%[fx:int(255*p{{{x},{y}}}.b)]", "info:"],
                                 check=True, timeout=60, stdout=subprocess.PIPE).stdout.decode()
            colours.append(tuple(int(v) for v in out.split(",")))
        return colours
    finally:
        keep = os.environ.get("QN_KEEP_SCREENSHOTS")
        if keep:
            Path(keep).mkdir(parents=True, exist_ok=True)
            shot.rename(Path(keep) / shot.name)
        else:
            shot.unlink()


def close_to(colour, expected, tolerance=6):
    return all(abs(a - b) <= tolerance for a, b in zip(colour, expected))


class Probe:
    """qn_splash_probe watching the windows while the launcher runs."""

    def __init__(self, folder):
        stamp = f"{os.getpid()}-{time.monotonic_ns()}"
        self.out = folder / f".probe-{stamp}.jsonl"
        self.stop = folder / f".probe-{stamp}.stop"
        self.process = subprocess.Popen(
            [str(WINELOADER), str(PROBE), "watch", windows_path(self.out), windows_path(self.stop)],
            env=session_env(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.wait_for(lambda e: e["event"] == "ready", 60)

    def events(self):
        try:
            return [json.loads(line) for line in self.out.read_text().splitlines() if line.endswith("}")]
        except OSError:
            return []

    def wait_for(self, condition, timeout, while_running=None):
        """The first event that meets the condition; None after the timeout, or once the probe or
        the `while_running` thread has ended without one."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            found = [e for e in self.events() if condition(e)]
            if found:
                return found[0]
            if self.process.poll() is not None:
                break
            if while_running is not None and not while_running.is_alive():
                break
            time.sleep(0.02)
        return None

    def finish(self):
        self.stop.write_text("stop\n")
        self.process.wait(timeout=60)
        events = self.events()
        for path in (self.out, self.stop):
            path.unlink()
        return events


class SplashRun:
    """One launcher start with the probe watching and, optionally, a screenshot under the splash."""

    def __init__(self, result, events, record, colours):
        self.result = result
        self.events = events
        self.record = record
        self.colours = colours

    def appeared(self, window_class=SPLASH_CLASS):
        return [e for e in self.events if e["event"] == "appear" and e["class"] == window_class]

    def gone(self, hwnd):
        return [e for e in self.events if e["event"] == "gone" and e["hwnd"] == hwnd]

    @property
    def splash(self):
        shown = self.appeared()
        assert len(shown) == 1, self.describe()
        return shown[0]

    def records(self, key):
        return [line.split("=", 1)[1] for line in self.record if line.split("=", 1)[0] == key]

    def describe(self):
        return ("probe:\n" + "\n".join(json.dumps(e) for e in self.events) + "\nrecord:\n" +
                "\n".join(self.record) + "\ndriver:\n" + self.result.describe())


def standin_app(name, display, home="standin", script="", ini=None):
    """An application on the stand-in runtime with a [Display] section and a stand-in script."""
    app = make_app(name)
    sections = {
        "Java Runtime Environment": {"Main Class": "app.Main",
                                     "JRE Path": windows_path(STANDIN_HOMES / home)},
        "Class Path": {"Class Path": "app.jar"},
        "Display": display,
    }
    for section, keys in (ini or {}).items():
        sections.setdefault(section, {}).update(keys)
    app.write_ini(sections)
    app.write_file("app.jar", b"")
    app.write_file("standin.txt", script)
    return app


def start(app, args="", shot_points=(), steps=(), during=None, release=None):
    """Runs the launcher; once a splash window appears, takes the screenshot and calls `during`.
    `release`: the file a stand-in main waits for (main.waitFor), written once that is done."""
    record = app.path("record.txt")
    if record.exists():
        record.unlink()
    probe = Probe(app.folder)
    outcome = {}

    def launch():
        try:
            # Started in its own folder: a relative picture path is relative to the current one.
            outcome["result"] = run(app, args=args, steps=steps, cwd=app.windows_folder, env={
                "QN_STANDIN_SCRIPT": windows_path(app.path("standin.txt")),
                "QN_STANDIN_RECORD": windows_path(record)})
        except BaseException as failure:  # handed to the test's thread below
            outcome["failure"] = failure

    runner = threading.Thread(target=launch)
    runner.start()
    colours = None
    try:
        if shot_points or during:
            shown = probe.wait_for(lambda e: e["event"] == "appear" and e["class"] == SPLASH_CLASS, 60,
                                   while_running=runner)
            if shown and runner.is_alive():
                time.sleep(0.3)  # the first paint
                if shot_points:
                    colours = screen_pixels(shot_points)
                if during:
                    during(shown)
    finally:
        if release:
            release.write_text("")
    runner.join()
    events = probe.finish()
    if "failure" in outcome:
        raise outcome["failure"]
    lines = record.read_text(errors="replace").splitlines() if record.exists() else []
    return SplashRun(outcome["result"].check(), events, lines, colours)


def centred(screen, width, height):
    # C division truncates toward zero: int() of the quotient, not Python's floor division.
    left = int((screen[0] - width) / 2)
    top = int((screen[1] - height) / 2)
    return [left, top, left + width, top + height]


def quadrant_points(rect):
    left, top, right, bottom = rect
    qx, qy = (right - left) // 4, (bottom - top) // 4
    return [(left + qx, top + qy), (right - qx, top + qy), (left + qx, bottom - qy),
            (right - qx, bottom - qy)]


def check_shown_centred(name, picture_name):
    # Main runs until the screen has been looked at, so the splash cannot be gone before that.
    app = standin_app(name, {"Splash Screen": picture_name})
    release = app.path("release")
    escaped = windows_path(release).replace("\\", "\\\\")  # the script takes C escapes
    app.write_file("standin.txt", f"main.waitFor={escaped}\n")
    make_picture(app.path(picture_name.replace("\\", "/")), 400, 300)
    points = quadrant_points(centred((1280, 1024), 400, 300))
    outcome = start(app, shot_points=points, release=release)
    splash = outcome.splash
    assert splash["rect"] == centred(splash["screen"], 400, 300), outcome.describe()
    assert splash["screen"] == [1280, 1024], outcome.describe()
    # A borderless pop-up without a taskbar button: a tool window, not owned, no caption.
    assert splash["style"] & WS_POPUP and not splash["style"] & (WS_CAPTION | WS_THICKFRAME)
    assert splash["exstyle"] & WS_EX_TOOLWINDOW and not splash["exstyle"] & WS_EX_APPWINDOW
    assert splash["owner"] is None, outcome.describe()
    assert splash["classStyle"] & (CS_DBLCLKS | CS_SAVEBITS) == CS_DBLCLKS | CS_SAVEBITS
    assert not splash["classStyle"] & CS_DROPSHADOW, outcome.describe()
    for colour, expected in zip(outcome.colours, QUADRANTS):
        assert close_to(colour, rgb(expected)), (outcome.colours, outcome.describe())
    # Closed when main has returned: gone before the launcher ended with 0.
    assert outcome.gone(splash["hwnd"]), outcome.describe()
    assert outcome.result.exit_code == 0, outcome.describe()
    assert outcome.records("main.class") == ["app/Main"], outcome.describe()
    assert outcome.result.dialogs == [], outcome.describe()


def test_bmp_picture_is_shown_centred_and_closed_when_main_returns():
    check_shown_centred("splash_bmp", "picture.bmp")


def test_gif_picture_is_shown_centred_and_closed_when_main_returns():
    check_shown_centred("splash_gif", "picture.gif")


def test_jpeg_picture_is_shown_centred_and_closed_when_main_returns():
    check_shown_centred("splash_jpeg", r"pictures\picture.jpg")


def test_clicks_on_the_splash_do_nothing():
    app = standin_app("splash_clicks", {"Splash Screen": "picture.bmp"}, script="main.sleep=2500\n")
    make_picture(app.path("picture.bmp"), 400, 300)
    display = session_env()["DISPLAY"]

    def click(shown):
        x = (shown["rect"][0] + shown["rect"][2]) // 2
        y = (shown["rect"][1] + shown["rect"][3]) // 2
        env = dict(os.environ, DISPLAY=display)
        subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", "1", "click",
                        "--repeat", "2", "1"], env=env, check=True, timeout=30)
        time.sleep(0.3)

    outcome = start(app, during=click)
    splash = outcome.splash
    gone = outcome.gone(splash["hwnd"])
    assert gone and len(outcome.appeared()) == 1, outcome.describe()
    # Still up after the clicks: it went away only when main had returned, 2.5 s after it appeared.
    assert gone[0]["t"] - splash["t"] >= 2000, outcome.describe()
    assert outcome.result.exit_code == 0 and outcome.result.dialogs == [], outcome.describe()


def test_shadow_only_for_exactly_true():
    for text, shadow in [("true", True), ("True", False)]:
        # main keeps the splash up long enough for the probe to see it on a busy machine.
        app = standin_app("splash_shadow", {"Splash Screen": "picture.gif",
                                            "Splash Screen Shadow": text}, script="main.sleep=500\n")
        make_picture(app.path("picture.gif"), 200, 100)
        outcome = start(app)
        has_shadow = bool(outcome.splash["classStyle"] & CS_DROPSHADOW)
        assert has_shadow == shadow, (text, outcome.describe())
        assert outcome.result.exit_code == 0, outcome.describe()


def test_pictures_larger_than_the_screen_stay_centred():
    for width, height, rect in [
        (1400, 300, [-60, 362, 1340, 662]),    # wider: a negative left edge
        (1400, 1100, [-60, -38, 1340, 1062]),  # larger both ways
        (1281, 200, [0, 412, 1281, 612]),      # one pixel wider: -1 / 2 truncates to 0
    ]:
        # main keeps the splash up long enough for the probe to see it on a busy machine.
        app = standin_app("splash_large", {"Splash Screen": "large.bmp"}, script="main.sleep=500\n")
        make_picture(app.path("large.bmp"), width, height, quadrants=False)
        outcome = start(app)
        assert outcome.splash["rect"] == rect, ((width, height), outcome.describe())
        assert outcome.result.exit_code == 0, outcome.describe()


def test_switches_decide_on_the_splash_case_sensitively():
    for args, shown in [("-nosplash", False), ("/nosplash", False), ("first -nosplash last", False),
                        ("-NOSPLASH", True), ("/NoSplash", True)]:
        app = standin_app("splash_switch", {"Splash Screen": "picture.bmp"}, script="main.sleep=1000\n")
        make_picture(app.path("picture.bmp"), 200, 100)
        outcome = start(app, args=args)
        assert len(outcome.appeared()) == (1 if shown else 0), (args, outcome.describe())
        # The switch is only looked for: main receives it like any other argument.
        assert outcome.records("main.arg") == args.split(), (args, outcome.describe())
        assert outcome.result.exit_code == 0 and outcome.result.dialogs == [], outcome.describe()


def test_no_picture_shows_nothing_and_says_nothing():
    for name, display in [("empty", {"Splash Screen": ""}),
                          ("missing", {"Splash Screen": "no-such-picture.bmp"}),
                          ("not_a_picture", {"Splash Screen": "standin.txt"})]:
        app = standin_app("splash_" + name, display, script="main.sleep=1500\n")
        centre = (640, 512)

        def look(_shown):
            look.colours = screen_pixels([centre])

        look.colours = None
        outcome = start(app, during=look)
        for shown in outcome.appeared():
            # An unreadable picture leaves an empty window: nothing of it can be seen.
            left, top, right, bottom = shown["rect"]
            assert right - left == 0 and bottom - top == 0, (name, outcome.describe())
        if name == "empty":
            assert outcome.appeared() == [], outcome.describe()
        if look.colours:
            assert not close_to(look.colours[0], rgb(QUADRANTS[0])), (name, look.colours)
        assert outcome.result.dialogs == [], (name, outcome.describe())
        assert outcome.result.exit_code == 0, (name, outcome.describe())


def test_error_box_during_the_splash_is_owned_by_it():
    app = standin_app("splash_owner", {"Splash Screen": "picture.bmp"}, script="create.sleep=1500\ncreate.result=-4\n")
    make_picture(app.path("picture.bmp"), 300, 200)
    outcome = start(app, steps=["press:OK"])
    splash = outcome.splash
    boxes = outcome.appeared("#32770")
    assert len(boxes) == 1, outcome.describe()
    assert boxes[0]["owner"] == splash["hwnd"] and boxes[0]["ownerClass"] == SPLASH_CLASS
    text = outcome.result.dialogs[0].text
    assert "failed to create the Java VM" in text and "not enough memory" in text, outcome.describe()
    # Teardown closes the splash only after the box has been answered.
    gone = outcome.gone(splash["hwnd"])
    box_gone = outcome.gone(boxes[0]["hwnd"])
    assert gone and box_gone and gone[0]["t"] >= box_gone[0]["t"], outcome.describe()
    assert outcome.result.exit_code == EXIT_FAILURE, outcome.describe()


def test_error_box_after_the_splash_was_closed_by_the_user_is_still_shown():
    app = standin_app("splash_closed_owner", {"Splash Screen": "picture.bmp"},
                      script="create.sleep=2500\ncreate.result=-4\n")
    make_picture(app.path("picture.bmp"), 300, 200)
    # The user closes the splash (as with Alt+F4) before the creation fails.
    outcome = start(app, steps=[f"window:{SPLASH_CLASS}", "close", "press:OK"])
    splash = outcome.splash
    boxes = outcome.appeared("#32770")
    assert len(boxes) == 1, outcome.describe()
    assert boxes[0]["owner"] is None, outcome.describe()
    gone = outcome.gone(splash["hwnd"])
    assert gone and gone[0]["t"] <= boxes[0]["t"], outcome.describe()
    assert "not enough memory" in outcome.result.dialogs[0].text, outcome.describe()
    assert outcome.result.exit_code == EXIT_FAILURE, outcome.describe()


def test_splash_is_closed_before_the_exception_dialog():
    app = standin_app("splash_exception", {"Splash Screen": "picture.bmp"},
                      script="main.sleep=1000\nmain.throw=java.lang.IllegalStateException: boom\n",
                      ini={"Application": {"Failure Check": "Yes"}})
    make_picture(app.path("picture.bmp"), 300, 200)
    outcome = start(app, steps=["press:Ignore"])
    splash = outcome.splash
    dialogs = outcome.appeared("#32770")
    gone = outcome.gone(splash["hwnd"])
    assert dialogs and gone and gone[0]["t"] <= dialogs[0]["t"], outcome.describe()
    assert dialogs[0]["ownerClass"] != SPLASH_CLASS, outcome.describe()
    assert outcome.result.exit_code == 0, outcome.describe()


def test_native_splash_library_takes_the_picture():
    app = standin_app("splash_native", {"Splash Screen": "picture.bmp",
                                        "Preffer Native Splash Screen": "yes"},
                      home="standin-splash", script="main.sleep=500\n")
    make_picture(app.path("picture.bmp"), 200, 100)
    outcome = start(app)
    assert outcome.appeared() == [], outcome.describe()
    # Opened before the runtime starts, closed once at the very end, after the VM is destroyed.
    calls = [line for line in outcome.record if line.startswith(("splash.", "create.result", "destroy"))]
    assert calls == ["splash.init=", "splash.loadFile=picture.bmp", "splash.setFileJarName=picture.bmp|",
                     "create.result=0", "destroy=", "splash.close="], outcome.describe()
    assert outcome.result.exit_code == 0, outcome.describe()


def test_native_splash_only_when_asked_for_and_complete():
    for name, home, prefer, own_window, closes in [
        ("not_asked", "standin-splash", "", True, 0),
        ("no_library", "standin", "Yes", True, 0),
        ("no_init", "standin-splash-noinit", "YES", True, 1),  # loaded: its close still runs
    ]:
        app = standin_app("splash_native_" + name, {"Splash Screen": "picture.bmp",
                                                   "Preffer Native Splash Screen": prefer},
                          home=home, script="main.sleep=500\n")
        make_picture(app.path("picture.bmp"), 200, 100)
        outcome = start(app)
        assert len(outcome.appeared()) == (1 if own_window else 0), (name, outcome.describe())
        assert outcome.records("splash.init") == [], (name, outcome.describe())
        assert outcome.records("splash.loadFile") == [], (name, outcome.describe())
        assert len(outcome.records("splash.close")) == closes, (name, outcome.describe())
        assert outcome.result.exit_code == 0, (name, outcome.describe())


def test_failed_start_closes_the_native_splash_once():
    app = standin_app("splash_native_failed", {"Splash Screen": "picture.bmp",
                                               "Preffer Native Splash Screen": "Yes"},
                      home="standin-splash", script="create.result=-1\n")
    make_picture(app.path("picture.bmp"), 200, 100)
    outcome = start(app, steps=["press:OK"])
    assert outcome.records("splash.loadFile") == ["picture.bmp"], outcome.describe()
    assert len(outcome.records("splash.close")) == 1, outcome.describe()
    # No splash window under the box: the box has no owner.
    boxes = outcome.appeared("#32770")
    assert len(boxes) == 1 and boxes[0]["owner"] is None, outcome.describe()
    assert outcome.result.exit_code == EXIT_FAILURE, outcome.describe()


def picture_pixels(picture, points):
    """Colours of a picture file at the points."""
    colours = []
    for x, y in points:
        out = subprocess.run(["convert", str(picture), "-format", f"%[fx:int(255*p{{{x},{y}}}.r)],"
                              f"%[fx:int(255*p{{{x},{y}}}.g)],%[fx:int(255*p{{{x},{y}}}.b)]", "info:"],
                             check=True, timeout=60, stdout=subprocess.PIPE).stdout.decode()
        colours.append(tuple(int(v) for v in out.split(",")))
    return colours


def test_screenshot_of_a_splash():
    app = standin_app("splash_picture", {"Splash Screen": "splash.bmp"})
    # main runs until the picture is taken, however slow the machine is.
    taken = app.path("taken.flag")
    escaped = windows_path(taken).replace("\\", "\\\\")  # the script takes C escapes
    app.write_file("standin.txt", f"main.waitFor={escaped}\n")
    source = app.path("splash.bmp")
    # A product-like picture of shapes only (text would need fonts the test machines may lack).
    subprocess.run(["convert", "-size", "480x300", "gradient:#10375c-#1f6f8b",
                    "-fill", "#f3c623", "-draw", "circle 100,150 100,95",
                    "-fill", "#ffffff", "-draw", "rectangle 190,120 420,142",
                    "-fill", "#cfe3ef", "-draw", "rectangle 190,162 360,174", str(source)],
                   check=True, timeout=60)
    margin = 24
    shots = []

    def take(shown):
        try:
            shots.append((screenshot("splash"), shown["rect"]))
        finally:
            taken.write_bytes(b"")

    # As on a 200 % screen: the picture keeps its size next to other windows, so it is enlarged.
    with screen_dpi(SCREENSHOT_DPI):
        outcome = start(app, during=take)
    assert outcome.result.exit_code == 0 and len(shots) == 1, outcome.describe()
    picture, rect = shots[0]
    scale = SCREENSHOT_DPI // 96
    assert rect == centred((1280, 1024), 480 * scale, 300 * scale), outcome.describe()
    assert crop(picture, rect, margin) == (480 * scale + 2 * margin, 300 * scale + 2 * margin)
    # The picture on the screen is the picture in the file, enlarged, where it matters.
    points = [(100, 150), (300, 130), (250, 168), (20, 20), (470, 290)]
    on_screen = picture_pixels(picture, [(x * scale + margin, y * scale + margin) for x, y in points])
    in_file = picture_pixels(source, points)
    for point, seen, expected in zip(points, on_screen, in_file):
        assert close_to(seen, expected), (point, seen, expected)
