"""The console build for command-line tools, shipped as tool.com beside tool.exe: its standard
streams are the caller's pipes, its messages are text on standard error and no window ever
appears, its exit codes are the runtime command's, and the .com companion shares the ini and the
single instance of the .exe."""

from harness import (APPS_DIR, CONSOLE_LAUNCHER, EXIT_FAILURE, configured_download_link, make_app, run,
                     string_table_source, windows_path)
from test_runtime_vm import StandinApp, home
from test_single_instance import InstanceApp, with_first

THROWN = "java.lang.IllegalStateException: thrown by the tool"


def console_app(name, script="", **options):
    return StandinApp(name, script, exe="tool.com", launcher=CONSOLE_LAUNCHER, **options)


def text(data):
    """What the launcher and the runtime wrote (ANSI code page), with LF line ends."""
    return data.decode("cp1252").replace("\r\n", "\n")


def assert_no_window(result, what):
    assert result.windows == [], f"{what}: {result.describe()}"


def test_standard_streams_are_the_callers_unless_files_are_configured():
    script = "main.stdout=to output\nmain.stderr=to error\nmain.echo=arguments\nmain.echoInput=read: \n"
    app = console_app("console_streams", script)
    result = app.run(args='caf\xe9 "two words"', pipes=True, stdin=b"one\r\ntwo\r\n")
    assert result.exit_code == 0, result.describe()
    assert_no_window(result, "streams")
    # An accented argument reaches main unchanged and comes back (the stand-in echoes UTF-8).
    assert result.output.decode("utf-8").splitlines() == [
        "to output", "caf\u00e9", "two words", "read: one", "read: two"], result.output
    assert text(result.error_output) == "to error\n", result.error_output

    folder = windows_path(APPS_DIR / "console_stream_files")
    files = console_app("console_stream_files", script,
                        application={"Output File": folder + "\\out.txt", "Error File": folder + "\\err.txt"})
    result = files.run(pipes=True, stdin=b"three\r\n")
    assert result.exit_code == 0, result.describe()
    assert (result.output, result.error_output) == (b"", b""), result.describe()
    assert files.app.path("out.txt").read_bytes().splitlines() == [b"to output", b"read: three"]
    assert text(files.app.path("err.txt").read_bytes()) == "to error\n"


def test_exit_codes_are_the_runtime_commands_and_failures_text_on_standard_error():
    strings = string_table_source()
    thrown = f'Exception in thread "main" {THROWN}\n'
    cases = [
        # name, ini (None: a stand-in runtime app with the script and [Application]), script,
        # [Application], exit code, standard error (with a stack trace: how it starts)
        ("System.exit(3)", None, "main.exit=3\n", None, 3, ""),
        ("uncaught exception", None, f"main.throw={THROWN}\n", None, 1, thrown),
        ("uncaught exception, Failure Check on", None, f"main.throw={THROWN}\n", {"Failure Check": "Yes"}, 1,
         thrown),
        ("no main class", {"Java Runtime Environment": {"Minimum Version": "1.6"}}, "", None, EXIT_FAILURE,
         strings[210] + "\n"),
        # No "JRE Path" and no runtime in the prefix: the question, the link, then the end.
        ("no runtime", {"Java Runtime Environment": {"Main Class": "app.Main"}}, "", None, EXIT_FAILURE,
         strings[207].replace("%s", strings[217]) + "\n" + configured_download_link() + "\n"),
        ("main class not found", None, "class.missing=com.example.App\n", None, EXIT_FAILURE,
         'Exception in thread "main" java.lang.NoClassDefFoundError: com/example/App\n'
         + strings[215].replace("%s", "com/example/App")),
    ]
    for name, ini, script, application, code, expected in cases:
        if ini is None:
            result = console_app("console_exit", script, application=application).run(pipes=True)
        else:
            app = make_app("console_exit", exe="tool.com", ini=ini, launcher=CONSOLE_LAUNCHER)
            result = run(app, pipes=True).check()
        assert result.exit_code == code, f"{name}: {result.describe()}"
        assert_no_window(result, name)
        error = text(result.error_output)
        matches = error.startswith(expected) if "throw" in script else error == expected
        assert result.output == b"" and matches, f"{name}: {result.describe()}"


def test_the_com_companion_reads_the_ini_of_the_same_name_and_traces_to_standard_error():
    app = console_app("console_companion", "main.echo=arguments\n")
    app.app.copy_launcher("tool.exe")  # the GUI program beside it; tool.ini serves both
    result = app.run(args="companion", pipes=True, env={"QN_LAUNCHER_TRACE": "-"})
    assert result.exit_code == 0, result.describe()
    assert text(result.output) == "companion\n", result.describe()
    assert app.entries("main.class") == ["com/example/App"]
    # The trace asked for on standard error goes there.
    lines = text(result.error_output).splitlines()
    assert any(line.endswith("launcher: exit code 0") for line in lines), lines


def test_a_console_start_hands_over_to_a_running_gui_instance():
    app = InstanceApp("console_hand_over", "secondaryMain=int\nsecondaryMain.result=first")
    companion = app.app.copy_launcher("app.com", launcher=CONSOLE_LAUNCHER)

    def body():
        later = run(companion, args="7 from-the-console", env=app.env, pipes=True).check()
        assert later.exit_code == 7, later.describe()
        assert_no_window(later, "hand-over")
        assert app.calls() == [["7", "from-the-console"]]
        # The console start created no virtual machine of its own.
        assert len(app.entries("create.result")) == 1

    with_first(app, body)


def test_messages_reach_a_console_readable_whatever_its_code_page():
    # Written as ANSI bytes (1252), the accented name would read wrong in a console of another
    # code page.
    app = console_app("console_screen", "class.missing=com.example.Caf\u00e9\n".encode("utf-8"),
                      runtime={"Main Class": "com.example.Caf\u00e9"})
    for code_page in (850, 65001):
        result = app.run(console=code_page)
        assert result.exit_code == EXIT_FAILURE, result.describe()
        assert_no_window(result, "console")
        assert "Could not find the main class com/example/Caf\u00e9." in result.console.splitlines(), \
            f"{code_page}: {result.console}"


def test_the_splash_is_shown_when_the_vendor_names_a_picture():
    # Without one (every other test here) no window appears.
    from test_splash import SPLASH_CLASS, make_picture
    app = console_app("console_splash", "main.sleep=1500\n")
    picture = make_picture(app.app.path("splash.bmp"), 200, 100)
    app.app.write_ini({"Java Runtime Environment": {"Main Class": "com.example.App", "JRE Path": home()},
                       "Class Path": {"Class Path": "app.jar"}, "Display": {"Splash Screen": windows_path(picture)}})
    result = app.run(pipes=True)
    assert result.exit_code == 0, result.describe()
    assert [w.window_class for w in result.windows] == [SPLASH_CLASS], result.describe()
