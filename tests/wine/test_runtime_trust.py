"""What a start takes from where, and what reaches the runtime whole, against the stand-in runtime:
libraries planted in the working folder or beside the launcher, a relative "JRE Path", a class path
too long for the system's expansion, a product name in a double-byte code page, and a runtime that
ends the process while it is being created."""

import shutil
import subprocess

from harness import DEFAULT_CAPTION, EXIT_FAILURE, require, windows_path
from test_runtime_vm import HOMES, StandinApp, error_box_texts, home

PLANTED_DEPENDENCY = HOMES / "planted-dependency" / "qn_standin_dependency.dll"
CREATE_FAILED = "JNI exception: failed to create the Java VM\nReason: %s.\n"


def test_the_runtimes_own_dependency_is_loaded_not_a_planted_copy():
    for where in ("working_folder", "launcher_folder"):
        app = StandinApp("planted_" + where, variant="standin-dependent")
        work = app.app.path("downloads")
        work.mkdir()
        shutil.copyfile(PLANTED_DEPENDENCY, (work if where == "working_folder" else app.app.folder)
                        / PLANTED_DEPENDENCY.name)
        result = app.run(cwd=windows_path(work))
        assert result.exit_code == 0, f"{where}: {result.describe()}"
        assert app.entry("dependency") == "runtime", where
        # The program still inherits the search path in its usual order, the runtime's bin last.
        assert app.entry("env.Path").endswith(";" + home("standin-dependent") + "\\bin"), where
    # The runtime's splash library, loaded before the runtime, imports the same library.
    app = StandinApp("planted_splash", variant="standin-splash-dependent")
    with open(app.app.path("app.ini"), "a", newline="") as ini:
        ini.write("[Display]\r\nSplash Screen=app.jar\r\nPreffer Native Splash Screen=yes\r\n")
    shutil.copyfile(PLANTED_DEPENDENCY, app.app.folder / PLANTED_DEPENDENCY.name)
    result = app.run(cwd=windows_path(app.app.folder))
    assert result.exit_code == 0, result.describe()
    assert app.entries("splash.dependency") == ["runtime"] and app.entry("dependency") == "runtime"


def test_a_relative_jre_path_is_the_application_folders():
    # "rt" names a full runtime beside the launcher, and a library without the entry points below
    # the working folder, planted there: taking it would show a box.
    app = StandinApp("relative_jre_path", runtime={"JRE Path": "rt"})
    work = app.app.path("work")
    shutil.copytree(HOMES / "standin-empty", work / "rt")
    shutil.copytree(HOMES / "standin", app.app.path("rt"))
    result = app.run(cwd=windows_path(work))
    assert result.dialogs == [] and result.exit_code == 0, result.describe()
    shipped = windows_path(app.app.path("rt"))
    assert app.entry("env.QN_JVM_PATH") == shipped + "\\bin\\client\\jvm.dll"
    assert app.entry("env.QN_JVM_HOME") == shipped


def test_a_path_longer_than_the_system_takes_stops_the_start():
    inherited = "C:\\windows\\system32;C:\\windows"
    tail = f";{inherited};{home()}\\bin"
    refused = "The search path Path cannot be set to its new value of 32767 characters: that is more than the system takes."
    for length, box in [(32766, []), (32767, [(DEFAULT_CAPTION, refused)])]:
        system_path = "C:\\" + "x" * (length - len(tail) - 3)
        app = StandinApp(f"long_path_{length}", runtime={"System Path": system_path})
        result = app.run(env={"Path": inherited}, steps=["press:OK"] if box else [])
        assert error_box_texts(result) == box, result.describe()
        assert result.exit_code == (EXIT_FAILURE if box else 0), result.describe()
        assert app.entries("env.Path") == ([] if box else [system_path + tail])


def test_a_class_path_beyond_the_systems_expansion_reaches_the_runtime_whole():
    folder = "C:\\" + "\\".join(["a-rather-long-folder-name-for-the-libraries"] * 2)
    entries = [f"{folder}\\library-number-{i:03}.jar" for i in range(400)]
    for name, written, expected in [
        ("plain", entries, entries),
        # A reference anywhere is expanded, and the rest stays whole.
        ("reference", entries + ["C:\\%QN_EXTRA%\\x.jar"], entries + ["C:\\extra\\x.jar"]),
    ]:
        app = StandinApp("long_class_path_" + name, class_path=";".join(written),
                         runtime={"Virtual Machine Parameters": "-Dlong=" + ";".join(written)})
        result = app.run(env={"QN_EXTRA": "extra"})
        assert result.exit_code == 0, f"{name}: {result.describe()}"
        options = app.entries("option")[3:]  # after the runtime's hooks
        assert len(";".join(expected)) > 40000
        assert options[0] == "-Djava.class.path=" + ";".join(expected), f"{name}: {options[0][:200]}"
        long_option = [option for option in options if option.startswith("-Dlong=")]
        assert long_option == ["-Dlong=" + ";".join(expected)], f"{name}: {str(long_option)[:200]}"


def test_the_per_user_folder_under_code_page_932():
    # Without the Unix locale wine cannot name files in Japanese (scripts/setup makes it).
    locales = subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout.lower().split()
    require("ja_jp.utf8" in locales or "ja_jp.utf-8" in locales, "the locale ja_JP.UTF-8 (scripts/setup)")
    # "ソフト": its first character's second byte has the value of a backslash.
    product = "\u30bd\u30d5\u30c8"
    app = StandinApp("per_user_932")
    ini = ("[Product Information]\r\nProduct Name=" + product + "\r\nProduct Code=code\r\n"
           "[Java Runtime Environment]\r\nMain Class=com.example.App\r\n"
           "[Class Path]\r\nClass Path=app.jar\r\n")
    app.app.write_file("app.ini", ini.encode("cp932"))
    appdata = app.app.path("appdata")
    user_file = appdata / product / "code" / "app.ini"
    user_file.parent.mkdir(parents=True)
    user_file.write_bytes(f"[Java Runtime Environment]\r\nJRE Path={home()}\r\n".encode("cp932"))
    result = app.run(env={"APPDATA": windows_path(appdata)}, locale="ja_JP.UTF-8")
    assert result.dialogs == [], result.describe()
    assert result.exit_code == 0, result.describe()
    assert app.entry("main.class") == "com/example/App"


def test_a_runtime_ending_the_process_while_created_shows_what_it_said():
    said = "create.say=Error occurred during initialization of VM\n" \
           "create.say=Could not reserve enough space for object heap\n"
    words = "Error occurred during initialization of VM\nCould not reserve enough space for object heap"
    for name, script, code, reason in [
        ("abort", said + "create.end=abort\n", 1, words),
        ("exit", said + "create.exit=2\n", 2, words),
        ("silent", "create.exit=5\n", 5, "unknown"),
    ]:
        app = StandinApp("ends_while_created_" + name, script=script)
        result = app.run(steps=["press:OK"])
        assert error_box_texts(result) == [(DEFAULT_CAPTION, CREATE_FAILED % reason)], \
            f"{name}: {result.describe()}"
        assert result.exit_code == code, f"{name}: {result.describe()}"
        assert app.entries("main.class") == [], name


def test_system_exit_from_main_keeps_its_code_and_shows_nothing():
    for code in (0, 3):
        app = StandinApp(f"system_exit_{code}", script=f"create.say=warming up\nmain.exit={code}\n")
        result = app.run()
        assert result.dialogs == [], result.describe()
        assert result.exit_code == code, result.describe()
        assert app.entries("exit") == [str(code)]


def test_one_file_for_output_and_error_is_opened_once_for_both():
    app = StandinApp("one_log", script="main.stdout=to-out\nmain.stderr=to-err\n",
                     application={"Output File": "log.txt", "Error File": ".\\LOG.TXT"})
    result = app.run(cwd=app.app.windows_folder)
    assert result.exit_code == 0, result.describe()
    assert app.entries("open") == ["log.txt"], app.entries("open")
    assert app.entries("setOut") == app.entries("setErr") == ["log.txt"]
    assert app.app.path("log.txt").read_text() == "to-out\nto-err\n"
