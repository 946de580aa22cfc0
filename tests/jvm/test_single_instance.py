"""Single-instance coordination between real launcher processes with a real JDK: what reaches
secondaryMain, the exit code of a later start, starts that run on their own, a burst of later
starts, a first instance that is stopped for a long while, and that nothing stays behind in the
user's channel folder or among the sockets."""

import os
import shutil
import signal
import socket
import struct
import subprocess
import tempfile
import time
from pathlib import Path

from jvm_harness import CLASSES, JDK_HOME, LAUNCHER, require, utf8_env

START_TIMEOUT = 60


def fnv1a(text):
    value = 1469598103934665603
    for byte in text.encode():
        value = ((value ^ byte) * 1099511628211) & 0xFFFFFFFFFFFFFFFF
    return value


def install(folder, main_class, application=("Single Instance=yes",)):
    """The launcher as `app` in `folder` with its ini and its own copy of the fixture classes, so
    that any user who may read the folder can run it."""
    require(LAUNCHER.exists(), f"{LAUNCHER} (cmake --build --preset linux)")
    require((CLASSES / "InstanceVoidApp.class").exists(), f"{CLASSES}/InstanceVoidApp.class")
    require((JDK_HOME / "bin" / "java").exists(), f"a JDK at {JDK_HOME}")
    folder.mkdir(parents=True)
    exe = folder / "app"
    shutil.copyfile(LAUNCHER, exe)
    exe.chmod(0o755)
    shutil.copytree(CLASSES, folder / "classes")
    # No performance data files: nothing of a test user's run stays in /tmp.
    ini = ["[Java Runtime Environment]", f"Main Class={main_class}", f"JRE Path={JDK_HOME}",
           "Virtual Machine Parameters=-XX:-UsePerfData",
           "[Class Path]", f"Class Path={folder / 'classes'}", "[Application]"] + list(application)
    (folder / "app.ini").write_text("\n".join(ini) + "\n")
    return exe


def private_folder(path, uid=None):
    path.mkdir(mode=0o700)
    if uid is not None:
        os.chown(path, uid, -1)
    path.chmod(0o700)
    return path


def home_channel(home):
    """The channel folder of a user whose home is `home` and who has no runtime folder."""
    return Path(home) / ".cache" / f"qnlauncher-{socket.gethostname()}"


def block_name(instance_name):
    return "%016x.block" % fnv1a(instance_name)


class App:
    """The launcher copied as `app` into its own folder with app.ini; the Java side talks through
    the folder QN_INSTANCE_DIR. Its home is a fresh one of its own, so the channel's files of this
    test are the only ones in it."""

    def __init__(self, root, main_class, application=("Single Instance=yes",), name="app"):
        self.folder = Path(root) / name
        self.exe = install(self.folder, main_class, application)
        self.talk = Path(root) / (name + "-talk")
        self.talk.mkdir()
        require(not Path(f"/run/user/{os.geteuid()}").exists(),
                "no /run/user folder of the user running the tests, whose starts would all meet there")
        self.home = private_folder(Path(root) / (name + "-home"))
        self.channel = home_channel(self.home)
        self.env = utf8_env(QN_INSTANCE_DIR=str(self.talk), HOME=str(self.home))
        self.env.pop("XDG_RUNTIME_DIR", None)
        self.instance_name = str(self.exe.resolve()).replace("/", "_")

    # --- processes ---

    def start(self, *args):
        process = subprocess.Popen([str(self.exe)] + list(args), cwd=self.folder, env=self.env,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        return process

    def start_first(self, *args):
        first = self.start(*args)
        self.wait_for("main-started", first)
        self.remember_listener()
        return first

    def later(self, *args, timeout=START_TIMEOUT):
        process = self.start(*args)
        out, err = process.communicate(timeout=timeout)
        return process.returncode, err.decode("utf-8", "replace")

    def wait_for(self, name, process=None, timeout=START_TIMEOUT):
        deadline = time.monotonic() + timeout
        while not (self.talk / name).exists():
            if process is not None and process.poll() is not None:
                raise AssertionError(f"ended with {process.returncode} before {name}: "
                                     f"{process.stderr.read().decode('utf-8', 'replace')}")
            assert time.monotonic() < deadline, f"no {name} after {timeout} s"
            time.sleep(0.02)

    def touch(self, name, content=""):
        (self.talk / name).write_text(content)

    def stop_first(self, first, exit_code=None):
        if exit_code is not None:
            self.touch("exit-code", str(exit_code))
        self.touch("stop")
        first.communicate(timeout=START_TIMEOUT)
        return first.returncode

    # --- what the Java side saw ---

    def log(self, name):
        path = self.talk / name
        return path.read_text().splitlines() if path.exists() else []

    @staticmethod
    def decode(encoded):
        count, *args = encoded.split("|")
        args = [bytes.fromhex(a).decode("utf-8") for a in args]
        assert len(args) == int(count), encoded
        return args

    def calls(self, kind="enter"):
        return [self.decode(line.split(" ", 1)[1]) for line in self.log("secondary.log")
                if line.startswith(kind + " ")]

    def mains(self):
        return [line for line in self.log("main.log") if line != "initialising"]

    # --- what the system holds ---

    def block(self):
        """The block in the channel folder; where a launcher of before kept it, if it is there."""
        block = self.channel / block_name(self.instance_name)
        earlier = Path("/dev/shm") / self.instance_name
        return earlier if not block.exists() and earlier.exists() else block

    def remember_listener(self):
        block = self.block().read_bytes()
        assert len(block) == 1076, len(block)
        assert self.block().stat().st_mode & 0o077 == 0, oct(self.block().stat().st_mode)
        listener, first_pid, message = struct.unpack_from("<III", block, 0)
        assert listener and first_pid and 0xC000 <= message <= 0xFFFF, (listener, first_pid, message)

    def leftovers(self):
        """Whatever of the channel outlives its processes, but for the lock files, which may stay."""
        found = []
        if self.channel.exists():
            found += [str(entry) for entry in self.channel.iterdir() if entry.suffix != ".lock"]
        if (Path("/dev/shm") / self.instance_name).exists():
            found.append("/dev/shm/" + self.instance_name)
        with open("/proc/net/unix") as table:
            for line in table.readlines()[1:]:
                fields = line.split()
                if len(fields) >= 8 and fields[7].startswith(str(self.channel)):
                    found.append(fields[7])
        return found


def check_clean(app):
    assert app.leftovers() == [], app.leftovers()


def with_app(main_class, body, application=("Single Instance=yes",), clean=True):
    with tempfile.TemporaryDirectory() as root:
        app = App(root, main_class, application)
        processes = []
        try:
            body(app, processes)
        finally:
            for name in ("stop", "release", "release-a", "release-b", "let-main-start"):
                app.touch(name)
            for process in processes:
                try:
                    process.wait(timeout=20)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        if clean:
            check_clean(app)


# --- hand-over and exit codes -----------------------------------------------------------------------


def test_void_secondary_main_gets_the_arguments_and_the_later_start_ends_at_once():
    def body(app, processes):
        first = app.start_first("one")
        processes.append(first)
        code, err = app.later("block", "two words", "caf\u00e9")
        assert code == 0, err
        # The later process has ended while secondaryMain still runs. The reply goes out before
        # the method is called, so its first line may come a moment after that end.
        deadline = time.monotonic() + 10
        while not app.calls("enter"):
            assert time.monotonic() < deadline, app.log("secondary.log")
            time.sleep(0.02)
        assert app.calls("enter") == [["block", "two words", "caf\u00e9"]]
        assert app.calls("leave") == []
        app.touch("release")
        deadline = time.monotonic() + 10
        while not app.calls("leave"):
            assert time.monotonic() < deadline, app.log("secondary.log")
            time.sleep(0.02)
        assert first.poll() is None, "the first instance keeps running"
        assert app.stop_first(first) == 0
        assert app.mains() == ["void 1|6f6e65"]

    with_app("InstanceVoidApp", body)


def test_int_secondary_main_result_is_the_exit_code_after_it_returns():
    def body(app, processes):
        first = app.start_first()
        processes.append(first)
        for args, expected in ((["a"], 7), (["code=-1"], 255), (["code=300"], 300 & 0xFF), (["code=0"], 0)):
            code, err = app.later(*args)
            assert code == expected, (args, code, err)
            # The reply leaves only after the method has returned.
            assert args in app.calls("leave"), (args, app.log("secondary.log"))
        assert app.stop_first(first) == 0

    with_app("InstanceIntApp", body)


def test_without_secondary_main_the_later_start_ends_with_the_first_ones_exit_code():
    for exit_code, expected in ((3, 3), (None, 0)):
        def body(app, processes):
            first = app.start_first()
            processes.append(first)
            later = app.start("x")
            processes.append(later)
            time.sleep(0.5)
            assert later.poll() is None, "the later start waits for the first one"
            assert app.stop_first(first, exit_code) == expected
            later.communicate(timeout=20)
            assert later.returncode == expected, (exit_code, later.returncode)

        with_app("InstanceQuietApp", body)


def test_no_arguments_arrive_as_one_empty_string():
    def body(app, processes):
        processes.append(app.start_first())
        assert app.later()[0] == 7
        assert app.calls() == [[""]]

    with_app("InstanceIntApp", body)


def test_every_argument_arrives_whatever_its_length_or_the_lists():
    paths = [f"/home/someone/Documents/project/report part {i:02} of the yearly figures.pdf" for i in range(30)]
    # An empty one in the middle, exactly the 1,040 bytes of the block, "Open with" for 30 files.
    lists = [["code=13", "", "after", "more"], ["a" * 1000, "b" * 37], ["code=15"] + paths]

    def body(app, processes):
        first = app.start_first()
        processes.append(first)
        for args in lists:
            code, err = app.later(*args)
            expected = int(args[0][5:]) if args[0].startswith("code=") else 7
            assert (code, err) == (expected, ""), (args[:3], code, err)
        # A later start hands over its own words, without those of Cmd Before and Cmd.
        assert app.calls() == lists
        assert first.poll() is None
        assert app.stop_first(first) == 0

    with_app("InstanceIntApp", body, ("Single Instance=yes", 'Cmd Before=--lead "x y"', "Cmd=trail"))


def test_a_later_start_before_main_is_served_once_main_starts():
    def body(app, processes):
        first = app.start()
        processes.append(first)
        deadline = time.monotonic() + START_TIMEOUT
        while "initialising" not in app.log("main.log"):
            assert first.poll() is None and time.monotonic() < deadline
            time.sleep(0.02)
        app.remember_listener()
        later = app.start("code=5")
        processes.append(later)
        time.sleep(0.7)
        assert later.poll() is None, "held back until main starts"
        assert app.calls() == []
        app.touch("let-main-start")
        later.communicate(timeout=30)
        assert later.returncode == 5
        assert app.calls() == [["code=5"]]
        assert (app.talk / "main-started").exists()

    with_app("InstanceSlowApp", body)


# --- starts that run on their own ---------------------------------------------------------------


def test_single_instance_other_than_yes_or_a_service_runs_every_start():
    for application in (("Single Instance=Yes",), ("Application Type=service", "Single Instance=yes")):
        with tempfile.TemporaryDirectory() as root:
            app = App(root, "InstanceVoidApp", application)
            first, second = app.start("x"), app.start("y")
            try:
                deadline = time.monotonic() + START_TIMEOUT
                while len(app.mains()) < 2:
                    assert first.poll() is None and second.poll() is None, application
                    assert time.monotonic() < deadline, app.mains()
                    time.sleep(0.02)
            finally:
                app.touch("stop")
                codes = [p.wait(timeout=START_TIMEOUT) for p in (first, second)]
            assert codes == [0, 0], (application, codes)
            assert sorted(app.mains()) == ["void 1|78", "void 1|79"], app.mains()
            assert not app.channel.exists(), list(app.channel.iterdir())


def test_copies_in_two_folders_both_run():
    with tempfile.TemporaryDirectory() as root:
        one = App(root, "InstanceVoidApp", name="one")
        two = App(root, "InstanceVoidApp", name="two")
        first_one = one.start_first("x")
        first_two = two.start_first("y")
        assert one.instance_name != two.instance_name
        one.touch("stop")
        two.touch("stop")
        assert [first_one.wait(timeout=30), first_two.wait(timeout=30)] == [0, 0]
        assert one.mains() == ["void 1|78"] and two.mains() == ["void 1|79"]
        check_clean(one)
        check_clean(two)


# --- a crashed first instance and a burst -----------------------------------------------------


def test_a_crashed_first_instance_is_replaced_by_the_next_start():
    def body(app, processes):
        crashed = app.start_first("old")
        crashed.send_signal(signal.SIGKILL)
        crashed.wait(timeout=20)
        assert app.block().exists(), "the killed process could not remove its block"
        (app.talk / "main-started").unlink()
        first = app.start_first("new")
        processes.append(first)
        assert app.later("code=9")[0] == 9
        assert app.calls() == [["code=9"]]
        assert app.stop_first(first) == 0

    with_app("InstanceIntApp", body)


def test_fifty_later_starts_at_once_each_arrive_once_with_their_own_result():
    def body(app, processes):
        first = app.start_first()
        processes.append(first)
        expected = {}
        laters = []
        for i in range(1, 51):
            args = [f"code={i}", f"argument of start {i}", "x" * i]
            expected[i] = args
            later = app.start(*args)
            laters.append((i, later))
            processes.append(later)
        for i, later in laters:
            out, err = later.communicate(timeout=120)
            assert later.returncode == i, (i, later.returncode, err.decode("utf-8", "replace"))
        calls = app.calls()
        assert len(calls) == 50, len(calls)
        assert sorted(calls, key=lambda c: int(c[0][5:])) == [expected[i] for i in range(1, 51)]
        assert first.poll() is None, "the first instance keeps running"
        assert app.stop_first(first) == 0

    with_app("InstanceIntApp", body)


def test_a_first_instance_stopped_for_long_serves_each_later_start_with_its_own_arguments():
    # Longer than any time the launcher allows itself anywhere.
    stopped_for = 35

    def body(app, processes):
        first = app.start_first()
        processes.append(first)
        first.send_signal(signal.SIGSTOP)
        try:
            laters = []
            for i in (1, 2, 3):
                later = app.start(f"code={10 + i}", f"start {i}")
                laters.append((i, later))
                processes.append(later)
                time.sleep(1)
            time.sleep(stopped_for)
            assert all(later.poll() is None for _, later in laters), "they wait while the first lives"
        finally:
            first.send_signal(signal.SIGCONT)
        for i, later in laters:
            out, err = later.communicate(timeout=60)
            assert later.returncode == 10 + i, (i, later.returncode, err.decode("utf-8", "replace"))
        assert sorted(app.calls()) == [[f"code={10 + i}", f"start {i}"] for i in (1, 2, 3)], app.calls()
        assert app.stop_first(first) == 0

    with_app("InstanceIntApp", body)
