"""The console build for command-line tools, shipped as tool.com beside tool.exe: its standard
streams are the caller's, its messages are text on standard error and no window ever appears, its
exit codes are the runtime command's, and the .com companion shares the .exe's single instance."""

from harness import (CONSOLE_LAUNCHER, EXIT_FAILURE, configured_download_link, make_app, run, string_table_source,
                     windows_path)
from test_runtime_vm import StandinApp
from test_single_instance import InstanceApp, with_first

THROWN = "java.lang.IllegalStateException: thrown by the tool"


def console_app(name, script="", **options):
    return StandinApp(name, script, exe="tool.com", launcher=CONSOLE_LAUNCHER, **options)


def test_standard_streams_are_the_callers_and_the_splash_shows_when_the_vendor_names_a_picture():
    # Without a picture (every other test here) no window appears.
    from test_splash import SPLASH_CLASS, make_picture
    app = console_app("console_streams", "main.stdout=to output\nmain.stderr=to error\nmain.echo=arguments\n"
                      "main.echoInput=read: \nmain.sleep=1500\n")
    picture = make_picture(app.app.path("splash.bmp"), 200, 100)
    with open(app.app.path("tool.ini"), "a") as ini:
        ini.write(f"[Display]\nSplash Screen={windows_path(picture)}\n")
    result = app.run(args='caf\xe9 "two words"', streams=True, stdin=b"typed\r\n")
    # The stand-in echoes the arguments in UTF-8.
    assert (result.exit_code, [w.window_class for w in result.windows], result.output.decode("utf-8").splitlines(),
            result.error_output) == (0, [SPLASH_CLASS], ["to output", "caf\u00e9", "two words", "read: typed"],
                                     b"to error\r\n"), \
        result.describe()


def test_exit_codes_are_the_runtime_commands_and_failures_text_on_standard_error():
    strings = string_table_source()
    thrown = f'Exception in thread "main" {THROWN}\n'
    cases = [  # name, [Java Runtime Environment] (None: the stand-in's), exit code, standard error
        ("uncaught exception, Failure Check on", None, 1, thrown),
        ("no main class", {"Minimum Version": "1.6"}, EXIT_FAILURE, strings[210] + "\n"),
        # No "JRE Path" and no runtime in the prefix: where to get one, then the end.
        ("no runtime", {"Main Class": "app.Main"}, EXIT_FAILURE,
         strings[207].replace("%s", strings[217]) + "\n" + configured_download_link() + "\n"),
    ]
    for name, runtime, code, expected in cases:
        if runtime is None:
            app = console_app("console_exit", f"main.throw={THROWN}\n", application={"Failure Check": "Yes"})
            result = app.run(streams=True)
        else:
            app = make_app("console_exit", exe="tool.com", ini={"Java Runtime Environment": runtime},
                           launcher=CONSOLE_LAUNCHER)
            result = run(app, streams=True).check()
        error = result.error_output.decode("cp1252").replace("\r\n", "\n")
        assert (result.exit_code, result.windows, result.output) == (code, [], b""), f"{name}: {result.describe()}"
        assert error.startswith(expected) if runtime is None else error == expected, f"{name}: {error}"


def test_a_console_start_hands_over_to_a_running_gui_instance():
    app = InstanceApp("console_hand_over", "secondaryMain=int\nsecondaryMain.result=first")
    companion = app.app.copy_launcher("app.com", launcher=CONSOLE_LAUNCHER)

    def body():
        later = run(companion, args="7 from-the-console", env=app.env, streams=True).check()
        assert (later.exit_code, later.windows) == (7, []), later.describe()
        assert app.calls() == [["7", "from-the-console"]]
        assert len(app.entries("create.result")) == 1  # no virtual machine of its own

    with_first(app, body)


def test_messages_reach_a_console_readable_whatever_its_code_page():
    # Written as ANSI bytes (1252), the accented name would read wrong in a console of code page 850.
    app = console_app("console_screen", "class.missing=com.example.Caf\u00e9\n".encode("utf-8"),
                      runtime={"Main Class": "com.example.Caf\u00e9"})
    result = app.run(console=850)
    assert (result.exit_code, result.windows) == (EXIT_FAILURE, []), result.describe()
    assert "Could not find the main class com/example/Caf\u00e9." in result.console.decode("utf-8")
