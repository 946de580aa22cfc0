#!/usr/bin/env python3
"""End-to-end tests of the Linux launcher.

Each case copies the built launcher into a fresh application folder under a name of its own,
writes the ini beside it, adds the fixture jars and starts it as a process. Suite "jdk" runs the
Java fixtures on a real JDK; suite "standin" points the launcher at the stand-in runtime, which
records what it was handed (see tests/support/standin/README.md).
"""

import argparse
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

# The launcher's windows belong to the desktop tests' own Xvfb, never to the developer's display.
for _variable in ("DISPLAY", "WAYLAND_DISPLAY"):
    os.environ.pop(_variable, None)
import zipfile

OPTIONS = None
SKIP = 77
# What -Xcheck:jni prints about a faulty JNI call of the launcher.
JNI_WARNING = re.compile(r"WARNING in native method|WARNING: JNI|FATAL ERROR in native method")


def in_ci():
    return os.environ.get("CI", "").lower() == "true"


def ini_text(sections):
    lines = []
    for section, values in sections.items():
        lines.append("[%s]" % section)
        for key, value in values.items():
            lines.append("%s=%s" % (key, value))
    return "\n".join(lines) + "\n"


def unescape(text):
    return re.sub(r"\\u([0-9a-f]{4})", lambda m: chr(int(m.group(1), 16)), text)


def parse_record(path):
    entries = []
    if not os.path.exists(path):
        return entries
    with open(path, "rb") as record:
        for raw in record.read().decode("utf-8").splitlines():
            key, _, value = raw.partition("=")
            value = re.sub(r"\\(.)", lambda m: {"n": "\n", "r": "\r"}.get(m.group(1), m.group(1)), value)
            entries.append((key, value))
    return entries


def runtimes():
    """The build's JDK, and a JDK 25 where the machine has one (not on a bare Debian)."""
    found = [OPTIONS.jdk]
    for home in sorted(glob.glob("/usr/lib/jvm/*25*")):
        if os.path.exists(os.path.join(home, "lib", "server", "libjvm.so")) and \
                os.path.realpath(home) not in map(os.path.realpath, found):
            found.append(home)
    return found


def physical_memory():
    return os.sysconf("SC_PHYS_PAGES") * os.sysconf("SC_PAGE_SIZE")


class LauncherCase(unittest.TestCase):
    """A temporary application folder per test, removed afterwards."""

    name = "probe"

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="qn-jvm-")
        self.addCleanup(shutil.rmtree, self.folder, True)
        self.executable = os.path.join(self.folder, self.name)
        shutil.copy2(OPTIONS.launcher, self.executable)

    def path(self, *parts):
        return os.path.join(self.folder, *parts)

    def write_ini(self, sections):
        with open(self.path(self.name + ".ini"), "w", encoding="utf-8") as ini:
            ini.write(ini_text(sections))

    def add_jar(self, jar, target=None):
        target = self.path(target or jar)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy2(os.path.join(OPTIONS.jars, jar), target)

    def start(self, arguments=(), env=None, timeout=60, cwd=None):
        environment = dict(os.environ)
        environment.update(env or {})
        began = time.monotonic()
        # No terminal on standard input: questions get the answer of a user who cannot answer.
        result = subprocess.run([self.executable] + list(arguments), cwd=cwd or self.folder, env=environment,
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                timeout=timeout)
        result.elapsed = time.monotonic() - began
        result.out = result.stdout.decode("utf-8", "replace")
        result.err = result.stderr.decode("utf-8", "replace")
        return result


class JdkCase(LauncherCase):
    """The fixtures of app.jar on the JDK the build found."""

    def app(self, main="qn.fixture.Probe", parameters="", application=None, class_path="app.jar",
            runtime=None, library_path=None):
        runtime_section = {"Main Class": main, "JRE Path": OPTIONS.jdk}
        # The runtime checks every JNI call the launcher makes; start() fails on any warning.
        runtime_section["Virtual Machine Parameters"] = ("-Xcheck:jni " + parameters).strip()
        if library_path is not None:
            runtime_section["Library Path"] = library_path
        runtime_section.update(runtime or {})
        sections = {"Java Runtime Environment": runtime_section, "Class Path": {"Class Path": class_path}}
        if application:
            sections["Application"] = application
        self.write_ini(sections)
        self.add_jar("app.jar")

    def start(self, *args, **kwargs):
        result = super().start(*args, **kwargs)
        for stream in (result.out, result.err):
            warning = JNI_WARNING.search(stream)
            self.assertIsNone(warning, "JNI check: %s" % (warning and stream[warning.start():warning.start() + 400]))
        return result

    def probe_values(self, result):
        values = {}
        arguments = []
        for line in result.out.splitlines():
            key, _, value = line.partition("=")
            if key == "arg":
                arguments.append(unescape(value))
            else:
                values[key] = value
        values["arguments"] = arguments
        return values

    def assertRan(self, result, code=0):
        self.assertEqual(code, result.returncode, "stdout:\n%s\nstderr:\n%s" % (result.out, result.err))


class JdkTests(JdkCase):
    def test_arguments_reach_main_after_the_cmd_before_words_then_the_cmd_words(self):
        self.app(application={"Cmd": 'cmd1  "cmd two" ""', "Cmd Before": '--main "lead two" ""'})
        given = ["first", "", "-nosplash", "/nosplash", "gr\u00fc\u00df \u2713 \u65e5\u672c", "b c", '"q"']
        result = self.start(given)
        self.assertRan(result)
        self.assertEqual(["--main", "lead two"] + given + ["cmd1", "cmd two"], self.probe_values(result)["arguments"])

    def test_no_arguments_give_an_empty_array(self):
        self.app()
        result = self.start()
        self.assertRan(result)
        self.assertEqual("0", self.probe_values(result)["argc"])

    def test_system_exit_ends_the_process_with_its_code(self):
        self.app(main="qn.fixture.ExitThree")
        result = self.start()
        self.assertEqual(3, result.returncode)
        self.assertIn("exiting", result.out)

    def test_main_throwing_prints_the_trace_and_exits_0(self):
        self.app(main="qn.fixture.Thrower")
        result = self.start()
        self.assertRan(result)
        self.assertIn('Exception in thread "main" java.lang.IllegalStateException: boom', result.err)
        self.assertIn("at qn.fixture.Thrower.main(Thrower.java", result.err)

    def test_main_throwing_with_failure_check_and_nobody_to_ask_is_ignored(self):
        self.app(main="qn.fixture.Thrower", application={"Failure Check": "yes"})
        result = self.start()
        self.assertRan(result)
        self.assertIn('Exception in thread "main" java.lang.IllegalStateException: boom', result.err)

    def test_missing_class_prints_the_exception_then_215(self):
        self.app(main="qn.fixture.Missing")
        result = self.start()
        self.assertEqual(255, result.returncode)
        exception = result.err.find("java.lang.NoClassDefFoundError: qn/fixture/Missing")
        message = result.err.find("Could not find the main class qn/fixture/Missing.\n")
        self.assertGreaterEqual(exception, 0, result.err)
        self.assertGreater(message, exception, result.err)

    def test_main_with_another_signature_gives_216(self):
        self.app(main="qn.fixture.WrongMain")
        result = self.start()
        self.assertEqual(255, result.returncode)
        self.assertIn("No main method found in specified class.\n", result.err)
        self.assertNotIn("must not run", result.out)

    def test_unknown_x_option_gives_203_with_the_runtimes_words(self):
        self.app(parameters="-Xbogus")
        result = self.start()
        self.assertEqual(255, result.returncode)
        self.assertIn("JNI exception: failed to create the Java VM\nReason: Unrecognized option: -Xbogus.\n", result.err)

    def test_damaged_runtime_library_gives_222_naming_it(self):
        with open(os.path.join(OPTIONS.jdk, "lib", "server", "libjvm.so"), "rb") as library:
            real = library.read()
        # An interrupted update: the first 64 KB, or half the file; and a file that is no library.
        for name, content in [("first64k", real[:65536]), ("half", real[:len(real) // 2]),
                              ("foreign", b"#!/bin/sh\n")]:
            home = self.path(name)
            os.makedirs(os.path.join(home, "lib", "server"))
            library = os.path.join(home, "lib", "server", "libjvm.so")
            with open(library, "wb") as out:
                out.write(content)
            self.app(runtime={"JRE Path": home})
            result = self.start()
            self.assertEqual(255, result.returncode, "%s: %s" % (name, result.err))
            self.assertTrue(result.err.startswith("Failed to load Java VM library: %s (%s: " % (library, library)),
                            "%s: %s" % (name, result.err))
            self.assertNotIn("errno", result.err)
            self.assertNotIn("Windows", result.err)

    def test_ini_that_cannot_be_read_is_named(self):
        ini = self.path(self.name + ".ini")
        # A folder in its place, a file of zeros, and no file at all.
        os.mkdir(ini)
        result = self.start()
        self.assertEqual((255, "INI file was not found or cannot be read: %s\n" % ini),
                         (result.returncode, result.err))
        os.rmdir(ini)
        with open(ini, "wb") as out:
            out.write(b"\0" * 4096)
        self.assertEqual("INI file was not found or cannot be read: %s\n" % ini, self.start().err)
        os.remove(ini)
        self.assertEqual("INI file was not found or cannot be read: %s\n" % ini, self.start().err)

    def test_utf16_and_cr_only_ini_files_are_read(self):
        self.app()
        text = ini_text({"Java Runtime Environment": {"Main Class": "qn.fixture.Probe", "JRE Path": OPTIONS.jdk},
                         "Class Path": {"Class Path": "app.jar"}})
        for name, content in [("utf-16", b"\xff\xfe" + text.replace("\n", "\r\n").encode("utf-16-le")),
                              ("cr-only", text.replace("\n", "\r").encode())]:
            with open(self.path(self.name + ".ini"), "wb") as out:
                out.write(content)
            result = self.start()
            self.assertEqual(0, result.returncode, "%s: %s" % (name, result.err))
            self.assertEqual("0", self.probe_values(result)["argc"], name)

    def test_a_pair_of_quotes_adds_no_option(self):
        self.app(parameters='"" -Xmx64m')
        result = self.start()
        self.assertRan(result)
        self.assertNotIn("Unrecognized option", result.err)

    def test_unreadable_per_user_file_leaves_the_ini_jre_path(self):
        # No installed runtime fits: only the ini's JRE Path can start the program.
        self.app(runtime={"JRE Path": OPTIONS.jdk, "Minimum Version": "99"})
        with open(self.path(self.name + ".ini"), "a") as ini:
            ini.write("[Product Information]\nProduct Name=QN Test\nProduct Code=probe1\n")
        config = self.path("config")
        user_file = os.path.join(config, "QN Test", "probe1", self.name + ".ini")
        os.makedirs(os.path.dirname(user_file))
        with open(user_file, "wb") as out:  # damaged: a block of zeros after a crash
            out.write(b"[Java Runtime Environment]\r\nJRE Path=/nowhere\r\n" + b"\0" * 512)
        result = self.start(env={"XDG_CONFIG_HOME": config, "JAVA_HOME": ""})
        self.assertRan(result)

    def test_no_class_path_gives_209(self):
        self.app(class_path="missing.jar")
        result = self.start()
        self.assertEqual(255, result.returncode)
        self.assertEqual("Java Class Path was not specified in INI file.\n", result.err)

    def test_output_and_error_files_receive_the_streams(self):
        self.app(main="qn.fixture.Streams",
                 application={"Output File": self.path("out.txt"), "Error File": "%QN_LOGS%/err.txt"})
        os.mkdir(self.path("logs"))
        result = self.start(env={"QN_LOGS": self.path("logs")})
        self.assertRan(result)
        with open(self.path("out.txt")) as out, open(self.path("logs", "err.txt")) as err:
            self.assertEqual("out-line\n", out.read())
            self.assertEqual("err-line\n", err.read())
        self.assertNotIn("out-line", result.out)
        self.assertNotIn("err-line", result.err)

    def test_missing_output_folder_leaves_the_stream_where_it_was(self):
        self.app(main="qn.fixture.Streams", application={"Output File": self.path("nope", "out.txt")})
        result = self.start()
        self.assertRan(result)
        self.assertEqual("out-line\n", result.out)
        self.assertIn("java.io.FileNotFoundException", result.err)
        self.assertIn("err-line", result.err)

    def test_missing_error_folder_prints_to_the_old_error_stream(self):
        self.app(main="qn.fixture.Streams",
                 application={"Output File": self.path("out.txt"), "Error File": self.path("nope", "e.txt")})
        result = self.start()
        self.assertRan(result)
        self.assertIn("java.io.FileNotFoundException", result.err)
        self.assertIn("err-line", result.err)
        with open(self.path("out.txt")) as out:
            self.assertEqual("out-line\n", out.read())

    def max_memory(self, parameters):
        self.app(parameters=parameters)
        result = self.start()
        self.assertRan(result)
        return int(self.probe_values(result)["maxMemory"])

    def test_the_users_own_heap_wins_over_the_vendors(self):
        config = os.path.join(self.path("config"), "QN Test", "user-options")
        os.makedirs(config)
        with open(os.path.join(config, self.name + ".ini"), "w") as out:
            out.write(ini_text({"Java Runtime Environment": {"Virtual Machine Parameters": "-Xmx1g"}}))
        self.app(parameters="-Xmx256m", runtime={"User Parameters": "yes"})
        with open(self.path(self.name + ".ini"), "a") as ini:
            ini.write("[Product Information]\nProduct Name=QN Test\nProduct Code=user-options\n")
        result = self.start(env={"XDG_CONFIG_HOME": self.path("config")})
        self.assertRan(result)
        self.assertGreater(int(self.probe_values(result)["maxMemory"]), 512 << 20)

    def test_percentage_heap_becomes_the_vms_limit(self):
        expected_k = int((physical_memory() >> 10) * (25 * 0.01))
        from_percentage = self.max_memory("-Xmx25P")
        from_size = self.max_memory("-Xmx%dK" % expected_k)
        # The same limit as the size written out, and within the VM's alignment of it.
        self.assertEqual(from_size, from_percentage)
        self.assertLess(abs(from_percentage - expected_k * 1024), max(64 << 20, expected_k * 1024 // 10))

    def test_bounded_percentage_heap(self):
        self.assertEqual(self.max_memory("-Xmx48m"), self.max_memory("-Xmx100:32:48P"))

    def depth(self, parameters):
        self.app(parameters=("-Xint -Dqn.depth=true " + parameters).strip())
        result = self.start()
        self.assertRan(result)
        return int(self.probe_values(result)["depth"])

    def test_xss_sets_the_main_threads_stack(self):
        small = self.depth("-Xss1m")
        large = self.depth("-Xss32m")
        default = self.depth("")
        self.assertGreater(large, 10 * small)
        # Without -Xss the thread gets the runtime's default Java stack size (1 MiB here).
        self.assertLess(abs(default - small), small // 3)

    def test_runtime_and_library_path_are_visible_to_java(self):
        self.app(parameters="-Dapp.home=%QN_JVM_HOME% -Dqn.props=app.home", library_path="native;more")
        inherited = os.environ.get("PATH", "")
        result = self.start()
        self.assertRan(result)
        values = self.probe_values(result)
        jdk = os.path.realpath(OPTIONS.jdk)
        self.assertEqual(OPTIONS.jdk, values["env.QN_JVM_HOME"])
        self.assertEqual(os.path.join(OPTIONS.jdk, "lib", "server", "libjvm.so"), values["env.QN_JVM_PATH"])
        self.assertEqual(OPTIONS.jdk, values["prop.app.home"])
        self.assertEqual(jdk, os.path.realpath(values["java.home"]))
        self.assertEqual("%s/native:%s/more:%s/:%s:%s/lib" % (self.folder, self.folder, self.folder, inherited,
                                                               OPTIONS.jdk),
                         values["java.library.path"])
        self.assertEqual("%s:%s/bin" % (inherited, OPTIONS.jdk), values["env.PATH"])

    def test_non_daemon_thread_keeps_the_process_alive(self):
        self.app(main="qn.fixture.Linger", parameters="-Dqn.linger=1000")
        result = self.start()
        self.assertRan(result)
        self.assertEqual(["main done", "worker done"], result.out.splitlines())
        self.assertGreaterEqual(result.elapsed, 0.9)

    def test_wildcard_class_path_with_several_jars(self):
        self.app(class_path="app.jar;lib\\*.jar",
                 parameters="-Dqn.load=qn.fixture.extra.One,qn.fixture.extra.Two")
        self.add_jar("extra1.jar", "lib/extra1.jar")
        self.add_jar("extra2.jar", "lib/extra2.jar")
        result = self.start()
        self.assertRan(result)
        values = self.probe_values(result)
        self.assertEqual("%s/app.jar:%s/lib/extra1.jar:%s/lib/extra2.jar" % ((self.folder,) * 3),
                         values["java.class.path"])
        self.assertIn("loaded=qn.fixture.extra.One\nloaded=qn.fixture.extra.Two\n", result.out)

    def working_folder_with_planted_class(self):
        """A folder to start from that holds a class the application does not ship."""
        work = self.path("downloads")
        with zipfile.ZipFile(os.path.join(OPTIONS.jars, "planted.jar")) as jar:
            jar.extract("qn/fixture/planted/Planted.class", work)
        return work

    def test_a_class_only_in_the_working_folder_is_never_loaded(self):
        work = self.working_folder_with_planted_class()
        for jdk in runtimes():
            with self.subTest(jdk=jdk):
                self.app(main="qn.fixture.planted.Planted", runtime={"JRE Path": jdk})
                result = self.start(cwd=work)
                self.assertEqual(255, result.returncode, result.err)
                self.assertNotIn("planted code ran", result.out)
                self.assertIn("Could not find the main class qn/fixture/planted/Planted.\n", result.err)

                self.app(runtime={"JRE Path": jdk}, parameters="-Dqn.load=qn.fixture.planted.Planted")
                result = self.start(cwd=work)
                self.assertIn("ClassNotFoundException: qn.fixture.planted.Planted", result.err)
                self.assertNotIn("loaded=", result.out)

                self.app(runtime={"JRE Path": jdk}, class_path="app.jar;;missing.jar;", library_path=";native;")
                result = self.start(cwd=work, env={"PATH": ":/usr/bin::/bin:"})
                self.assertRan(result)
                values = self.probe_values(result)
                self.assertEqual(self.path("app.jar"), values["java.class.path"])
                self.assertEqual("%s/native:%s/:/usr/bin:/bin:%s/lib" % (self.folder, self.folder, jdk),
                                 values["java.library.path"])

    def test_same_output_and_error_file_keeps_both_streams_in_order(self):
        for output, error in (("both.txt", "both.txt"), (self.path("both.txt"), "./both.txt")):
            with self.subTest(output=output, error=error):
                self.app(main="qn.fixture.Streams", application={"Output File": output, "Error File": error})
                with open(self.path("both.txt"), "w") as old:
                    old.write("from an earlier start\n" * 4)
                result = self.start()
                self.assertRan(result)
                with open(self.path("both.txt")) as both:
                    self.assertEqual("out-line\nerr-line\n", both.read())

    def test_main_class_and_class_path_from_the_additive_sections(self):
        self.write_ini({"Java Runtime Environment": {"JRE Path": OPTIONS.jdk},
                        "Java Runtime Environment+": {"Main Class": "qn.fixture.Probe"},
                        "Class Path+": {"Class Path": "app.jar"},
                        "Application+": {"Output File": "out.txt"}})
        self.add_jar("app.jar")
        result = self.start()
        self.assertRan(result)
        with open(self.path("out.txt")) as out:
            self.assertIn("java.class.path=%s\n" % self.path("app.jar"), out.read())

    def test_a_heap_the_machine_cannot_reserve_is_reported_with_the_runtimes_words(self):
        for jdk in runtimes():
            with self.subTest(jdk=jdk):
                self.app(runtime={"JRE Path": jdk}, parameters="-Xms1000000g -Xmx1000000g")
                result = self.start()
                self.assertNotEqual(0, result.returncode)
                # The runtime's own words still go where it sent them (its output stream) ...
                self.assertIn("Could not reserve enough space for", result.out)
                # ... and the launcher's report carries them to standard error, the error box here.
                self.assertRegex(result.err, "JNI exception: failed to create the Java VM\n"
                                             "Reason: Error occurred during initialization of VM\n"
                                             "Could not reserve enough space for [0-9]+ ?KB object heap[.]\n$")

    def test_main_runs_on_a_thread_of_its_own_named_main(self):
        self.app()
        result = self.start()
        self.assertRan(result)
        self.assertEqual("main", self.probe_values(result)["thread"])


class StandinCase(LauncherCase):
    """The launcher against the stand-in runtime, with a script and a record."""

    def home(self, variant="standin"):
        return os.path.join(OPTIONS.standin, variant)

    def app(self, script="", parameters="", variant="standin", class_path="app.jar", runtime=None):
        self.record = self.path("record.txt")
        with open(self.path("script.txt"), "w", encoding="utf-8") as out:
            out.write(script)
        runtime_section = {"Main Class": "com.example.App", "JRE Path": self.home(variant)}
        if parameters:
            runtime_section["Virtual Machine Parameters"] = parameters
        runtime_section.update(runtime or {})
        self.write_ini({"Java Runtime Environment": runtime_section, "Class Path": {"Class Path": class_path}})
        open(self.path("app.jar"), "w").close()

    def start(self, arguments=(), env=None, timeout=30):
        environment = {"QN_STANDIN_SCRIPT": self.path("script.txt"), "QN_STANDIN_RECORD": self.record}
        environment.update(env or {})
        return super().start(arguments, environment, timeout)

    def entries(self, key):
        return [value for name, value in parse_record(self.record) if name == key]

    def entry(self, key):
        values = self.entries(key)
        self.assertEqual(1, len(values), "%s in %s" % (key, parse_record(self.record)))
        return values[0]


class StandinTests(StandinCase):
    def test_unloadable_library_gives_222(self):
        home = self.path("broken")
        os.makedirs(os.path.join(home, "lib", "server"))
        library = os.path.join(home, "lib", "server", "libjvm.so")
        with open(library, "w") as out:
            out.write("not a library")
        self.app(runtime={"JRE Path": home})
        result = self.start()
        self.assertEqual(255, result.returncode)
        # The loader's own reason, not an error number it never set.
        self.assertEqual("Failed to load Java VM library: %s (%s: file too short).\n" % (library, library),
                         result.err)

    def test_library_without_the_entry_points_gives_202_with_212(self):
        for variant in ("standin-empty", "standin-partial"):
            with self.subTest(variant=variant):
                self.app(variant=variant)
                result = self.start()
                self.assertEqual(255, result.returncode)
                missing = "JNI_CreateJavaVM" if variant == "standin-empty" else "JNI_GetDefaultJavaVMInitArgs"
                self.assertRegex(result.err, r"^System error: cannot find CreateJavaVM JNI \(.*: undefined symbol: %s\)\.\n$"
                                 % missing)
                self.assertEqual([], self.entries("create.version"))

    def test_creation_failure_shows_each_reason(self):
        reasons = {-1: "unknown", -2: "thread detached from VM", -3: "JNI version error",
                   -4: "not enough memory", -5: "VM already created", -6: "invalid arguments", -7: ""}
        for code, reason in reasons.items():
            with self.subTest(code=code):
                self.app(script="create.result=%d\n" % code)
                result = self.start()
                self.assertEqual(255, result.returncode)
                self.assertEqual("JNI exception: failed to create the Java VM\nReason: %s.\n" % reason, result.err)
                self.assertEqual([], self.entries("main.class"))
                self.assertEqual([], self.entries("destroy"))
                os.remove(self.record)

    def test_the_runtime_gets_the_worked_example(self):
        for jar in ("app.jar", "lib/a.jar", "lib/b.jar"):
            os.makedirs(os.path.dirname(self.path(jar)), exist_ok=True)
            open(self.path(jar), "w").close()
        self.app(class_path="app.jar;lib\\*.jar", parameters="-Xmx50:64:512P -Dlog=%TEMP%\\app.log",
                 runtime={"Library Path": "native"})
        inherited = os.environ.get("PATH", "")
        result = self.start(env={"TEMP": "/var/tmp"})
        self.assertEqual(0, result.returncode, result.err)
        size = min(int((physical_memory() >> 10) * 0.5), 512 * 1024)
        home = self.home()
        self.assertEqual([
            "vfprintf", "exit", "abort",
            "-Djava.library.path=%s/native:%s/:%s:%s/lib" % (self.folder, self.folder, inherited, home),
            "-Djava.class.path=%s/app.jar:%s/lib/a.jar:%s/lib/b.jar" % ((self.folder,) * 3),
            "-Dsun.java.command=com.example.App",
            "-Xmx%dK" % max(size, 64 * 1024),
            "-Dlog=/var/tmp\\app.log",
        ], self.entries("option"))
        self.assertEqual("0x10002", self.entry("create.version"))
        self.assertEqual("0", self.entry("create.ignoreUnrecognized"))
        self.assertEqual(["set"] * 3, self.entries("option.extraInfo"))
        self.assertEqual("%s:%s/bin" % (inherited, home), self.entry("env.Path"))
        self.assertEqual(home + "/lib/server/libjvm.so", self.entry("env.QN_JVM_PATH"))
        self.assertEqual(home, self.entry("env.QN_JVM_HOME"))

    def test_main_receives_the_arguments(self):
        self.app()
        given = ["a", "", "-nosplash", "\u00e9\u20ac\U0001f600"]
        result = self.start(given)
        self.assertEqual(0, result.returncode, result.err)
        self.assertEqual("com/example/App", self.entry("main.class"))
        self.assertEqual(given, self.entries("main.arg"))
        names = [name for name, _ in parse_record(self.record)]
        # Main runs, the thread detaches, teardown destroys the VM, in this order.
        self.assertLess(names.index("main.class"), names.index("detach"))
        self.assertLess(names.index("detach"), names.index("destroy"))

    def test_default_stack_size_comes_from_the_runtime(self):
        self.app(script="default.stackSize=4194304\n")
        result = self.start()
        self.assertEqual(0, result.returncode, result.err)
        self.assertEqual("0x10001", self.entry("defaultInitArgs.version"))
        self.assertAlmostEqual(4194304, int(self.entry("create.stackSize")), delta=65536)

    def test_xss_gives_the_stack_size_without_asking_the_runtime(self):
        self.app(script="default.stackSize=4194304\n", parameters="-Xss3m")
        result = self.start()
        self.assertEqual(0, result.returncode, result.err)
        self.assertEqual([], self.entries("defaultInitArgs.version"))
        self.assertAlmostEqual(3 << 20, int(self.entry("create.stackSize")), delta=65536)
        self.assertIn("-Xss3m", self.entries("option"))

    def test_a_thread_that_cannot_be_made_runs_the_work_on_the_first_thread(self):
        self.app(parameters="-Xss1")  # one byte: no system makes a thread that small
        result = self.start()
        self.assertEqual(0, result.returncode, result.err)
        self.assertEqual("com/example/App", self.entry("main.class"))
        self.assertGreater(int(self.entry("create.stackSize")), 65536)

    def test_main_exception_is_described_and_the_exit_code_stays_0(self):
        self.app(script="main.throw=java.lang.IllegalStateException: boom\n")
        result = self.start()
        self.assertEqual(0, result.returncode)
        self.assertIn('Exception in thread "main" java.lang.IllegalStateException: boom', result.err)
        self.assertEqual(["java.lang.IllegalStateException: boom"], self.entries("describe"))
        self.assertEqual([""], self.entries("detach"))

    def test_failures_after_creation_detach_the_thread(self):
        cases = {
            "class.missing=com.example.App\n": "Could not find the main class com/example/App.\n",
            "main=none\n": "No main method found in specified class.\n",
            "main=quiet\n": "No main method found in specified class.\n",
            "getStringUTFChars=fail\n": "",
        }
        for script, message in cases.items():
            with self.subTest(script=script):
                self.app(script=script)
                result = self.start()
                self.assertEqual(255, result.returncode)
                self.assertTrue(result.err.endswith(message), result.err)
                self.assertEqual([], self.entries("main.class"))
                self.assertEqual([""], self.entries("detach"))
                self.assertEqual([""], self.entries("destroy"))
                os.remove(self.record)

    def test_failed_detach_fails_the_start(self):
        self.app(script="detach.result=-1\n")
        result = self.start()
        self.assertEqual(255, result.returncode)
        self.assertEqual("com/example/App", self.entry("main.class"))

    def test_ibm_provider_keeps_the_thread_after_main(self):
        # Only for an IBM runtime of Java 8, told by its release file; other runtimes are the unit tests'.
        home = self.path("home-ibm8")
        shutil.copytree(self.home(), home)
        with open(os.path.join(home, "release"), "w") as release:
            release.write('IMPLEMENTOR="IBM Corporation"\nJAVA_VERSION="1.8.0"\n')
        self.app(script="main.stdout=started\n", runtime={"VM Provider": "ibm", "JRE Path": home})
        process = subprocess.Popen([self.executable], cwd=self.folder, stdout=subprocess.PIPE,
                                   env=dict(os.environ, QN_STANDIN_SCRIPT=self.path("script.txt"),
                                            QN_STANDIN_RECORD=self.record))
        try:
            self.assertEqual(b"started\n", process.stdout.readline())
            with self.assertRaises(subprocess.TimeoutExpired):
                process.wait(timeout=1)
            self.assertEqual([], self.entries("detach"))
        finally:
            process.kill()
            process.wait()
            process.stdout.close()

    def test_a_runtime_ending_the_process_during_creation_is_reported(self):
        said = "create.say=Error occurred during initialization of VM\ncreate.say=Could not reserve\n"
        cases = [(said + "create.end=abort\n", 1, "Error occurred during initialization of VM\nCould not reserve"),
                 (said + "create.exit=2\n", 2, "Error occurred during initialization of VM\nCould not reserve"),
                 ("create.exit=7\n", 7, "unknown")]
        for script, code, reason in cases:
            with self.subTest(script=script):
                self.app(script=script)
                result = self.start()
                self.assertEqual(code, result.returncode, result.err)
                self.assertTrue(result.err.endswith(
                    "JNI exception: failed to create the Java VM\nReason: %s.\n" % reason), result.err)
                self.assertEqual([], self.entries("main.class"))
                os.remove(self.record)

    def test_system_exit_keeps_its_code_and_shows_nothing(self):
        for code in (0, 3):
            with self.subTest(code=code):
                self.app(script="create.say=warming up\nmain.exit=%d\n" % code)
                result = self.start()
                self.assertEqual(code, result.returncode, result.err)
                self.assertEqual("warming up\n", result.err)
                self.assertEqual([str(code)], self.entries("exit"))
                os.remove(self.record)

    def test_streams_are_redirected_after_creation(self):
        self.app(script="main.stdout=to-out\nmain.stderr=to-err\n")
        with open(self.path(self.name + ".ini"), "a") as ini:
            ini.write("[Application]\nOutput File=%s\nError File=%s\n" % (self.path("o.txt"), self.path("e.txt")))
        result = self.start()
        self.assertEqual(0, result.returncode, result.err)
        self.assertEqual([self.path("o.txt")], self.entries("setOut"))
        self.assertEqual([self.path("e.txt")], self.entries("setErr"))
        with open(self.path("o.txt")) as out, open(self.path("e.txt")) as err:
            self.assertEqual(("to-out\n", "to-err\n"), (out.read(), err.read()))


def main():
    global OPTIONS
    parser = argparse.ArgumentParser()
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--jdk", required=True)
    parser.add_argument("--jars", required=True)
    parser.add_argument("--standin", required=True)
    parser.add_argument("--suite", choices=("jdk", "standin"), required=True)
    parser.add_argument("-k", dest="patterns", action="append", help="run only tests matching")
    OPTIONS = parser.parse_args()

    if OPTIONS.suite == "jdk":
        missing = [path for path in (os.path.join(OPTIONS.jdk, "lib", "server", "libjvm.so"),
                                     os.path.join(OPTIONS.jars, "app.jar")) if not os.path.exists(path)]
        if missing:
            print("jvm: missing %s" % ", ".join(missing))
            return 1 if in_ci() else SKIP
        tests = JdkTests
    else:
        tests = StandinTests
    loader = unittest.TestLoader()
    if OPTIONS.patterns:
        loader.testNamePatterns = ["*%s*" % pattern for pattern in OPTIONS.patterns]
    result = unittest.TextTestRunner(verbosity=2).run(loader.loadTestsFromTestCase(tests))
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
