"""The Windows single-instance channel between two real launcher processes: a first instance whose
main (in the stand-in runtime) keeps running, and later starts whose arguments reach its scripted
secondaryMain and whose exit codes come back through the registered message."""

import os
import signal
import threading
import time
from pathlib import Path

from harness import PREFIX, make_app, run
from test_runtime_vm import home, parse_record

START_TIMEOUT = 90


class InstanceApp:
    """app.exe with "Single Instance" on, the stand-in as its runtime, a script and a record."""

    def __init__(self, name, script):
        ini = {"Java Runtime Environment": {"Main Class": "com.example.App", "JRE Path": home()},
               "Class Path": {"Class Path": "app.jar"},
               "Application": {"Single Instance": "yes"}}
        self.app = make_app(name, exe="app.exe", ini=ini)
        self.app.write_file("app.jar", b"")
        self.stop_file = self.app.path("stop")
        self.app.write_file("script.txt", script + f"\nmain.waitFor={self.stop_file}\n")
        self.record = self.app.path("record.txt")
        self.env = {"QN_STANDIN_SCRIPT": str(self.app.path("script.txt")),
                    "QN_STANDIN_RECORD": str(self.record)}
        self.first = None
        self.first_result = None

    def start_first(self):
        def body():
            self.first_result = run(self.app, args="first", env=self.env, timeout=START_TIMEOUT)

        self.first = threading.Thread(target=body)
        self.first.start()
        deadline = time.monotonic() + START_TIMEOUT
        # main has been called, so the main-started event is set.
        while not self.entries("main.waiting"):
            assert self.first.is_alive(), "the first instance ended early"
            assert time.monotonic() < deadline, parse_record(self.record)
            time.sleep(0.05)

    def later(self, args=None):
        return run(self.app, args=args, env=self.env, timeout=START_TIMEOUT).check()

    def stop_first(self):
        self.stop_file.write_bytes(b"")
        self.first.join(START_TIMEOUT + 60)
        assert not self.first.is_alive()
        return self.first_result.check()

    def entries(self, key):
        return [value for name, value in parse_record(self.record) if name == key]

    def calls(self):
        """Every secondaryMain call's argument list, in the order they were recorded."""
        calls = []
        for name, value in parse_record(self.record):
            if name == "secondaryMain.argc":
                calls.append([])
            elif name == "secondaryMain.arg":
                calls[-1].append(value)
        return calls


def with_first(app, body):
    app.start_first()
    try:
        body()
    finally:
        first = app.stop_first()
    assert first.exit_code == 0, first.describe()
    assert first.dialogs == [], first.describe()


def test_int_secondary_main_result_is_the_later_exit_code():
    app = InstanceApp("instance_int", "secondaryMain=int\nsecondaryMain.result=7\nsecondaryMain.sleep=300")

    def body():
        later = app.later('"a b" c')
        assert later.exit_code == 7, later.describe()
        assert later.dialogs == []
        # The reply left after the method returned.
        assert app.entries("secondaryMain.return") == ["a b"]
        assert app.calls() == [["a b", "c"]]
        # The later start created no virtual machine of its own.
        assert len(app.entries("create.result")) == 1

    with_first(app, body)


def test_void_secondary_main_is_answered_before_it_returns():
    app = InstanceApp("instance_void", "secondaryMain=void\nsecondaryMain.sleep=4000")

    def body():
        later = app.later("x")
        assert later.exit_code == 0, later.describe()
        assert app.calls() == [["x"]]
        assert app.entries("secondaryMain.return") == [], "the later start did not wait for the method"
        deadline = time.monotonic() + 20
        while not app.entries("secondaryMain.return"):
            assert time.monotonic() < deadline
            time.sleep(0.1)

    with_first(app, body)


def test_every_argument_arrives_whatever_its_length_or_the_lists():
    app = InstanceApp("instance_lists", "secondaryMain=int\nsecondaryMain.result=7")
    paths = [f"C:\\Users\\someone\\Documents\\report part {i:02} of the yearly figures.pdf" for i in range(30)]
    # An empty one in the middle, exactly the 1,040 bytes of the block, "Open with" for 30 files.
    lists = [["code13", "", "after", "more"], ["a" * 1000, "b" * 37], ["open"] + paths]

    def body():
        for args in lists:
            later = app.later(" ".join(f'"{arg}"' for arg in args))
            assert later.exit_code == 7, later.describe()
            assert later.dialogs == [], later.describe()
        assert app.calls() == lists, app.calls()

    with_first(app, body)


def test_a_burst_of_later_starts_each_arrive_once_with_their_own_result():
    app = InstanceApp("instance_burst", "secondaryMain=int\nsecondaryMain.result=first")
    count = 10

    def body():
        results = {}
        failures = []

        def start(i):
            try:
                results[i] = app.later(f"{i} argument-{i} {'x' * i}")
            except Exception as error:  # noqa: BLE001 - reported below
                failures.append((i, error))

        threads = [threading.Thread(target=start, args=(i,)) for i in range(1, count + 1)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join(START_TIMEOUT + 60)
        assert failures == [], failures
        for i in range(1, count + 1):
            assert results[i].exit_code == i, (i, results[i].describe())
        calls = sorted(app.calls(), key=lambda call: int(call[0]))
        assert calls == [[str(i), f"argument-{i}", "x" * i] for i in range(1, count + 1)], calls
        assert app.first.is_alive(), "the first instance keeps running"

    with_first(app, body)


def test_without_secondary_main_the_later_start_ends_with_the_first_ones_exit_code():
    app = InstanceApp("instance_none", "secondaryMain=none\nmain.exit=3")
    app.start_first()
    results = []
    later = threading.Thread(target=lambda: results.append(app.later("x")))
    later.start()
    try:
        time.sleep(1.5)
        assert later.is_alive(), "the later start waits for the first one"
    finally:
        first = app.stop_first()
        later.join(START_TIMEOUT + 60)
    assert first.exit_code == 3, first.describe()
    assert results and results[0].exit_code == 3, results and results[0].describe()
    assert app.calls() == []


def linux_processes_of(app):
    """Linux process ids of the wine processes that run this app's executable (not the driver)."""
    found = []
    wanted = str(app.app.windows_exe).lower().encode()
    prefix = b"WINEPREFIX=" + str(PREFIX).encode()
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            command = (entry / "cmdline").read_bytes().lower()
            # Other build folders' prefixes hold the same C:\qn-tests paths: only this prefix counts.
            ours = prefix in (entry / "environ").read_bytes().split(b"\0")
        except OSError:
            continue
        if wanted in command and b"qn_driver" not in command and ours:
            found.append(int(entry.name))
    return found


def test_a_first_instance_stopped_for_long_serves_each_later_start_with_its_own_arguments():
    # Longer than any time the launcher allows itself anywhere.
    stopped_for = 35
    app = InstanceApp("instance_stopped", "secondaryMain=int\nsecondaryMain.result=first")

    def body():
        pids = linux_processes_of(app)
        assert len(pids) == 1, pids
        results, failures, threads = {}, [], []

        def start(i):
            try:
                results[i] = app.later(f"{i} start-{i}")
            except Exception as error:  # noqa: BLE001 - reported below
                failures.append((i, error))

        os.kill(pids[0], signal.SIGSTOP)
        try:
            for i in (11, 12, 13):
                thread = threading.Thread(target=start, args=(i,))
                thread.start()
                threads.append(thread)
                time.sleep(1)
            time.sleep(stopped_for)
            assert results == {} and failures == [], "they wait while the first lives"
        finally:
            os.kill(pids[0], signal.SIGCONT)
        for thread in threads:
            thread.join(START_TIMEOUT + 60)
        assert failures == [], failures
        for i in (11, 12, 13):
            assert results[i].exit_code == i, (i, results[i].describe())
        assert sorted(app.calls()) == [[str(i), f"start-{i}"] for i in (11, 12, 13)], app.calls()

    with_first(app, body)
