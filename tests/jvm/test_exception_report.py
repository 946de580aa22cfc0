"""The report of an exception that escaped main, with a real JDK: its text, and the question asked
on a terminal (Ignore or Stop) or not asked at all."""

import shutil
import subprocess
import tempfile
from pathlib import Path

from jvm_harness import BINARY_DIR, CLASSES, JDK_HOME, LAUNCHER, Terminal, require, utf8_env

HOST = BINARY_DIR / "tests" / "qn_exception_host"
PROMPT = "Ignore or Stop? [I/s] "


def host(*args):
    require(HOST.exists(), f"{HOST} (cmake --build --preset linux)")
    require((CLASSES / "Failures.class").exists(), f"{CLASSES}/Failures.class")
    return [str(HOST), str(CLASSES)] + list(args)


def describe(method):
    done = subprocess.run(host("describe", method), env=utf8_env(), stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=60)
    out, err = done.stdout.decode("utf-8"), done.stderr.decode("utf-8", "replace")
    assert done.returncode == 0, f"exit {done.returncode}\n{out}\n{err}"
    assert "WARNING" not in err, err  # -Xcheck:jni found wrong use of the JNI
    begin, end = out.index("TEXT-BEGIN\n") + len("TEXT-BEGIN\n"), out.index("TEXT-END\n")
    assert out[end:].strip() == "TEXT-END\nPENDING=0", out  # nothing is left pending
    return out[begin:end], err


def test_text_holds_class_message_and_frames():
    text, err = describe("plain")
    lines = text.splitlines()
    # Characters beyond ASCII, one outside the basic plane among them, survive the way through
    # modified UTF-8.
    assert lines[0] == "java.lang.IllegalStateException: boom caf\u00e9 \u20ac \U0001F600", lines
    assert lines[1] == "\tat Failures.deeper(Failures.java:24)", lines
    assert lines[2] == "\tat Failures.nested(Failures.java:30)", lines
    assert lines[3] == "\tat Failures.plain(Failures.java:32)", lines
    assert text.endswith("\n") and "\r" not in text, repr(text)
    assert err == "", err


def test_message_line_breaks_stay():
    text, _ = describe("multiline")
    assert text.startswith("java.lang.IllegalStateException: first line\nsecond line\n\tat "), repr(text)


def test_throwing_print_stack_trace_keeps_what_was_written():
    text, err = describe("halfPrinted")
    assert text == "app.HalfPrinted: written before the failure\n", repr(text)
    # The failure inside printStackTrace is printed by the runtime, not swallowed.
    assert "java.lang.IllegalStateException: printing failed" in err, err


def test_throwing_print_stack_trace_before_writing_gives_empty_text():
    text, err = describe("nothingPrinted")
    assert text == "", repr(text)
    assert "java.lang.IllegalStateException: printing failed at once" in err, err


def test_no_terminal_goes_on_as_ignore():
    done = subprocess.run(host("report", "plain"), env=utf8_env(), stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
    out, err = done.stdout.decode(), done.stderr.decode("utf-8", "replace")
    assert done.returncode == 0, f"exit {done.returncode}\n{out}\n{err}"
    assert out == "IGNORED PENDING=0\n", out
    assert PROMPT not in err, err


def answer(method, typed):
    terminal = Terminal(host("report", method), env=utf8_env())
    screen = terminal.read_until(PROMPT)
    terminal.type(typed)
    code, out = terminal.finish()
    return code, out, screen, terminal.text()


def test_terminal_stop_ends_with_minus_one():
    for typed in ("s\n", "Stop\n"):
        code, out, screen, _ = answer("plain", typed)
        assert code == 255, (typed, code, out)
        assert out == "", out
        assert "java.lang.IllegalStateException: boom caf\u00e9" in screen, screen
        assert "WARNING: If you choose to Stop the application any unsaved data will be lost." in screen


def test_terminal_enter_ignores():
    code, out, _, _ = answer("plain", "\n")
    assert (code, out) == (0, "IGNORED PENDING=0\n"), (code, out)


def test_terminal_asks_again_after_another_answer():
    code, out, _, whole = answer("plain", "maybe\ns\n")
    assert code == 255, (code, out)
    assert whole.count(PROMPT) == 2, whole


def test_terminal_end_of_input_ignores():
    code, out, _, _ = answer("plain", "\x04")  # Ctrl-D: the terminal reports end of input
    assert (code, out) == (0, "IGNORED PENDING=0\n"), (code, out)


def test_empty_text_asks_nothing():
    terminal = Terminal(host("report", "nothingPrinted"), env=utf8_env())
    code, out = terminal.finish()
    assert (code, out) == (0, "IGNORED PENDING=0\n"), (code, out, terminal.text())
    assert PROMPT not in terminal.text(), terminal.text()


# --- The launcher itself ------------------------------------------------------------------------

def make_app(folder, application=None, runtime=None):
    """The Linux launcher as folder/tool with its tool.ini: main class Failures on the JDK."""
    require(LAUNCHER.exists(), f"{LAUNCHER} (cmake --build --preset linux)")
    require((CLASSES / "Failures.class").exists(), f"{CLASSES}/Failures.class")
    exe = Path(folder) / "tool"
    shutil.copy2(LAUNCHER, exe)
    jre = {"Main Class": "Failures", "JRE Path": str(JDK_HOME)}
    jre.update(runtime or {})
    sections = {"Java Runtime Environment": jre, "Class Path": {"Class Path": str(CLASSES)}}
    if application is not None:
        sections["Application"] = application
    lines = []
    for section, values in sections.items():
        lines.append(f"[{section}]")
        lines.extend(f"{key}={value}" for key, value in values.items())
    (Path(folder) / "tool.ini").write_text("\n".join(lines) + "\n", encoding="utf-8")
    return exe


def launcher_answer(typed, arguments=(), application=None):
    with tempfile.TemporaryDirectory(prefix="qn-jvm-ui-") as folder:
        exe = make_app(folder, application={"Failure Check": "Yes"} if application is None else application)
        terminal = Terminal([str(exe)] + list(arguments), env=utf8_env(), cwd=folder)
        if typed is None:
            code, out = terminal.finish()
            return code, out, terminal.text()
        terminal.read_until(PROMPT)
        terminal.type(typed)
        code, out = terminal.finish()
        return code, out, terminal.text()


def test_launcher_terminal_stop_ends_with_minus_one():
    code, out, screen = launcher_answer("s\n")
    assert code == 255, (code, out, screen)
    assert out == "main runs\n", out
    # The runtime printed the trace above the question.
    trace = screen.index('Exception in thread "main" java.lang.IllegalStateException: boom caf\u00e9')
    assert trace < screen.index(PROMPT), screen
    assert "\tat Failures.main(Failures.java:" in screen, screen


def test_launcher_terminal_enter_goes_on_with_zero():
    code, out, screen = launcher_answer("\n")
    assert (code, out) == (0, "main runs\n"), (code, out, screen)


def test_launcher_without_failure_check_asks_nothing():
    code, out, screen = launcher_answer(None, application={})
    assert (code, out) == (0, "main runs\n"), (code, out, screen)
    assert PROMPT not in screen, screen
    assert "java.lang.IllegalStateException" in screen, screen


def test_launcher_empty_trace_asks_nothing():
    code, out, screen = launcher_answer(None, arguments=["nothingPrinted"])
    assert (code, out) == (0, "main runs\n"), (code, out, screen)
    assert PROMPT not in screen, screen


def test_launcher_main_without_exception_asks_nothing():
    code, out, screen = launcher_answer(None, arguments=["none"])
    assert (code, out) == (0, "main runs\n"), (code, out, screen)
    assert PROMPT not in screen, screen


def test_missing_runtime_says_what_is_needed_and_ends_as_cancel():
    plain = ("The Java Runtime Environment (JRE) was not found. Please  download and install a JRE "
             "(minimum version 99.0) from:\nhttps://adoptium.net/\n")
    server = ("The Java Runtime Environment (JRE) was not found. Please  download and install a JRE "
              "with a server JVM (minimum version 99.0) from:\nhttps://adoptium.net/\n")
    cases = [({}, plain), ({"JVM Type": "favor_server"}, plain), ({"JVM Type": "server"}, server)]
    for runtime, message in cases:
        with tempfile.TemporaryDirectory(prefix="qn-jvm-ui-") as folder:
            # No runtime can be found: none is configured, and none is new enough.
            exe = make_app(folder, runtime=dict(runtime, **{"JRE Path": "", "Minimum Version": "99"}))
            before = sorted(p.name for p in Path(folder).iterdir())
            ini = (Path(folder) / "tool.ini").read_bytes()
            # A terminal is there, and still nothing waits for an answer.
            terminal = Terminal([str(exe)], env=utf8_env(HOME=folder, XDG_CONFIG_HOME=""), cwd=folder)
            code, out = terminal.finish(timeout=30)
            screen = terminal.text().replace("\r\n", "\n")
            assert code == 255, (runtime, code, out, screen)
            assert screen == message, (runtime, screen)
            assert sorted(p.name for p in Path(folder).iterdir()) == before
            assert (Path(folder) / "tool.ini").read_bytes() == ini
