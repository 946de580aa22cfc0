"""Single instance between users of one machine: one user's starts can neither be taken over,
delayed nor blocked by another user's, and a first instance killed without teardown never keeps
the application from starting. The tests run as root: each makes two unprivileged users of its own
(useradd) and removes them again; the application lives in a fresh folder under /tmp that they may
read. Outside CI, without root, they are skipped."""

import os
import pwd
import shutil
import signal
import struct
import subprocess
import tempfile
import time
import uuid
from contextlib import contextmanager
from pathlib import Path

from jvm_harness import require, utf8_env
from test_single_instance import START_TIMEOUT, App, block_name, fnv1a, home_channel, install, private_folder

# A start that is not delayed by anybody answers within this time; a squatter used to add 30 s.
PROMPT = 10

# --- users --------------------------------------------------------------------------------------


class User:
    def __init__(self, name):
        entry = pwd.getpwnam(name)
        self.name, self.uid, self.gid = name, entry.pw_uid, entry.pw_gid

    def channel_folder(self):
        """Where this user's starts meet: nothing gives the test users a runtime folder."""
        return Path(f"/tmp/qnlauncher-{self.uid}")

    def env(self, **extra):
        env = utf8_env(**{"HOME": "/", "USER": self.name, "LOGNAME": self.name, **extra})
        env.pop("XDG_RUNTIME_DIR", None)
        return env

    def popen(self, args, **kwargs):
        return subprocess.Popen(args, user=self.uid, group=self.gid, extra_groups=[], **kwargs)


@contextmanager
def two_users():
    require(os.geteuid() == 0, "root, to create the two users of the multi-user tests")
    useradd, userdel = shutil.which("useradd"), shutil.which("userdel")
    require(useradd and userdel, "useradd and userdel")
    names = [f"qn{role}{uuid.uuid4().hex[:8]}" for role in ("a", "b")]
    made = []
    try:
        for name in names:
            subprocess.run([useradd, "--no-create-home", "--shell", "/usr/sbin/nologin", name],
                           check=True, capture_output=True)
            made.append(User(name))
        yield made
    finally:
        for user in made:
            for folder in Path("/tmp").glob(f"qnlauncher-{user.uid}*"):
                if folder.is_dir() and folder.stat().st_uid in [other.uid for other in made] + [0]:
                    shutil.rmtree(folder, ignore_errors=True)
            subprocess.run([userdel, user.name], capture_output=True)


@contextmanager
def shared_root():
    """A fresh folder under /tmp that every user may read."""
    root = Path(tempfile.mkdtemp(prefix="qn-users-"))
    root.chmod(0o755)
    try:
        yield root
    finally:
        shutil.rmtree(root, ignore_errors=True)


class Run:
    """One user's view of an installed application: its own talk folder and environment."""

    def __init__(self, exe, root, user, label, **env):
        self.exe, self.user = exe, user
        self.talk = root / f"talk-{label}"
        self.talk.mkdir()
        if user:
            os.chown(self.talk, user.uid, user.gid)
        self.env = (user.env if user else utf8_env)(QN_INSTANCE_DIR=str(self.talk), **env)
        self.processes = []

    def start(self, *args):
        command = [str(self.exe)] + list(args)
        options = dict(cwd=self.exe.parent, env=self.env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        process = self.user.popen(command, **options) if self.user else subprocess.Popen(command, **options)
        self.processes.append(process)
        return process

    def wait_for(self, name, process, timeout=START_TIMEOUT):
        deadline = time.monotonic() + timeout
        while not (self.talk / name).exists():
            if process.poll() is not None:
                raise AssertionError(f"ended with {process.returncode} before {name}: "
                                     f"{process.stderr.read().decode('utf-8', 'replace')}")
            assert time.monotonic() < deadline, f"no {name} after {timeout} s"
            time.sleep(0.02)

    def start_first(self, *args):
        first = self.start(*args)
        self.wait_for("main-started", first)
        return first

    def later(self, *args, timeout=START_TIMEOUT):
        process = self.start(*args)
        began = time.monotonic()
        _, err = process.communicate(timeout=timeout)
        return process.returncode, time.monotonic() - began, err.decode("utf-8", "replace")

    def log(self, name):
        path = self.talk / name
        return path.read_text().splitlines() if path.exists() else []

    def mains(self):
        return [App.decode(line.split(" ", 1)[1]) for line in self.log("main.log")]

    def calls(self):
        return [App.decode(line.split(" ", 1)[1]) for line in self.log("secondary.log")
                if line.startswith("enter ")]

    def stop(self, first):
        (self.talk / "stop").write_text("")
        began = time.monotonic()
        first.communicate(timeout=START_TIMEOUT)
        return first.returncode, time.monotonic() - began

    def finish(self):
        (self.talk / "stop").write_text("")
        for process in self.processes:
            try:
                process.wait(timeout=20)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()


@contextmanager
def running(*runs):
    try:
        yield
    finally:
        for run in runs:
            run.finish()


def instance_name(exe):
    return str(exe.resolve()).replace("/", "_")


def forge_block(path, first_pid, listener, message=0xC123, mode=0o600):
    path.write_bytes(struct.pack("<III", listener, first_pid, message) + bytes(1040))
    path.chmod(mode)


def helper(user, code, *args):
    """A Python process of `user` running `code` until it is killed; the first line it prints
    ends with "ready"."""
    process = user.popen(["python3", "-c", code] + [str(arg) for arg in args], stdin=subprocess.PIPE,
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=user.env())
    line = process.stdout.readline().decode()
    assert line.rstrip().endswith("ready"), process.stderr.read()
    return process


def stop_helper(process):
    process.kill()
    process.wait()


SLEEPER_CODE = "import sys; print('ready', flush=True); sys.stdin.read()"


# --- 1: another user's block is never handed anything ------------------------------------------

# Poses as a first instance: binds where requests to its main thread would arrive, in the given
# folder and among the abstract names, and keeps whatever it receives.
LISTENER_CODE = r"""
import os, socket, sys, threading
record, folder = sys.argv[1], sys.argv[2]
def serve(path):
    receiver = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    receiver.bind(path)
    if not path.startswith("\0"):
        os.chmod(path, 0o777)
    while True:
        data = receiver.recv(4096)
        with open(record, "ab") as out:
            out.write(data.hex().encode() + b"\n")
for path in (f"{folder}/t{os.getpid()}", f"\0qnlauncher/thread/{os.getpid()}"):
    threading.Thread(target=serve, args=(path,), daemon=True).start()
print("ready", flush=True)
sys.stdin.read()
"""


def test_another_users_block_is_refused_and_the_application_runs_with_its_arguments():
    with two_users() as (attacker, victim), shared_root() as root:
        exe = install(root / "app", "InstanceVoidApp")
        name = instance_name(exe)
        loot = root / "loot"
        loot.write_text("")
        loot.chmod(0o666)
        # The attacker's folder under the victim's name, open to all, with a block naming a
        # process of the attacker that listens; and such a block in shared memory as well.
        squat = victim.channel_folder()
        squat.mkdir()
        os.chown(squat, attacker.uid, attacker.gid)
        squat.chmod(0o777)
        shm = Path("/dev/shm") / name
        posing = helper(attacker, LISTENER_CODE, loot, squat)
        try:
            for block in (squat / block_name(name), shm):
                forge_block(block, posing.pid, posing.pid, mode=0o666)
                os.chown(block, attacker.uid, attacker.gid)
            run = Run(exe, root, victim, "victim")
            with running(run):
                first = run.start_first("--password=secret", "invoice.pdf")
                assert run.mains() == [["--password=secret", "invoice.pdf"]]
                code, _ = run.stop(first)
                assert code == 0, code
            assert loot.read_text() == "", "the attacker received a request"
            for block in (squat / block_name(name), shm):
                if block.exists():
                    assert b"secret" not in block.read_bytes(), block
        finally:
            stop_helper(posing)
            shutil.rmtree(squat, ignore_errors=True)
            shm.unlink(missing_ok=True)


# --- 2: a killed first instance whose process id went to someone else ---------------------------


def kernel_thread():
    """A kernel thread's id when this machine shows one: it has no executable."""
    for entry in Path("/proc").iterdir():
        if entry.name.isdigit():
            try:
                status = (entry / "status").read_text()
            except OSError:
                continue
            if "\nPPid:\t2\n" in status or status.startswith("Name:\tkthreadd"):
                try:
                    os.readlink(entry / "exe")
                except OSError:
                    return int(entry.name)
    return None


def test_a_stale_block_whose_process_id_now_belongs_to_another_process_is_taken_over():
    with two_users() as (other, owner), shared_root() as root:
        exe = install(root / "app", "InstanceIntApp")
        # Where the block is, or was kept before the channel moved into the user's own folder.
        blocks = (owner.channel_folder() / block_name(instance_name(exe)), Path("/dev/shm") / instance_name(exe))
        others = {"another user's process": helper(other, SLEEPER_CODE),
                  "another program of the same user": helper(owner, SLEEPER_CODE)}
        try:
            strangers = {what: process.pid for what, process in others.items()}
            kthread = kernel_thread()
            if kthread:
                strangers["a kernel thread"] = kthread
            for what, pid in strangers.items():
                run = Run(exe, root, owner, "run-" + what.replace(" ", "-").replace("'", ""))
                with running(run):
                    crashed = run.start_first("old")
                    crashed.send_signal(signal.SIGKILL)
                    crashed.wait(timeout=20)
                    block = next((path for path in blocks if path.exists()), None)
                    assert block, "the killed process could not remove its block"
                    listener = struct.unpack_from("<I", block.read_bytes(), 0)[0]
                    forge_block(block, pid, listener)
                    os.chown(block, owner.uid, owner.gid)
                    (run.talk / "main-started").unlink()
                    # One start takes over; the next is its later instance.
                    first = run.start_first("new")
                    code, _, err = run.later("code=9")
                    assert code == 9, (what, code, err)
                    assert run.calls() == [["code=9"]], (what, run.calls())
                    assert run.stop(first)[0] == 0
                left = [entry.name for entry in owner.channel_folder().iterdir() if entry.suffix != ".lock"]
                left += [str(path) for path in blocks[1:] if path.exists()]
                assert left == [], (what, left)
        finally:
            for process in others.values():
                stop_helper(process)


# --- 3 and 4: every user, root too, has a first instance of their own ---------------------------


def test_two_users_of_one_installed_application_each_get_their_own_single_instance():
    with two_users() as (first_user, second_user), shared_root() as root:
        exe = install(root / "app", "InstanceIntApp")
        one, two = Run(exe, root, first_user, "one"), Run(exe, root, second_user, "two")
        with running(one, two):
            first_one = one.start_first("a")
            first_two = two.start_first("b")
            assert one.mains() == [["a"]] and two.mains() == [["b"]]
            for run, args in ((two, ("code=21", "of two")), (one, ("code=11", "of one"))):
                code, _, err = run.later(*args)
                assert code == int(args[0][5:]), (code, err)
            assert one.calls() == [["code=11", "of one"]], one.calls()
            assert two.calls() == [["code=21", "of two"]], two.calls()
            assert one.mains() == [["a"]] and two.mains() == [["b"]], "main ran once for each"
            assert one.stop(first_one)[0] == 0 and two.stop(first_two)[0] == 0


def test_root_starting_the_application_beside_a_users_instance_gets_its_own():
    with two_users() as (user, _), shared_root() as root:
        exe = install(root / "app", "InstanceIntApp")
        # The user's runtime folder, kept in root's environment as sudo may keep it.
        runtime = private_folder(root / "run-user", user.uid)
        theirs = Run(exe, root, user, "user", XDG_RUNTIME_DIR=str(runtime))
        mine = Run(exe, root, None, "root", XDG_RUNTIME_DIR=str(runtime))
        with running(theirs, mine):
            first = theirs.start_first("user's")
            own = mine.start_first("root's")
            assert mine.mains() == [["root's"]]
            code, _, err = mine.later("code=4")
            assert code == 4, (code, err)
            assert mine.calls() == [["code=4"]] and theirs.calls() == []
            code, _, err = theirs.later("code=5")
            assert code == 5, (code, err)
            assert theirs.calls() == [["code=5"]]
            assert mine.stop(own)[0] == 0 and theirs.stop(first)[0] == 0
        assert not (runtime / "qnlauncher" / block_name(instance_name(exe))).exists()
        root_block = Path("/tmp/qnlauncher-0") / block_name(instance_name(exe))
        assert not root_block.exists(), root_block


# --- 5: names another user takes first cost nothing ---------------------------------------------

SQUAT_CODE = r"""
import socket, sys
held = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
held.bind(sys.argv[1].replace("@", "\0", 1))
print("ready", flush=True)
sys.stdin.read()
"""


def test_a_squatted_lock_name_of_another_user_adds_no_delay():
    with two_users() as (squatter, user), shared_root() as root:
        exe = install(root / "app", "InstanceIntApp")
        name = instance_name(exe)
        # The abstract name once used as the start-up lock, and the user's usual folder.
        abstract = "@qnlauncher/turn/%016x" % fnv1a(name + "_upr_mtx")
        held = helper(squatter, SQUAT_CODE, abstract)
        folder = user.channel_folder()
        folder.mkdir(mode=0o700)
        os.chown(folder, squatter.uid, squatter.gid)
        try:
            run = Run(exe, root, user, "user")
            with running(run):
                first = run.start_first("x")
                code, took, err = run.later("code=6")
                assert code == 6, (code, err)
                assert took < PROMPT, f"the later start took {took:.1f} s"
                code, took = run.stop(first)
                assert code == 0 and took < PROMPT, (code, took)
            assert run.calls() == [["code=6"]]
            assert list(folder.iterdir()) == [], "nothing went into the squatter's folder"
        finally:
            stop_helper(held)
            shutil.rmtree(folder, ignore_errors=True)


def test_another_user_taking_every_name_under_tmp_cannot_switch_single_instance_off():
    with two_users() as (squatter, user), shared_root() as root:
        exe = install(root / "app", "InstanceIntApp")
        squats = [Path(f"/tmp/qnlauncher-{user.uid}{suffix}") for suffix in ("", ".1", ".2", ".3")]
        for folder in squats:
            folder.mkdir(mode=0o700, exist_ok=True)
            os.chown(folder, squatter.uid, squatter.gid)
        home, runtime = private_folder(root / "home", user.uid), private_folder(root / "run-user", user.uid)
        run = Run(exe, root, user, "user", HOME=str(home))
        with running(run):
            first = run.start_first("x")
            # Starts with and without a runtime folder in their environment meet all the same.
            for code in (6, 8):
                got, _, err = run.later(f"code={code}")
                assert got == code, (got, err)
                run.env = dict(run.env, XDG_RUNTIME_DIR=str(runtime))
            assert run.calls() == [["code=6"], ["code=8"]], run.calls()
            assert (home_channel(home) / block_name(instance_name(exe))).exists()
            assert run.stop(first)[0] == 0
        assert all(list(folder.iterdir()) == [] for folder in squats), "nothing went into the squatted folders"
