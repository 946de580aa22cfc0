"""Runtimes found where today's installers leave them: the registrations of Java 9 and later under
HKLM and HKCU, JAVA_HOME and the java.exe on Path as the last resorts, version requirements of
either numbering scheme, and runtime libraries built for the other machine type, which are passed
over wherever a folder is looked at. Every home holds a copy of a stand-in runtime (the win64 one,
or the win32 one where a 32-bit library is wanted); the stand-in's record names what was loaded."""

import shutil
import subprocess

from harness import (ANSI, EXIT_FAILURE, WIN32_DIR, WIN64_DIR, make_app, reg_import, require, run,
                     windows_path)
from test_runtime_vm import parse_record
from test_trace import read_trace, texts

STANDIN_64 = WIN64_DIR / "tests" / "standin" / "bin" / "client" / "jvm.dll"
STANDIN_32 = WIN32_DIR / "tests" / "standin" / "bin" / "client" / "jvm.dll"
# A Java 8 runtime library without a release file beside it: its version resource says 1.8.0_392.
STANDIN_JAVA8 = WIN64_DIR / "tests" / "standin-java8" / "bin" / "client" / "jvm.dll"
LAUNCHER_32 = WIN32_DIR / "qnlauncher.exe"
SYSTEM_PATH = r"C:\windows\system32;C:\windows"
HINT = "If you have a JRE installed you can browse for it below:"
WRONG_BITNESS = "This is a 32-bit Java runtime; a 64-bit one is needed."

CLASSIC_KEYS = [r"JavaSoft\Java Development Kit", r"JavaSoft\Java Runtime Environment",
                r"JRockit\Java Runtime Environment", r"JRockit\Java Development Kit",
                r"IBM\Java2 Runtime Environment"]
TODAYS_KEYS = [r"JavaSoft\JDK", r"JavaSoft\JRE", r"Eclipse Adoptium\JDK", r"Eclipse Adoptium\JRE",
               r"Eclipse Foundation\JDK", r"Eclipse Foundation\JRE", r"AdoptOpenJDK\JDK",
               r"AdoptOpenJDK\JRE", r"Microsoft\JDK", r"Semeru\JDK", r"Semeru\JRE",
               r"SapMachine\JDK", r"SapMachine\JRE", r"Azul Systems\Zulu", r"Azul Systems\Zulu 32-bit",
               r"BellSoft\Liberica"]
ROOTS = {"HKLM": "HKEY_LOCAL_MACHINE", "HKCU": "HKEY_CURRENT_USER", "HKLM32": "HKEY_LOCAL_MACHINE\\Software\\Wow6432Node"}
# Every registration these tests may write, removed before each registry and after each test.
ALL_KEYS = [f"{ROOTS['HKLM']}\\Software\\{key}" for key in CLASSIC_KEYS + TODAYS_KEYS] + \
           [f"{ROOTS['HKLM32']}\\{key}" for key in CLASSIC_KEYS + TODAYS_KEYS] + \
           [f"{ROOTS['HKCU']}\\Software\\{key}" for key in TODAYS_KEYS]


def _reg_string(text):
    return '"%s"' % text.replace("\\", "\\\\").replace('"', '\\"')


def set_registry(registrations=()):
    """Replaces every runtime registration of the prefix by the given ones, in one regedit run.
    registrations: (root "HKLM"/"HKCU"/"HKLM32", key below Software, value name, home)."""
    lines = [f"[-{key}]" for key in ALL_KEYS] + [""]
    for root, key, name, home in registrations:
        below = "" if root == "HKLM32" else "\\Software"
        lines += [f"[{ROOTS[root]}{below}\\{key}]", f"{_reg_string(name)}={_reg_string(home)}", ""]
    reg_import("\n".join(lines))


def clear_registry():
    set_registry()


class DiscoveryApp:
    """An application that names no runtime folder and has none beside it, with its own APPDATA
    (so a per-user file stays inside the test's folder) and the stand-in's script and record."""

    def __init__(self, name, runtime=None, script=""):
        self.app = make_app(name, exe="app.exe")
        self.configure(runtime)
        self.app.write_file("app.jar", b"")
        self.app.write_file("script.txt", script)
        self.app.path("appdata").mkdir()
        self.record = self.app.path("record.txt")
        self.user_file = self.app.path("appdata/QN Discovery/{51DE}/app.ini")

    def configure(self, runtime=None):
        section = {"Main Class": "com.example.App"}
        section.update(runtime or {})
        self.app.write_ini({"Product Information": {"Product Name": "QN Discovery", "Product Code": "{51DE}"},
                            "Java Runtime Environment": section, "Class Path": {"Class Path": "app.jar"}})

    def home(self, name, bits=64, flavour="server", release=None, jdk=False, java_exe=False, java8=False,
             library_from=None):
        """A runtime home in the application's "java" folder; gives its Windows path and the path of
        the library the launcher would load from it. java8: a JDK of Java 8, its runtime in "jre\"."""
        folder = self.app.path("java/" + name)
        runtime = "jre/bin" if java8 else "bin"
        library = folder / runtime / flavour / "jvm.dll"
        library.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(library_from or (STANDIN_64 if bits == 64 else STANDIN_32), library)
        (folder / "bin").mkdir(exist_ok=True)
        if release:
            (folder / "release").write_bytes(f'IMPLEMENTOR="QN"\r\nJAVA_VERSION="{release}"\r\n'.encode(ANSI))
        if jdk or java8:
            (folder / "bin" / "javac.exe").write_bytes(b"")
        if java_exe:
            (folder / "bin" / "java.exe").write_bytes(b"")
        home = windows_path(folder)
        return home, f"{home}\\{runtime.replace('/', chr(92))}\\{flavour}\\jvm.dll"

    def run(self, env=None, steps=(), java_home=None):
        environment = {"QN_STANDIN_SCRIPT": str(self.app.path("script.txt")),
                       "QN_STANDIN_RECORD": str(self.record),
                       "APPDATA": windows_path(self.app.path("appdata"))}
        environment.update(env or {})
        # The machine running the suite may have a JAVA_HOME of its own.
        unset = [] if "JAVA_HOME" in environment else ["JAVA_HOME"]
        if self.record.exists():
            self.record.unlink()
        return run(self.app, env=environment, unset=unset, steps=steps).check()

    def run_traced(self, env=None):
        """A run with a fresh trace file: the result and the trace's runtime lines."""
        trace = self.app.path("trace.txt")
        trace.unlink(missing_ok=True)
        return self.run(env=dict(env or {}, QN_LAUNCHER_TRACE=windows_path(trace))), texts(read_trace(trace), "runtime")

    def chosen(self):
        """The library the stand-in was loaded from, or None when no runtime was loaded."""
        return next((value for key, value in parse_record(self.record) if key == "env.QN_JVM_PATH"), None)


def runtime_dialogs(result):
    return [w for w in result.dialogs + result.snapshots if w.caption == "JRE Not Found"]


def assert_started(app, result, expected, case):
    assert result.dialogs == [], f"{case}: {result.describe()}"
    assert result.exit_code == 0, f"{case}: {result.describe()}"
    assert app.chosen() == expected, f"{case}: {app.chosen()} / {result.describe()}"


def assert_not_found(app, result, case):
    assert [w.caption for w in result.dialogs] == ["JRE Not Found"], f"{case}: {result.describe()}"
    assert result.exit_code == EXIT_FAILURE, f"{case}: {result.describe()}"
    assert app.chosen() is None, f"{case}: {app.chosen()}"


def assert_outcome(app, result, expected, case):
    """Started from the expected library, or the runtime dialog when nothing is expected."""
    if expected is None:
        assert_not_found(app, result, case)
    else:
        assert_started(app, result, expected, case)


# --- Today's registrations -----------------------------------------------------------------------

# key, the build below a version subkey, the value naming the home, the older and the newer
# install's subkey with the version of its release file (None: the subkey names the version), and
# what "VM Provider" must admit the key's virtual machine.
FAMILIES = [
    (r"JavaSoft\JDK", "", "JavaHome", ("11.0.2", None), ("17.0.2", None), {}),
    (r"JavaSoft\JRE", "", "JavaHome", ("9.0.4", None), ("11.0.2", None), {}),
    (r"Eclipse Adoptium\JDK", r"\hotspot\MSI", "Path", ("17.0.9.9", None), ("21.0.1.12", None), {}),
    (r"Eclipse Adoptium\JRE", r"\hotspot\MSI", "Path", ("11.0.21.9", None), ("17.0.9.9", None), {}),
    (r"Eclipse Foundation\JDK", r"\hotspot\MSI", "Path", ("16.0.1.9", None), ("16.0.2.7", None), {}),
    (r"Eclipse Foundation\JRE", r"\hotspot\MSI", "Path", ("11.0.10.9", None), ("11.0.12.7", None), {}),
    (r"AdoptOpenJDK\JDK", r"\hotspot\MSI", "Path", ("8.0.282.08", None), ("11.0.10.9", None), {}),
    (r"AdoptOpenJDK\JRE", r"\openj9\MSI", "Path", ("8.0.282.08", None), ("11.0.10.9", None),
     {"VM Provider": "any"}),
    (r"Microsoft\JDK", r"\hotspot\MSI", "Path", ("11.0.21.9", None), ("17.0.9.8", None), {}),
    (r"Semeru\JDK", r"\openj9\MSI", "Path", ("11.0.21.9", None), ("17.0.9.9", None), {"VM Provider": "any"}),
    (r"Semeru\JRE", r"\openj9\MSI", "Path", ("17.0.8.7", None), ("17.0.9.9", None), {"VM Provider": "any"}),
    # The subkey names only the major version or the install; the release file has the full one.
    (r"Azul Systems\Zulu", "", "InstallationPath", ("zulu-17", "17.0.9"), ("zulu-21", "21.0.1"), {}),
    (r"BellSoft\Liberica", "", "InstallationPath", ("Liberica JDK 17 a", "17.0.9"),
     ("Liberica JDK 17 b", "17.0.10"), {}),
]


def check_each_family(root):
    """Each key alone in the registry: the newer of its two installs starts, without a dialog."""
    clear_registry()
    try:
        app = DiscoveryApp("todays_keys_" + root.lower())
        for key, build, value, older, newer, runtime in FAMILIES:
            case = f"{root}\\{key}"
            homes = {}
            for subkey, release in (older, newer):
                homes[subkey] = app.home(f"{key.replace(chr(92), '_')}/{subkey}", release=release,
                                         java8=key.endswith("JDK") and subkey.startswith("8."))
            # The newer install is written first: the order of the registry is not the ranking.
            set_registry([(root, f"{key}\\{subkey}{build}", value, homes[subkey][0])
                          for subkey in (newer[0], older[0])])
            app.configure(runtime)
            # No script ends the openj9 ones: a runtime after Java 8 ends the launcher when main returns.
            assert_started(app, app.run(), homes[newer[0]][1], case)
    finally:
        clear_registry()


def test_each_of_todays_registrations_machine_wide():
    check_each_family("HKLM")


def test_each_of_todays_registrations_per_user():
    check_each_family("HKCU")


def test_the_classic_keys_win_whenever_they_give_a_candidate():
    clear_registry()
    try:
        app = DiscoveryApp("classic_first")
        jre8, jre8_library = app.home("jre8")
        empty = windows_path(app.app.path("java/empty"))
        app.app.path("java/empty").mkdir(parents=True)
        jdk21, jdk21_library = app.home("jdk21")
        jdk25, jdk25_library = app.home("jdk25")
        todays = [("HKLM", r"Eclipse Adoptium\JDK\21.0.1.12\hotspot\MSI", "Path", jdk21),
                  ("HKCU", r"Eclipse Adoptium\JDK\25.0.1.8\hotspot\MSI", "Path", jdk25)]
        cases = [
            ("a classic candidate", [("HKLM", r"JavaSoft\Java Runtime Environment\1.8.0_392", "JavaHome", jre8)],
             {}, jre8_library),
            ("classic out of range", [("HKLM", r"JavaSoft\Java Runtime Environment\1.8.0_392", "JavaHome", jre8)],
             {"Minimum Version": "11"}, jdk25_library),
            ("classic without a library", [("HKLM", r"JavaSoft\Java Runtime Environment\1.8.0_392", "JavaHome",
                                             empty)], {}, jdk25_library),
            ("classic kind filtered", [("HKLM", r"JavaSoft\Java Runtime Environment\1.8.0_392", "JavaHome", jre8)],
             {"JVM Source": "only_JDK"}, jdk25_library),
            # Machine-wide and per-user installs rank together.
            ("no classic key", [], {"Maximum Version": "24"}, jdk21_library),
        ]
        for case, classic, runtime, expected in cases:
            set_registry(classic + todays)
            app.configure(runtime)
            assert_started(app, app.run(), expected, case)
    finally:
        clear_registry()


def test_range_kind_and_preference_apply_to_todays_keys():
    clear_registry()
    try:
        app = DiscoveryApp("todays_rules")
        jdk17, jdk17_library = app.home("jdk17", jdk=True)
        jre21, jre21_library = app.home("jre21")
        zulu11, zulu11_library = app.home("zulu11", release="11.0.21")  # no compiler: a JRE
        set_registry([("HKLM", r"JavaSoft\JDK\17.0.2", "JavaHome", jdk17),
                      ("HKCU", r"JavaSoft\JRE\21.0.1", "JavaHome", jre21),
                      ("HKLM", r"Azul Systems\Zulu\zulu-11", "InstallationPath", zulu11)])
        cases = [
            ("newest", {}, jre21_library),
            ("only_JDK", {"JVM Source": "only_JDK"}, jdk17_library),
            ("favor_JDK", {"JVM Source": "favor_JDK"}, jdk17_library),
            ("only_JRE up to 17", {"JVM Source": "only_JRE", "Maximum Version": "17"}, zulu11_library),
            ("up to 17", {"Maximum Version": "17"}, jdk17_library),
            ("preferred 11", {"Preferred versions": "11"}, zulu11_library),
            ("server only", {"JVM Type": "server"}, jre21_library),
            ("nothing new enough", {"Minimum Version": "22"}, None),
            ("no JDK new enough", {"JVM Source": "only_JDK", "Minimum Version": "18"}, None),
        ]
        for case, runtime, expected in cases:
            app.configure(runtime)
            assert_outcome(app, app.run(), expected, case)
    finally:
        clear_registry()


def test_a_modern_jdk_under_the_classic_jdk_key_uses_its_own_home():
    clear_registry()
    try:
        app = DiscoveryApp("classic_modern_jdk")
        jdk17, jdk17_library = app.home("jdk17", jdk=True)
        jdk8 = windows_path(app.app.path("java/jdk8"))
        _, jdk8_library = app.home("jdk8/jre")
        # Java 8's JDK also holds a library of its own beside its jre folder; the jre one counts.
        app.home("jdk8", flavour="client")
        set_registry([("HKLM", r"JavaSoft\Java Development Kit\17.0.2", "JavaHome", jdk17),
                      ("HKLM", r"JavaSoft\Java Development Kit\1.8.0_392", "JavaHome", jdk8)])
        for case, runtime, expected in [("newest", {}, jdk17_library),
                                        ("up to 1.8", {"Maximum Version": "1.8"}, jdk8_library)]:
            app.configure(runtime)
            assert_started(app, app.run(), expected, case)
    finally:
        clear_registry()


def test_java_home_and_the_java_on_path_are_the_last_resorts():
    clear_registry()
    try:
        app = DiscoveryApp("last_resorts")
        pointed, pointed_library = app.home("pointed", release="17.0.2", jdk=True)
        on_path, on_path_library = app.home("on_path", release="21.0.1", java_exe=True)
        registered, registered_library = app.home("registered")
        no_java = windows_path(app.app.path("tools"))
        app.app.path("tools").mkdir()
        system = r"C:\windows\system32;C:\windows"
        path = f"{no_java};{on_path}\\bin;{system}"
        cases = [
            ("JAVA_HOME", {"JAVA_HOME": pointed, "Path": system}, [], {}, pointed_library),
            ("JAVA_HOME with a trailing backslash", {"JAVA_HOME": pointed + "\\", "Path": system}, [], {},
             pointed_library),
            ("Path", {"Path": path}, [], {}, on_path_library),
            ("both, the newer", {"JAVA_HOME": pointed, "Path": path}, [], {}, on_path_library),
            ("both, in range", {"JAVA_HOME": pointed, "Path": path}, [], {"Maximum Version": "17"},
             pointed_library),
            ("both, only_JDK", {"JAVA_HOME": pointed, "Path": path}, [], {"JVM Source": "only_JDK"},
             pointed_library),
            ("both, out of range", {"JAVA_HOME": pointed, "Path": path}, [], {"Minimum Version": "22"}, None),
            ("a registration first", {"JAVA_HOME": pointed, "Path": path},
             [("HKCU", r"Microsoft\JDK\11.0.21.9\hotspot\MSI", "Path", registered)], {}, registered_library),
        ]
        for case, env, registrations, runtime, expected in cases:
            set_registry(registrations)
            app.configure(runtime)
            assert_outcome(app, app.run(env=env), expected, case)
    finally:
        clear_registry()


def test_minimum_version_8_accepts_a_registered_1_8_0_392():
    clear_registry()
    try:
        app = DiscoveryApp("both_schemes")
        jre8, jre8_library = app.home("jre8")
        jre11, jre11_library = app.home("jre11")
        jdk11, _ = app.home("jdk11")
        cases = [
            ("minimum 8", [("HKLM", r"JavaSoft\Java Runtime Environment\1.8.0_392", "JavaHome", jre8)],
             {"Minimum Version": "8"}, jre8_library),
            ("minimum 9 rejects it", [("HKLM", r"JavaSoft\Java Runtime Environment\1.8.0_392", "JavaHome", jre8)],
             {"Minimum Version": "9"}, None),
            ("preferred 8", [("HKLM", r"JavaSoft\Java Runtime Environment\1.8.0_392", "JavaHome", jre8),
                             ("HKLM", r"JavaSoft\Java Runtime Environment\11.0.2", "JavaHome", jre11)],
             {"Preferred versions": "8"}, jre8_library),
            ("maximum 1.8 rejects 11", [("HKLM", r"JavaSoft\JDK\11.0.2", "JavaHome", jdk11)],
             {"Maximum Version": "1.8"}, None),
        ]
        for case, registrations, runtime, expected in cases:
            set_registry(registrations)
            app.configure(runtime)
            result = app.run()
            if expected is None:
                assert_not_found(app, result, case)
                # The dialog says the requirement as it was written.
                wanted = runtime.get("Minimum Version") or runtime.get("Maximum Version")
                assert f"version {wanted}" in result.dialogs[0].control(203)["text"], result.describe()
            else:
                assert_started(app, result, expected, case)
    finally:
        clear_registry()


# --- The other machine type ----------------------------------------------------------------------

def require_win32_standin():
    require(STANDIN_32.exists(), f"{STANDIN_32} (cmake --build --preset win32)")


def test_a_32_bit_runtime_is_passed_over_in_every_source():
    require_win32_standin()
    clear_registry()
    try:
        app = DiscoveryApp("other_machine")
        wrong, _ = app.home("wrong", bits=32, release="21.0.1", java_exe=True)
        right, right_library = app.home("right", release="17.0.2", java_exe=True)
        cases = [
            # Nothing else to run: the user is asked, not shown a load failure.
            ("JRE Path", {"JRE Path": wrong}, [], {}, None),
            ("JRE Path, then the registry", {"JRE Path": wrong},
             [("HKLM", r"Eclipse Adoptium\JDK\17.0.9.9\hotspot\MSI", "Path", right)], {}, right_library),
            ("registry", {}, [("HKLM", r"Eclipse Adoptium\JDK\21.0.1.12\hotspot\MSI", "Path", wrong),
                              ("HKLM", r"Eclipse Adoptium\JDK\17.0.9.9\hotspot\MSI", "Path", right)],
             {}, right_library),
            ("classic registry", {}, [("HKLM", r"JavaSoft\Java Runtime Environment\1.8.0_392", "JavaHome", wrong),
                                      ("HKLM", r"JavaSoft\JRE\17.0.2", "JavaHome", right)], {}, right_library),
            ("JAVA_HOME and Path", {}, [], {"JAVA_HOME": wrong, "Path": f"{wrong}\\bin;C:\\windows\\system32"},
             None),
            ("JAVA_HOME beside a usable Path", {}, [],
             {"JAVA_HOME": wrong, "Path": f"{right}\\bin;C:\\windows\\system32"}, right_library),
        ]
        for case, runtime, registrations, env, expected in cases:
            set_registry(registrations)
            app.configure(runtime)
            assert_outcome(app, app.run(env=env), expected, case)
    finally:
        clear_registry()


def test_a_remembered_32_bit_runtime_brings_the_dialog_back():
    require_win32_standin()
    clear_registry()
    app = DiscoveryApp("remembered_other_machine", runtime={"Minimum Version": "1.6"})
    wrong, _ = app.home("wrong", bits=32)
    right, right_library = app.home("right")
    app.user_file.parent.mkdir(parents=True)
    app.user_file.write_bytes(f"[Java Runtime Environment]\r\nJRE Path={wrong}\\\r\n".encode(ANSI))

    result = app.run(steps=["window", "press:202", "browse:" + right, "press:OK"])
    assert len(runtime_dialogs(result)) == 1, result.describe()
    assert result.exit_code == 0, result.describe()
    assert app.chosen() == right_library, result.describe()
    # The usable folder replaces the one that could never be loaded.
    assert app.user_file.read_bytes().decode(ANSI).splitlines() == [
        "[Java Runtime Environment]", f"JRE Path={right}\\"], app.user_file.read_bytes()

    again = app.run()
    assert_started(app, again, right_library, "second start")


def test_the_dialog_refuses_a_32_bit_runtime_and_says_why():
    require_win32_standin()
    clear_registry()
    app = DiscoveryApp("browse_other_machine", runtime={"Minimum Version": "1.6"})
    wrong, _ = app.home("wrong", bits=32)
    both = windows_path(app.app.path("java/both"))
    app.home("both", bits=32, flavour="client")
    _, both_library = app.home("both", flavour="server")  # a usable flavour beside a 32-bit one
    right, _ = app.home("right")
    steps = ["window", "press:202", "browse:" + wrong, "snapshot", "key:ENTER", "snapshot",
             "press:202", "browse:" + right, "snapshot", "press:202", "browse:" + wrong, "snapshot",
             "press:202", "browse:" + both, "snapshot", "press:OK"]
    result = app.run(steps=steps)
    seen = [(w.control(201)["text"], w.control(1)["enabled"], w.control(206)["text"])
            for w in result.snapshots if w.caption == "JRE Not Found"]
    assert seen == [(wrong, False, WRONG_BITNESS), (wrong, False, WRONG_BITNESS), (right, True, HINT),
                    (wrong, False, WRONG_BITNESS), (both, True, HINT)], result.describe()
    assert result.exit_code == 0, result.describe()
    assert app.chosen() == both_library, result.describe()


# --- Links, the version of a library, the registry's two views ----------------------------------

def test_a_folder_of_links_a_version_from_the_library_and_the_32_bit_registrations_skipped():
    """Links resolved, a version from the library's resource or none, 32-bit registrations counted."""
    require(STANDIN_JAVA8.exists(), f"{STANDIN_JAVA8} (cmake --build --preset win64)")
    app = DiscoveryApp("links_and_versions")
    jre8, jre8_library = app.home("jre8", flavour="client", java_exe=True, library_from=STANDIN_JAVA8)
    unknown, _ = app.home("jre-unknown", flavour="client", java_exe=True)  # no release, no resource
    javapath = app.app.path("Common Files/Oracle/Java/javapath")
    javapath.mkdir(parents=True)
    (javapath / "java.exe").symlink_to(app.app.path("java/jre8/bin/java.exe"))
    set_registry([("HKLM32", r"Azul Systems\Zulu 32-bit\zulu-17", "InstallationPath", app.home("zulu32", bits=32)[0])])
    try:
        for case, path, expected, traced in [
            ("the folder of links", windows_path(javapath), jre8_library,
             f"candidate 1.8.0_392 JRE vendor unknown {jre8}"),
            ("no version to be read", f"{unknown}\\bin", None,
             f"candidate version unknown JRE vendor unknown {unknown}\\ from Path: passed over: out of range"),
        ]:
            app.configure({"Minimum Version": "1.8.0_300"})
            result, lines = app.run_traced({"Path": f"{path};{SYSTEM_PATH}"})
            assert_outcome(app, result, expected, case)
            assert any(line.startswith(traced) for line in lines), (case, lines)
            assert ("32-bit registrations not searched (a 64-bit launcher cannot load their runtimes): "
                    r"1 in HKLM\Software\Azul Systems\Zulu 32-bit" + "\\") in lines, lines
    finally:
        clear_registry()


def test_the_32_bit_build_finds_the_registrations_of_32_bit_runtimes():
    """A registration in the 32-bit view is loaded; one in the 64-bit view is counted, however new."""
    require(LAUNCHER_32.exists() and STANDIN_32.exists(), f"{LAUNCHER_32} (cmake --build --preset win32)")
    # The 32-bit wine is itself 32-bit code, which not every kernel runs.
    try:
        runs = subprocess.run(["/usr/lib/wine/wine", "--version"], capture_output=True, timeout=60).returncode == 0
    except OSError:
        runs = False
    require(runs, "/usr/lib/wine/wine (package wine32:i386) on a kernel that runs 32-bit code")
    clear_registry()
    try:
        app = DiscoveryApp("win32_registrations")
        shutil.copyfile(LAUNCHER_32, app.app.exe_path)
        zulu, zulu_library = app.home("zulu32", bits=32, release="17.0.9")
        set_registry([("HKLM32", r"Azul Systems\Zulu 32-bit\zulu-17", "InstallationPath", zulu),
                      ("HKLM", r"SapMachine\JDK\21.0.1", "JavaHome", app.home("sap64")[0])])
        result, lines = app.run_traced()
        assert_started(app, result, zulu_library, "Zulu 32-bit")
        assert ("64-bit registrations not searched (a 32-bit launcher cannot load their runtimes): "
                r"1 in HKLM\Software\SapMachine\JDK" + "\\") in lines, lines
    finally:
        clear_registry()
