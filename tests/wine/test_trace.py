"""The launch trace of the Windows launcher under wine, against the stand-in runtime: "-" writes a
file in the user's temporary folder, its option lines are what the runtime was handed, and a trace
that cannot be written leaves the start exactly as it is without one."""

import re

from harness import EXIT_FAILURE, run, windows_path
from test_runtime_vm import StandinApp, error_box_texts

LINE = re.compile(r"^ *(\d+) \[(\d+)\] ([a-z-]+): (.*)$")


def read_trace(path):
    raw = path.read_bytes().decode("cp1252")
    assert raw.endswith("\r\n"), raw[-200:]
    lines = []
    for text in raw[:-2].split("\r\n"):
        match = LINE.match(text)
        assert match, f"not a trace line: {text!r}"
        lines.append((match[3], match[4]))
    return lines


def texts(lines, category):
    return [text for kind, text in lines if kind == category]


def test_dash_writes_the_file_in_the_temporary_folder_with_what_the_runtime_was_handed():
    app = StandinApp("trace_dash", runtime={"Virtual Machine Parameters": '-Xmx64m "-Dqn.text=two  blanks"'})
    temporary = app.app.path("temp")
    temporary.mkdir()
    folder = windows_path(temporary)
    result = app.run(args='one "two words"',
                     env={"QN_LAUNCHER_TRACE": "-", "TMP": folder, "TEMP": folder})
    assert result.exit_code == 0, result.describe()
    trace = temporary / "qnlauncher-trace.txt"
    assert trace.exists(), sorted(p.name for p in temporary.iterdir())
    lines = read_trace(trace)
    assert texts(lines, "option") == app.entries("option"), (texts(lines, "option"), app.entries("option"))
    assert texts(lines, "argument") == ['"one"', '"two words"']
    assert texts(lines, "launcher")[0] == f"executable {app.app.windows_exe}"
    assert texts(lines, "launcher")[-1] == "exit code 0"
    assert texts(lines, "vm")[0].startswith("loaded ") and texts(lines, "vm")[0].endswith("\\bin\\client\\jvm.dll")


def test_an_unwritable_trace_leaves_the_exit_code_and_the_messages_as_they_are():
    cases = [("no class path", {"class_path": "missing.jar"}, ["press:OK"]),
             ("a failed creation", {"script": "create.result=-4\n"}, ["press:OK"]),
             ("a good start", {}, [])]
    for name, settings, steps in cases:
        app = StandinApp("trace_unwritable_" + name.replace(" ", "_"), **settings)
        plain = app.run(steps=steps)
        missing = windows_path(app.app.path("no-such-folder")) + "\\trace.txt"
        traced = app.run(steps=steps, env={"QN_LAUNCHER_TRACE": missing})
        assert traced.exit_code == plain.exit_code, f"{name}: {traced.describe()}"
        assert error_box_texts(traced) == error_box_texts(plain), f"{name}: {traced.describe()}"
        assert not app.app.path("no-such-folder").exists()
    assert plain.exit_code == 0 and EXIT_FAILURE != 0


def test_registrations_out_of_range_and_without_a_flavour_are_named_with_the_reason():
    from test_runtime_search import RegistryApp, clean_registry

    clean_registry()
    try:
        registry = RegistryApp("trace_registrations", runtime={"Minimum Version": "1.5"})
        jre6 = registry.home("jre6")
        empty = registry.app.path("java/jre5")
        (empty / "bin").mkdir(parents=True)
        registry.register([("Java Runtime Environment", "1.4.2", registry.home("jre4")),
                           ("Java Runtime Environment", "1.5.0", windows_path(empty)),
                           ("Java Runtime Environment", "1.6.0_10", jre6)])
        trace = registry.app.path("trace.txt")
        result = run(registry.app, env={"QN_STANDIN_SCRIPT": str(registry.app.path("script.txt")),
                                        "QN_STANDIN_RECORD": str(registry.record),
                                        "QN_LAUNCHER_TRACE": windows_path(trace)}).check()
        assert result.exit_code == 0, result.describe()
        assert registry.chosen() == jre6 + r"\bin\client\jvm.dll", registry.chosen()
        runtime = texts(read_trace(trace), "runtime")

        def about(version):
            found = [text for text in runtime if text.startswith(f"candidate {version} ")]
            assert len(found) == 1, (version, runtime)
            return found[0]

        assert about("1.4.2").endswith(": passed over: out of range"), runtime
        assert about("1.5.0").endswith(": passed over: no flavour (looked for bin\\client\\jvm.dll, "
                                       "bin\\classic\\jvm.dll, bin\\hotspot\\jvm.dll, bin\\server\\jvm.dll, "
                                       f"bin\\jrockit\\jvm.dll in {windows_path(empty)}\\)"), runtime
        assert about("1.6.0_10").endswith(": chosen") and jre6 in about("1.6.0_10"), runtime
        assert f"library {jre6}\\bin\\client\\jvm.dll" in runtime, runtime
    finally:
        clean_registry()
