"""Loading the runtime, creating the VM and calling main, seen from outside, against the stand-in
runtime (tests/support/standin): the boxes, the exit code, and what the runtime was handed."""

import re

from harness import DEFAULT_CAPTION, EXIT_FAILURE, LAUNCHER, WIN64_DIR, ini_text, make_app, run, windows_path

HOMES = WIN64_DIR / "tests"
CREATE_FAILED = "JNI exception: failed to create the Java VM\nReason: %s.\n"


def home(variant="standin"):
    return windows_path(HOMES / variant)


def parse_record(path):
    entries = []
    if not path.exists():
        return entries
    # The stand-in writes UTF-8 throughout: option strings and environment values are converted
    # from the ANSI code page they are handed over in.
    for raw in path.read_bytes().decode("utf-8").splitlines():
        key, _, value = raw.partition("=")
        value = re.sub(r"\\(.)", lambda m: {"n": "\n", "r": "\r"}.get(m.group(1), m.group(1)), value)
        entries.append((key, value))
    return entries


class StandinApp:
    """An application folder whose "JRE Path" is a stand-in home, with a script and a record."""

    def __init__(self, name, script="", variant="standin", runtime=None, application=None,
                 class_path="app.jar", exe="app.exe", launcher=LAUNCHER):
        section = {"Main Class": "com.example.App", "JRE Path": home(variant)}
        section.update(runtime or {})
        ini = {"Java Runtime Environment": section, "Class Path": {"Class Path": class_path}}
        if application:
            ini["Application"] = application
        self.app = make_app(name, exe=exe, ini=ini, launcher=launcher)
        self.app.write_file("app.jar", b"")
        self.app.write_file("script.txt", script)
        self.record = self.app.path("record.txt")

    def run(self, args=None, env=None, steps=(), **options):
        environment = {"QN_STANDIN_SCRIPT": str(self.app.path("script.txt")),
                       "QN_STANDIN_RECORD": str(self.record)}
        environment.update(env or {})
        return run(self.app, args=args, env=environment, steps=steps, **options).check()

    def entries(self, key):
        return [value for name, value in parse_record(self.record) if name == key]

    def entry(self, key):
        values = self.entries(key)
        assert len(values) == 1, f"{key} in {parse_record(self.record)}"
        return values[0]


def error_box_texts(result):
    return [(box.caption, box.text) for box in result.dialogs]


def test_an_unloadable_library_gives_222_with_126():
    app = StandinApp("unloadable", variant="standin-unloadable")
    result = app.run(steps=["press:OK"])
    library = home("standin-unloadable") + "\\bin\\client\\jvm.dll"
    assert error_box_texts(result) == [
        (DEFAULT_CAPTION, f"Failed to load Java VM library: {library} (errno = 126).\n")], result.describe()
    assert result.exit_code == EXIT_FAILURE, result.describe()


def test_a_library_without_the_entry_points_gives_202_with_212():
    for variant in ("standin-empty", "standin-partial"):
        app = StandinApp("entry_points_" + variant.replace("-", "_"), variant=variant)
        result = app.run(steps=["press:OK"])
        assert error_box_texts(result) == [
            (DEFAULT_CAPTION, "Windows exception: cannot find CreateJavaVM JNI (errno = 127).\n")], \
            f"{variant}: {result.describe()}"
        assert result.exit_code == EXIT_FAILURE, f"{variant}: {result.describe()}"
        assert app.entries("create.version") == [], variant


def test_a_failed_creation_shows_each_reason():
    reasons = {-1: "unknown", -2: "thread detached from VM", -3: "JNI version error",
               -4: "not enough memory", -5: "VM already created", -6: "invalid arguments", -7: ""}
    for code, reason in reasons.items():
        app = StandinApp(f"create_{-code}", script=f"create.result={code}\n")
        result = app.run(steps=["press:OK"])
        assert error_box_texts(result) == [(DEFAULT_CAPTION, CREATE_FAILED % reason)], \
            f"{code}: {result.describe()}"
        assert result.exit_code == EXIT_FAILURE, f"{code}: {result.describe()}"
        assert app.entries("main.class") == [] and app.entries("destroy") == [], code


def test_the_runtime_gets_the_worked_example():
    app = StandinApp("worked_example", class_path="app.jar;lib\\*.jar",
                     runtime={"Library Path": "native",
                              "Virtual Machine Parameters": "-Xmx50:64:512P -Dlog=%TEMP%\\app.log "
                                                            "-Dexact=%QN_EXACT%\\x"})
    app.app.write_file("lib/a.jar", b"")
    app.app.write_file("lib/b.jar", b"")
    result = app.run(env={"QN_EXACT": "C:\\Exact"})
    assert result.dialogs == [], result.describe()
    assert result.exit_code == 0, result.describe()

    folder = app.app.windows_folder
    runtime = home()
    options = app.entries("option")
    assert len(options) == 9, options
    assert options[:3] == ["vfprintf", "exit", "abort"], options  # the runtime's hooks
    library_path, class_path, command, heap, log, exact = options[3:]
    prefix = f"-Djava.library.path={folder}\\native;{folder}\\;"
    suffix = f";{runtime}\\lib"
    assert library_path.startswith(prefix) and library_path.endswith(suffix), library_path
    inherited = library_path[len(prefix):-len(suffix)]
    assert "%" not in inherited, inherited
    assert class_path == f"-Djava.class.path={folder}\\app.jar;{folder}\\lib\\a.jar;{folder}\\lib\\b.jar"
    assert command == "-Dsun.java.command=com.example.App"
    assert heap == "-Xmx524288K"  # 50 % of more than 1 GiB, capped at 512 MiB
    assert log.startswith("-Dlog=") and log.endswith("\\app.log") and "%" not in log, log
    assert exact == "-Dexact=C:\\Exact\\x"

    assert app.entry("env.Path") == f"{inherited};{runtime}\\bin"
    assert app.entry("env.QN_JVM_PATH") == f"{runtime}\\bin\\client\\jvm.dll"
    assert app.entry("env.QN_JVM_HOME") == runtime
    assert app.entry("create.version") == "0x10002"
    assert app.entry("create.ignoreUnrecognized") == "0"
    assert app.entries("option.extraInfo") == ["set"] * 3


def test_class_path_entries_with_forward_slashes_or_a_trailing_backslash():
    app = StandinApp("class_path_slashes", class_path="lib/*.jar;classes\\;sub/x.jar;/app.jar")
    app.app.write_file("lib/a.jar", b"")
    app.app.write_file("sub/x.jar", b"")
    app.app.path("classes").mkdir()
    result = app.run()
    assert result.exit_code == 0, result.describe()
    folder = app.app.windows_folder
    assert app.entries("option")[3:5] == [
        f"-Djava.class.path={folder}\\lib/a.jar;{folder}\\classes;{folder}\\sub/x.jar;{folder}\\app.jar",
        "-Dsun.java.command=com.example.App"]


def test_main_receives_the_arguments_then_the_cmd_words():
    app = StandinApp("arguments", application={"Cmd": 'extra "two words" ""'})
    result = app.run(args='first "" -nosplash "a b" caf\u00e9 x"y')
    assert result.exit_code == 0, result.describe()
    assert app.entry("main.class") == "com/example/App"
    assert app.entries("main.arg") == ["first", "", "-nosplash", "a b", "caf\u00e9", 'x"y', "extra",
                                       "two words"]
    # Monitoring tools show the command as the runtime's own launcher sets it: blank-separated.
    command = [option for option in app.entries("option") if option.startswith("-Dsun.java.command=")]
    assert command == ['-Dsun.java.command=com.example.App first  -nosplash a b caf\u00e9 x"y extra two words'], \
        app.entries("option")
    names = [name for name, _ in parse_record(app.record)]
    assert names.index("main.class") < names.index("detach") < names.index("destroy"), names


def test_the_main_threads_stack_size():
    cases = [("xss", "", "-Xss8m", 8 << 20), ("default", "default.stackSize=4194304\n", "", 4 << 20)]
    for name, script, parameters, expected in cases:
        app = StandinApp("stack_" + name, script=script,
                         runtime={"Virtual Machine Parameters": parameters} if parameters else None)
        result = app.run()
        assert result.exit_code == 0, f"{name}: {result.describe()}"
        assert int(app.entry("create.stackSize")) == expected, f"{name}: {parse_record(app.record)}"
        asked = app.entries("defaultInitArgs.version")
        assert asked == ([] if parameters else ["0x10001"]), f"{name}: {asked}"


def test_the_standard_streams_go_to_the_configured_files():
    app = StandinApp("streams", script="main.stdout=to-out\nmain.stderr=to-err\n",
                     application={"Output File": "%QN_LOGS%\\out.txt", "Error File": "err.txt"})
    logs = app.app.path("logs")
    logs.mkdir()
    result = run(app.app, env={"QN_STANDIN_SCRIPT": str(app.app.path("script.txt")),
                               "QN_STANDIN_RECORD": str(app.record), "QN_LOGS": windows_path(logs)},
                 cwd=app.app.windows_folder).check()
    assert result.exit_code == 0, result.describe()
    assert (logs / "out.txt").read_text() == "to-out\n"
    assert app.app.path("err.txt").read_text() == "to-err\n"  # relative to the working folder
    assert app.entries("setOut") == [windows_path(logs / "out.txt")]


def test_main_failures_show_their_message_and_end_with_minus_one():
    cases = [
        ("missing_class", "class.missing=com.example.App\n", "Could not find the main class com/example/App.\n"),
        ("no_main", "main=none\n", "No main method found in specified class.\n"),
    ]
    for name, script, message in cases:
        app = StandinApp(name, script=script)
        result = app.run(steps=["press:OK"])
        assert error_box_texts(result) == [(DEFAULT_CAPTION, message)], f"{name}: {result.describe()}"
        assert result.exit_code == EXIT_FAILURE, f"{name}: {result.describe()}"
        assert app.entries("detach") == [""] and app.entries("destroy") == [""], name


def test_an_exception_from_main_is_described_and_the_exit_code_stays_0():
    app = StandinApp("main_throws", script="main.throw=java.lang.IllegalStateException: boom\n")
    result = app.run()
    assert result.dialogs == [], result.describe()
    assert result.exit_code == 0, result.describe()
    assert app.entries("describe") == ["java.lang.IllegalStateException: boom"]


def test_the_users_own_options_come_after_the_vendors_and_a_refused_one_names_their_file():
    app = StandinApp("user_options", script="create.say=Unrecognized option: -Xbogus\ncreate.say=and more\n"
                                            "create.result=-1\n",
                     runtime={"Virtual Machine Parameters": "-Xmx256m -Dwho=vendor", "User Parameters": "yes"})
    ini = app.app.path("app.ini")
    ini.write_bytes(ini.read_bytes() + ini_text({"Product Information": {"Product Name": "QN Test",
                                                                          "Product Code": "users"}}).encode())
    user_file = app.app.write_file("appdata/QN Test/users/app.ini", ini_text(
        {"Java Runtime Environment": {"Virtual Machine Parameters": "-Xmx1g -Dwho=user -Xmx25:64:128P -Xbogus"}}))
    result = app.run(env={"APPDATA": windows_path(app.app.path("appdata"))}, steps=["press:OK"])
    assert error_box_texts(result) == [(DEFAULT_CAPTION, CREATE_FAILED % "Unrecognized option: -Xbogus\nand more" +
                                        f"The option -Xbogus comes from {windows_path(user_file)}.\n")], \
        result.describe()
    assert result.exit_code == EXIT_FAILURE, result.describe()
    assert app.entries("option")[5:] == ["-Xmx256m", "-Dwho=vendor", "-Xmx1g", "-Dwho=user", "-Xmx131072K", "-Xbogus"]
