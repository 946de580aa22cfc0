"""The Linux launcher as a command-line tool with a real JDK: Ctrl+C is the runtime's to handle, so
the program's shutdown hooks run and the process ends as under the runtime's own command."""

import os
import signal
import subprocess
import tempfile
from pathlib import Path

from jvm_harness import utf8_env
from test_trace import install


def test_interrupt_runs_the_shutdown_hooks_and_ends_as_the_runtime_does():
    with tempfile.TemporaryDirectory() as root:
        exe = install(Path(root), "ConsoleTool", "-XX:-UsePerfData -Xmx64m")
        process = subprocess.Popen([str(exe)], cwd=root, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, env=utf8_env(), start_new_session=True)
        try:
            assert process.stdout.readline() == b"ready\n"
            os.killpg(process.pid, signal.SIGINT)  # Ctrl+C: to the whole foreground process group
            out, err = process.communicate(timeout=60)
        finally:
            process.kill()
            process.wait()
        # 128 + SIGINT, as the runtime's own command ends.
        assert (out, process.returncode) == (b"hook ran\n", 130), err
