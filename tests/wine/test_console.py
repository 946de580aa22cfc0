"""The console build for command-line tools, shipped as tool.com beside tool.exe: its standard
streams are the caller's pipes, its messages are text on standard error and no window ever
appears, its exit codes are the runtime command's, and the .com companion shares the ini and the
single instance of the .exe."""

import re

from harness import (CONSOLE_LAUNCHER, EXIT_FAILURE, WIN64_DIR, make_app, run, string_table_source,
                     windows_path)
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

    files = console_app("console_stream_files", script)
    folder = files.app.windows_folder
    files.app.write_ini({"Java Runtime Environment": {"Main Class": "com.example.App", "JRE Path": home()},
                         "Class Path": {"Class Path": "app.jar"},
                         "Application": {"Output File": folder + "\\out.txt", "Error File": folder + "\\err.txt"}})
    result = files.run(pipes=True, stdin=b"three\r\n")
    assert result.exit_code == 0, result.describe()
    assert (result.output, result.error_output) == (b"", b""), result.describe()
    assert files.app.path("out.txt").read_bytes().splitlines() == [b"to output", b"read: three"]
    assert text(files.app.path("err.txt").read_bytes()) == "to error\n"


def test_exit_codes_are_the_runtime_commands():
    cases = [
        # name, script, [Application], console exit code, GUI exit code (None: not compared)
        ("main returns", "", None, 0, 0),
        ("System.exit(3)", "main.exit=3\n", None, 3, 3),
        ("uncaught exception", f"main.throw={THROWN}\n", None, 1, 0),
        ("uncaught exception, Failure Check on", f"main.throw={THROWN}\n", {"Failure Check": "Yes"}, 1, None),
    ]
    for name, script, application, console_code, gui_code in cases:
        app = console_app("console_exit", script, application=application)
        result = app.run(pipes=True)
        assert result.exit_code == console_code, f"{name}: {result.describe()}"
        assert_no_window(result, name)
        if "throw" in script:
            error = text(result.error_output)
            assert error.startswith(f'Exception in thread "main" {THROWN}\n'), f"{name}: {error!r}"
        if gui_code is not None:
            gui = StandinApp("console_exit_gui", script, application=application).run(pipes=True)
            assert gui.exit_code == gui_code, f"{name} (GUI): {gui.describe()}"


def download_link():
    # The link the win64 build was configured with (QN_DOWNLOAD_URL).
    header = (WIN64_DIR / "generated" / "res" / "download_link.h").read_text()
    return re.search(r'#define QN_DOWNLOAD_LINK "([^"]+)"', header).group(1)


def test_launcher_failures_are_text_on_standard_error_and_never_a_window():
    strings = string_table_source()
    missing_runtime = strings[207].replace("%s", strings[217])
    cases = [
        # name, ini (None: a stand-in runtime app with the script), script, standard error
        ("no main class", {"Java Runtime Environment": {"Minimum Version": "1.6"}}, "", strings[210] + "\n"),
        # No "JRE Path" and no runtime in the prefix: the question, the link, then the end.
        ("no runtime", {"Java Runtime Environment": {"Main Class": "app.Main"}}, "",
         f"{missing_runtime}\n{download_link()}\n"),
        ("main class not found", None, "class.missing=com.example.App\n",
         'Exception in thread "main" java.lang.NoClassDefFoundError: com/example/App\n'
         + strings[215].replace("%s", "com/example/App")),
    ]
    for name, ini, script, expected in cases:
        if ini is None:
            result = console_app("console_failure", script).run(pipes=True)
        else:
            app = make_app("console_failure", exe="tool.com", ini=ini, launcher=CONSOLE_LAUNCHER)
            result = run(app, pipes=True).check()
        assert result.exit_code == EXIT_FAILURE, f"{name}: {result.describe()}"
        assert_no_window(result, name)
        assert (result.output, text(result.error_output)) == (b"", expected), f"{name}: {result.describe()}"


def test_a_trace_asked_for_on_standard_error_goes_there():
    app = console_app("console_trace")
    result = app.run(pipes=True, env={"QN_LAUNCHER_TRACE": "-"})
    assert result.exit_code == 0, result.describe()
    lines = text(result.error_output).splitlines()
    assert any(line.endswith("launcher: exit code 0") for line in lines), lines


def test_the_com_companion_reads_the_ini_of_the_same_name():
    app = console_app("console_companion", "main.echo=arguments\n")
    app.app.copy_launcher("tool.exe")  # the GUI program beside it; tool.ini serves both
    result = app.run(args="companion", pipes=True)
    assert result.exit_code == 0, result.describe()
    assert text(result.output) == "companion\n", result.describe()
    assert app.entries("main.class") == ["com/example/App"]


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
    app = console_app("console_screen")
    app.app.write_file("script.txt", "class.missing=com.example.Caf\u00e9\n".encode("utf-8"))
    app.app.write_ini({"Java Runtime Environment": {"Main Class": "com.example.Caf\u00e9", "JRE Path": home()},
                       "Class Path": {"Class Path": "app.jar"}})
    for code_page in (850, 65001):
        result = app.run(console=code_page)
        assert result.exit_code == EXIT_FAILURE, result.describe()
        assert_no_window(result, "console")
        assert "Could not find the main class com/example/Caf\u00e9." in result.console.splitlines(), \
            f"{code_page}: {result.console}"


def test_the_splash_is_shown_only_when_the_vendor_names_a_picture():
    from test_splash import SPLASH_CLASS, make_picture
    app = console_app("console_splash", "main.sleep=1500\n")
    picture = make_picture(app.app.path("splash.bmp"), 200, 100)
    for name, display, classes in [("none configured", {}, []),
                                   ("a picture", {"Splash Screen": windows_path(picture)}, [SPLASH_CLASS])]:
        app.app.write_ini({"Java Runtime Environment": {"Main Class": "com.example.App", "JRE Path": home()},
                           "Class Path": {"Class Path": "app.jar"}, "Display": display})
        result = app.run(pipes=True)
        assert result.exit_code == 0, f"{name}: {result.describe()}"
        assert [w.window_class for w in result.windows] == classes, f"{name}: {result.describe()}"
