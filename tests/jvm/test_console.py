"""The Linux launcher as a command-line tool with a real JDK: its streams are the caller's, exit
codes are the Parts' own, and Ctrl+C runs the program's shutdown hooks as the runtime does."""

import os
import signal
import subprocess
import tempfile
from pathlib import Path

from test_trace import install
from jvm_harness import utf8_env

TIMEOUT = 60


def run_tool(folder, *arguments, stdin=b""):
    exe = install(folder, "ConsoleTool", "-XX:-UsePerfData -Xmx64m")
    return subprocess.run([str(exe)] + list(arguments), cwd=folder, input=stdin,
                          capture_output=True, timeout=TIMEOUT, env=utf8_env())


def test_streams_are_the_callers_pipes():
    with tempfile.TemporaryDirectory() as root:
        done = run_tool(Path(root), "echo", "caf\u00e9", "two words", stdin="one\nzwei \u00fc\n".encode())
        assert done.returncode == 0, done.stderr
        assert done.stdout.decode("utf-8").splitlines() == [
            "arg=caf\u00e9", "arg=two words", "read=one", "read=zwei \u00fc"], done.stdout
        assert done.stderr.decode("utf-8") == "to standard error\n", done.stderr


def test_exit_codes_keep_the_launchers_rules():
    cases = [
        ("System.exit(n)", ["exit", "7"], 7, None),
        # An uncaught exception leaves the exit code at 0 on Linux, as in the Windows GUI program;
        # only the Windows console build gives 1.
        ("uncaught exception", ["throw"], 0, "java.lang.IllegalStateException: thrown by the tool"),
    ]
    for name, arguments, code, error in cases:
        with tempfile.TemporaryDirectory() as root:
            done = run_tool(Path(root), *arguments)
            stderr = done.stderr.decode("utf-8", "replace")
            assert done.returncode == code, f"{name}: {done.returncode}\n{stderr}"
            if error:
                assert error in stderr, f"{name}: {stderr}"


def test_interrupt_runs_the_shutdown_hooks_and_ends_as_the_runtime_does():
    with tempfile.TemporaryDirectory() as root:
        folder = Path(root)
        exe = install(folder, "ConsoleTool", "-XX:-UsePerfData -Xmx64m")
        process = subprocess.Popen([str(exe), "interrupt"], cwd=folder, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=utf8_env(),
                                   start_new_session=True)
        try:
            assert process.stdout.readline() == b"ready\n"
            # Ctrl+C in a terminal: SIGINT to the whole foreground process group.
            os.killpg(process.pid, signal.SIGINT)
            out, err = process.communicate(timeout=TIMEOUT)
        finally:
            if process.poll() is None:
                process.kill()
                process.wait()
        assert out == b"hook ran\n", (out, err)
        # 128 + SIGINT, as the runtime's own command ends.
        assert process.returncode == 130, (process.returncode, err)
