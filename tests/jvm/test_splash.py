"""The splash on Linux: the launcher with a real JDK under Xvfb shows the picture in its own window,
or through the JDK's libsplashscreen.so when asked to, while main runs, and closes it at the end."""

import os
import shutil
import signal
import subprocess
import tempfile
import time
from pathlib import Path

from jvm_harness import CLASSES, JDK_HOME, LAUNCHER, require

JVM_ROOT = Path("/usr/lib/jvm")
SCREEN = (1024, 768)
PICTURE_SIZE = (480, 320)
PICTURE_COLOUR = (32, 160, 96)


def has_splash_library(home):
    return (home / "lib" / "libsplashscreen.so").exists() and (home / "lib" / "server" / "libjvm.so").exists()


def find_jdk():
    """The build's JDK when its runtime has the splash library, otherwise another one that has it."""
    if has_splash_library(JDK_HOME):
        return JDK_HOME
    for home in sorted(JVM_ROOT.glob("*")):
        if not home.is_symlink() and has_splash_library(home):
            return home
    return None


class Display:
    """An Xvfb of our own for one test."""

    def __init__(self):
        xvfb = shutil.which("Xvfb")
        require(xvfb, "Xvfb (package xvfb)")
        require(shutil.which("import") and shutil.which("convert"), "imagemagick")
        read_fd, write_fd = os.pipe()
        self.process = subprocess.Popen(
            [xvfb, "-displayfd", str(write_fd), "-screen", "0", f"{SCREEN[0]}x{SCREEN[1]}x24",
             "-nolisten", "tcp"], pass_fds=(write_fd,), stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL, start_new_session=True)
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
            self.process.kill()
            raise AssertionError("Xvfb did not start")
        self.name = ":" + number.decode().strip()

    def pixel(self, x, y, keep_as=None):
        with tempfile.NamedTemporaryFile(suffix=".png") as shot:
            subprocess.run(["import", "-display", self.name, "-window", "root", shot.name],
                           check=True, timeout=60)
            if keep_as:
                shutil.copyfile(shot.name, keep_as)
            out = subprocess.run(["convert", shot.name, "-format",
                                  f"%[fx:int(255*p{{{x},{y}}}.r)],%[fx:int(255*p{{{x},{y}}}.g)],"
                                  f"%[fx:int(255*p{{{x},{y}}}.b)]", "info:"],
                                 check=True, timeout=60, stdout=subprocess.PIPE).stdout.decode()
        return tuple(int(v) for v in out.split(","))

    def close(self):
        os.killpg(self.process.pid, signal.SIGTERM)
        self.process.wait(timeout=30)


def close_to(colour, expected, tolerance=8):
    return all(abs(a - b) <= tolerance for a, b in zip(colour, expected))


def make_app(folder, jdk, picture_name, display_keys=None):
    """The launcher copied as `app` beside app.ini and the picture; SplashApp from the fixtures."""
    folder.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(LAUNCHER, folder / "app")
    (folder / "app").chmod(0o755)
    colour = "#%02x%02x%02x" % PICTURE_COLOUR
    subprocess.run(["convert", "-size", "%dx%d" % PICTURE_SIZE, f"xc:{colour}", str(folder / picture_name)],
                   check=True, timeout=60)
    keys = {"Splash Screen": str(folder / picture_name)}
    keys.update(display_keys or {})
    ini = ["[Java Runtime Environment]", "Main Class=SplashApp", f"JRE Path={jdk}",
           f"Virtual Machine Parameters=-Dapp.release={folder / 'release'}", "[Class Path]", f"Class Path={CLASSES}",
           "[Display]"] + [f"{k}={v}" for k, v in keys.items()]
    (folder / "app.ini").write_text("\n".join(ini) + "\n")
    return folder / "app"


def run_with_screenshots(display, app, args=(), shots_dir=None, shown=True):
    """Starts the launcher, looks at the screen's centre while main runs, then once more after it.
    Main prints its arguments once it runs (the splash, if any, is up by then) and waits for the
    file "release", which the test writes when it has seen what it needs."""
    env = dict(os.environ, DISPLAY=display.name)
    process = subprocess.Popen([str(app)] + list(args), cwd=app.parent, env=env,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    centre = (SCREEN[0] // 2, SCREEN[1] // 2)
    seen = []
    printed = []
    try:
        for line in iter(process.stdout.readline, b""):
            printed.append(line)
            if line.startswith(b"args="):
                break
        deadline = time.time() + 60
        while printed and printed[-1].startswith(b"args=") and time.time() < deadline:
            keep = shots_dir / f"during-{len(seen)}.png" if shots_dir else None
            seen.append(display.pixel(*centre, keep_as=keep))
            # Shown: until the picture is there. Not shown: a few looks while main runs.
            if close_to(seen[-1], PICTURE_COLOUR) or (not shown and len(seen) >= 3):
                break
            time.sleep(0.1)
    finally:
        (app.parent / "release").write_text("")
    stdout, stderr = process.communicate(timeout=60)
    stdout = b"".join(printed) + stdout
    after = display.pixel(*centre, keep_as=shots_dir / "after.png" if shots_dir else None)
    return process.returncode, stdout.decode(), stderr.decode(), seen, after


def check(picture_name, display_keys=None, args=(), shown=True, own=False):
    require(LAUNCHER.exists(), f"{LAUNCHER} (cmake --build --preset linux)")
    require((CLASSES / "SplashApp.class").exists(), f"{CLASSES}/SplashApp.class")
    jdk = find_jdk()
    require(jdk, "a JDK whose runtime has lib/libsplashscreen.so (package openjdk-17-jre)")
    display = Display()
    try:
        with tempfile.TemporaryDirectory() as temp:
            app = make_app(Path(temp) / "app", jdk, picture_name, display_keys)
            keep = os.environ.get("QN_KEEP_SCREENSHOTS")
            shots = Path(keep) / (picture_name + "".join(args)) if keep else None
            if shots:
                shots.mkdir(parents=True, exist_ok=True)
            code, stdout, stderr, seen, after = run_with_screenshots(display, app, args, shots, shown)
    finally:
        display.close()
    report = f"exit {code}\nstdout: {stdout}\nstderr: {stderr}\ncentre while running: {seen}\nafter: {after}"
    assert code == 0, report
    assert f"args={' '.join(args)}" in stdout, report
    if shown:
        # The picture shows centred while main runs; Java sees it only through the runtime's splash.
        assert seen and close_to(seen[-1], PICTURE_COLOUR), report
        assert f"splash={'false' if own else 'true'}" in stdout, report
        width, height = PICTURE_SIZE
        bounds = f"bounds={(SCREEN[0] - width) // 2},{(SCREEN[1] - height) // 2},{width},{height}"
        assert own or bounds in stdout, report
    else:
        assert not any(close_to(c, PICTURE_COLOUR) for c in seen), report
        assert "splash=false" in stdout, report
    # Closed at the end: nothing of it is left on the screen.
    assert not close_to(after, PICTURE_COLOUR), report


def test_png_picture_through_the_runtimes_library():
    check("picture.png", {"Preffer Native Splash Screen": "yes"})


def test_own_window_shows_the_picture():
    # A BMP, which the runtime's library does not read; every format takes the toolkit's one loader.
    check("picture.bmp", {"Preffer Native Splash Screen": "no"}, own=True)


def test_nosplash_shows_nothing():
    check("picture.png", args=("-nosplash",), shown=False)
