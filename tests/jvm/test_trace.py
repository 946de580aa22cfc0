"""The launch trace of real starts with a real JDK: the option list and arguments it names are what
the runtime and main received, and a later single-instance start names what it handed over and the
reply it got."""

import os
import re
import shutil
import subprocess
import tempfile
from pathlib import Path

from jvm_harness import CLASSES, JDK_HOME, LAUNCHER, require, utf8_env
from test_single_instance import START_TIMEOUT, with_app

LINE = re.compile(r"^ *(\d+) \[(\d+)\] ([a-z-]+): (.*)$")


def read_trace(path):
    """(elapsed, process id, category, text) of every line; every line must have the form."""
    lines = []
    for raw in Path(path).read_text(encoding="utf-8").splitlines():
        match = LINE.match(raw)
        assert match, f"not a trace line: {raw!r}"
        lines.append((int(match[1]), int(match[2]), match[3], match[4]))
    return lines


def texts(lines, category):
    return [text for _, _, kind, text in lines if kind == category]


def install(folder, main_class, parameters):
    require(LAUNCHER.exists(), f"{LAUNCHER} (cmake --build --preset linux)")
    require((CLASSES / "TraceOptions.class").exists(), f"{CLASSES}/TraceOptions.class")
    require((JDK_HOME / "lib" / "server" / "libjvm.so").exists(), f"a JDK at {JDK_HOME}")
    exe = folder / "app"
    shutil.copyfile(LAUNCHER, exe)
    exe.chmod(0o755)
    shutil.copytree(CLASSES, folder / "classes")
    ini = ["[Java Runtime Environment]", f"Main Class={main_class}", f"JRE Path={JDK_HOME}",
           f"Virtual Machine Parameters={parameters}", "[Class Path]", "Class Path=classes"]
    (folder / "app.ini").write_text("\n".join(ini) + "\n")
    return exe


def test_the_traced_option_list_and_arguments_are_what_the_runtime_and_main_received():
    with tempfile.TemporaryDirectory() as root:
        folder = Path(root)
        exe = install(folder, "TraceOptions",
                      '-XX:-UsePerfData -Xmx64m "-Dqn.text=two  blanks" -Dqn.tab=%QN_TAB% -Xss2m')
        trace = folder / "trace.txt"
        trace.write_text("an earlier start\n")
        arguments = ["one", "two words", "", "caf\u00e9"]
        result = subprocess.run([str(exe)] + arguments, cwd=folder, stdin=subprocess.DEVNULL,
                                capture_output=True, timeout=START_TIMEOUT,
                                env=utf8_env(QN_LAUNCHER_TRACE=str(trace), QN_TAB="a\tb"))
        assert result.returncode == 0, result.stderr
        printed = result.stdout.decode("utf-8").splitlines()
        properties = [line.split("=", 1)[1] for line in printed if line.startswith("property=")]
        received = [line.split("=", 1)[1] for line in printed if line.startswith("option=")]
        main_got = [line.split("=", 1)[1] for line in printed if line.startswith("argument=")]

        content = trace.read_text(encoding="utf-8")
        assert content.startswith("an earlier start\n"), content[:200]
        trace.write_text(content[len("an earlier start\n"):], encoding="utf-8")
        lines = read_trace(trace)
        options = texts(lines, "option")
        # The runtime reports the class path and the command as properties, not among its options;
        # a control character comes back escaped in the trace, and as itself to the program.
        reported_apart = ("-Djava.class.path=", "-Dsun.java.command=")
        assert [o for o in options if o.startswith(reported_apart)] == properties, (options, properties)
        assert [o for o in options if not o.startswith(reported_apart)] == \
            [option.replace("\t", "\\x09") for option in received], (options, received)
        assert "-Dqn.text=two  blanks" in received
        assert f"creating the VM with {len(options)} options" in texts(lines, "vm")
        assert texts(lines, "argument") == ['"%s"' % argument for argument in arguments]
        assert main_got == arguments, main_got
        # One start, one process, times counted from its creation and never going back.
        assert {pid for _, pid, _, _ in lines} == {lines[0][1]}
        times = [elapsed for elapsed, _, _, _ in lines]
        assert times == sorted(times), times
        assert texts(lines, "launcher")[0] == f"executable {exe}"
        assert texts(lines, "launcher")[-1] == "exit code 0"
        assert f"loaded {JDK_HOME}/lib/server/libjvm.so" in texts(lines, "vm")


def test_a_program_that_ends_the_process_itself_still_leaves_its_exit_code():
    with tempfile.TemporaryDirectory() as root:
        folder = Path(root)
        exe = install(folder, "TraceOptions", "-XX:-UsePerfData")
        trace = folder / "trace.txt"
        result = subprocess.run([str(exe), "exit=3"], cwd=folder, stdin=subprocess.DEVNULL,
                                capture_output=True, timeout=START_TIMEOUT,
                                env=utf8_env(QN_LAUNCHER_TRACE=str(trace)))
        assert result.returncode == 3, result.stderr
        lines = read_trace(trace)
        assert lines[-1][2:] == ("launcher", "exit code 3 (the program ended the process)"), lines[-3:]
        # The runtime's hooks, handed over on every start, come first.
        assert texts(lines, "option")[:3] == ["vfprintf", "exit", "abort"]
        env = utf8_env()
        env.pop("QN_LAUNCHER_TRACE", None)
        plain = subprocess.run([str(exe), "exit=3"], cwd=folder, stdin=subprocess.DEVNULL,
                               capture_output=True, timeout=START_TIMEOUT, env=env)
        assert plain.returncode == 3 and not plain.stderr, plain.stderr


def test_without_the_variable_nothing_is_written_and_the_start_is_the_same():
    with tempfile.TemporaryDirectory() as root:
        folder = Path(root)
        exe = install(folder, "TraceOptions", "-XX:-UsePerfData")
        env = utf8_env()
        env.pop("QN_LAUNCHER_TRACE", None)
        plain = subprocess.run([str(exe), "x"], cwd=folder, stdin=subprocess.DEVNULL,
                               capture_output=True, timeout=START_TIMEOUT, env=env)
        unwritable = subprocess.run([str(exe), "x"], cwd=folder, stdin=subprocess.DEVNULL,
                                    capture_output=True, timeout=START_TIMEOUT,
                                    env=utf8_env(QN_LAUNCHER_TRACE=str(folder / "missing" / "t.txt")))
        assert plain.returncode == unwritable.returncode == 0, (plain.stderr, unwritable.stderr)
        assert plain.stdout == unwritable.stdout and plain.stderr == unwritable.stderr == b""
        assert sorted(os.listdir(folder)) == ["app", "app.ini", "classes"]


def test_a_later_instance_traces_the_hand_over_and_the_reply():
    def body(app, processes):
        first_trace = app.folder / "first-trace.txt"
        later_trace = app.folder / "later-trace.txt"
        app.env["QN_LAUNCHER_TRACE"] = str(first_trace)
        first = app.start_first("one")
        processes.append(first)
        app.env["QN_LAUNCHER_TRACE"] = str(later_trace)
        code, err = app.later("code=42", "two words")
        assert code == 42, err

        later = read_trace(later_trace)
        instance = texts(later, "instance")
        assert "later instance" in " ".join(instance), instance
        assert 'handing over 2 arguments "code=42" "two words"' in instance, instance
        assert instance[-1] == "reply 42", instance
        assert texts(later, "launcher")[-1] == "exit code 42"
        # A later start loads no runtime.
        assert texts(later, "vm") == [] and texts(later, "option") == []

        app.stop_first(first)
        first_lines = read_trace(first_trace)
        instance = texts(first_lines, "instance")
        assert "first instance" in instance, instance
        assert any(re.fullmatch(r'request of thread \d+: 2 arguments "code=42" "two words"', text)
                   for text in instance), instance
        assert any(re.fullmatch(r"secondaryMain returning int gave 42; replied to thread \d+", text)
                   for text in instance), instance
        assert texts(first_lines, "launcher")[-1] == "exit code 0"

    with_app("InstanceIntApp", body)
