"""Single instance when starts die or ids come back. Where a test needs a process id to come back,
its processes run in a process-id namespace of their own (unshare), where nothing else takes ids;
outside CI, without it, those tests are skipped."""

import os
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

from jvm_harness import SOURCE_DIR, require
from test_single_instance import START_TIMEOUT, with_app


def in_own_pid_namespace(scenario):
    """Runs `scenario` of this module as the first process of a new process-id namespace."""
    unshare = shutil.which("unshare")
    require(os.geteuid() == 0 and unshare, "root and unshare, for a process-id namespace")
    runner = Path(__file__).resolve().parent / "run.py"
    result = subprocess.run([unshare, "--pid", "--fork", "--mount-proc", sys.executable, str(runner),
                             Path(__file__).stem, scenario], capture_output=True, text=True, timeout=240)
    require(result.returncode != 77, result.stdout)
    assert result.returncode == 0, result.stdout + result.stderr


def start_with_id(app, process_id, *args, running=()):
    """A later start that gets `process_id`, free again, as its own. The `running` processes of the
    namespace are stopped meanwhile: a thread they start would take the id first."""
    for process in running:
        process.send_signal(signal.SIGSTOP)
    try:
        for process in running:
            os.waitpid(process.pid, os.WUNTRACED)  # back once every thread of it has stopped
        Path("/proc/sys/kernel/ns_last_pid").write_text(str(process_id - 1))
        started = app.start(*args)
    finally:
        for process in running:
            process.send_signal(signal.SIGCONT)
    assert started.pid == process_id, f"the start got id {started.pid}, not {process_id}"
    return started


def wait_until(condition, what, timeout=START_TIMEOUT):
    deadline = time.monotonic() + timeout
    while not condition():
        assert time.monotonic() < deadline, what
        time.sleep(0.02)


def scenario_reply_reaches_its_own_start():
    def body(app, processes):
        processes.append(app.start_first())
        killed = app.start("code=11", "hold=release-a")
        processes.append(killed)
        wait_until(lambda: ["code=11", "hold=release-a"] in app.calls(), "the first start's call")
        killed.kill()
        killed.wait()
        # With the killed one's id, and so its thread's, it waits for its own reply when the killed one's comes.
        newcomer = start_with_id(app, killed.pid, "code=22", "hold=release-b", running=processes[:1])
        processes.append(newcomer)
        wait_until(lambda: ["code=22", "hold=release-b"] in app.calls(), "the new start's call")
        app.touch("release-a")
        wait_until(lambda: ["code=11", "hold=release-a"] in app.calls("leave"), "the killed start's answer")
        time.sleep(0.5)
        assert newcomer.poll() is None, newcomer.returncode
        app.touch("release-b")
        _, err = newcomer.communicate(timeout=START_TIMEOUT)
        assert newcomer.returncode == 22, (newcomer.returncode, err)
        assert app.calls() == [["code=11", "hold=release-a"], ["code=22", "hold=release-b"]], app.calls()

    with_app("InstanceIntApp", body, clean=False)


def test_a_reply_reaches_only_the_start_that_asked_when_a_killed_starts_id_comes_back():
    in_own_pid_namespace("scenario_reply_reaches_its_own_start")


def scenario_dead_first_gives_way():
    def body(app, processes):
        trace = Path(app.folder) / "trace.txt"
        app.env = dict(app.env, QN_LAUNCHER_TRACE=str(trace))
        traced = lambda: trace.read_text(errors="replace") if trace.exists() else ""
        crashed = app.start_first("old")
        processes.append(crashed)
        crashed.send_signal(signal.SIGSTOP)  # it cannot take what the next start hands over
        waiting = app.start("code=5", "mine")
        processes.append(waiting)
        # Killed only once the request is in its queue: killed earlier, the waiting start would
        # rightly become the first instance without handing anything over.
        wait_until(lambda: f"[{waiting.pid}] instance: request posted" in traced(), "the waiting start's request")
        crashed.kill()
        crashed.wait()
        # A new start of the same program with the dead first instance's id is not taken for it.
        newcomer = start_with_id(app, crashed.pid, "code=9", "theirs", running=[waiting])
        processes.append(newcomer)
        _, err = newcomer.communicate(timeout=START_TIMEOUT)
        assert newcomer.returncode == 9, (newcomer.returncode, err, traced())
        assert app.mains() == ["int 1|6f6c64", "int 2|636f64653d35|6d696e65"], app.mains()
        assert app.calls() == [["code=9", "theirs"]], app.calls()
        assert waiting.poll() is None, "the start that waited runs the application"
        # When it in turn dies after taking a later start's arguments, that start says so.
        later = app.start("code=3", "hold=never")
        processes.append(later)
        wait_until(lambda: ["code=3", "hold=never"] in app.calls(), "the call")
        waiting.kill()
        _, err = later.communicate(timeout=START_TIMEOUT)
        said = [line for line in (SOURCE_DIR / "res" / "string_table.inc").read_text().splitlines()
                if line.startswith("QN_STRING(272, ")][0].split('"')[1]
        assert later.returncode == 255 and said in err.decode(), (later.returncode, err)

    with_app("InstanceIntApp", body, clean=False)


def test_a_first_instance_that_dies_before_taking_the_arguments_gives_way_and_one_that_dies_after_is_reported():
    in_own_pid_namespace("scenario_dead_first_gives_way")
