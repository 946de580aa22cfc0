"""The startup cache with real runtimes: a training start ends as the program does and the cache
appears afterwards, the next start maps it (seen in the runtime's own class-loading log), a changed
jar (one named by a manifest too), a refused archive or another runtime gives a new cache, two
installations keep a cache each, a cache that serves too little is trained anew, a killed assembly
leaves nothing, and a spoilt cache file, an unusable cache folder or simultaneous first starts
never change what the program prints or how it ends."""

import os
import re
import shutil
import signal
import subprocess
import tempfile
import time
from pathlib import Path

from jvm_harness import CLASSES, JDK_HOME, LAUNCHER, require, utf8_env

JDK25 = Path("/usr/lib/jvm/temurin-25-jdk-amd64")
TIMEOUT = 120


def runtime(version):
    home = JDK_HOME if version == 17 else JDK25
    # Temurin 25 is on the build machines, not on a bare Debian.
    require((home / "bin" / "java").exists(), f"a Java {version} runtime at {home}")
    return home


class App:
    """The launcher as `app` in its own folder, CacheApp in app.jar, a cache folder of its own."""

    def __init__(self, root, home, cache="Yes", parameters="", folder="app"):
        require(LAUNCHER.exists(), f"{LAUNCHER} (cmake --build --preset linux)")
        require((CLASSES / "CacheApp.class").exists(), f"{CLASSES}/CacheApp.class")
        self.root = Path(root)
        self.folder = self.root / folder
        self.folder.mkdir(parents=True, exist_ok=True)
        self.exe = self.folder / "app"
        shutil.copyfile(LAUNCHER, self.exe)
        self.exe.chmod(0o755)
        self.jar = self.folder / "app.jar"
        self.build_jar(JDK_HOME)
        self.home = home
        self.cache_home = self.root / "cache"
        self.trace = self.root / "trace.txt"
        self.write_ini(home, cache, parameters)

    def build_jar(self, home):
        subprocess.run([str(home / "bin" / "jar"), "cf", str(self.jar), "-C", str(CLASSES), "CacheApp.class"],
                       check=True)

    def write_ini(self, home, cache="Yes", parameters="", main="CacheApp"):
        lines = ["[Product Information]", "Product Name=Cache Test", "Product Code=7",
                 "[Java Runtime Environment]", f"Main Class={main}", f"JRE Path={home}",
                 f"Virtual Machine Parameters={parameters}"]
        if cache is not None:
            lines.append(f"Startup Cache={cache}")
        lines += ["[Class Path]", "Class Path=app.jar"]
        (self.folder / "app.ini").write_text("\n".join(lines) + "\n")

    def env(self):
        return utf8_env(XDG_CACHE_HOME=str(self.cache_home), QN_LAUNCHER_TRACE=str(self.trace))

    def start(self, *args):
        return subprocess.Popen([str(self.exe)] + list(args), cwd=self.folder, env=self.env(),
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def run(self, *args, code=0, first="cache-app"):
        """One start; asserts the program's own output and exit code; gives the start's trace lines."""
        if self.trace.exists():
            self.trace.unlink()
        process = self.start(*args)
        out, err = process.communicate(timeout=TIMEOUT)
        assert err.decode() == "", f"standard error: {err.decode()!r}"
        assert out.decode().splitlines()[0] == first, f"standard output: {out.decode()!r}"
        assert process.returncode == code, f"exit code {process.returncode}, output {out.decode()!r}"
        self.last_output = out.decode()
        return self.cache_lines()

    def cache_lines(self):
        if not self.trace.exists():
            return []
        return [line.split("cache: ", 1)[1] for line in self.trace.read_text().splitlines() if " cache: " in line]

    def assembled(self, count=1):
        """Waits for the assemblies started so far: `count` kept caches and no file of a start left."""
        deadline = time.monotonic() + TIMEOUT
        while time.monotonic() < deadline:
            if len(self.kept()) >= count and not self.leftovers() and not assemblies(self.cache_home):
                return self.kept()
            time.sleep(0.05)
        raise AssertionError(f"no cache assembled: kept {self.kept()}, left {self.leftovers()}")

    def kept(self):
        folder = self.cache_home / "Cache Test" / "7"
        if not folder.exists():
            return []
        return sorted(p.name for p in folder.iterdir() if p.suffix in (".jsa", ".aot"))

    def leftovers(self):
        folder = self.cache_home / "Cache Test" / "7"
        return sorted(p.name for p in folder.iterdir() if p.suffix not in (".jsa", ".aot")) if folder.exists() else []


def has(lines, prefix):
    return any(line.startswith(prefix) for line in lines)


def assemblies(cache_home):
    """The pids of running assembly programs whose argument file is in this cache folder."""
    found = []
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            command = (entry / "cmdline").read_bytes().split(b"\0")
        except OSError:
            continue
        if any(part.startswith(b"@" + str(cache_home).encode()) for part in command):
            found.append(int(entry.name))
    return found


def trained(app, *args, count=1, first="cache-app"):
    """A training start: it ends before its cache is there, which appears afterwards."""
    lines = app.run(*args, first=first)
    assert has(lines, "training ") and has(lines, "assembly of "), lines
    assert len(app.kept()) < count, app.kept()
    return app.assembled(count)


def check_second_start_uses_cache(version):
    home = runtime(version)
    with tempfile.TemporaryDirectory() as root:
        log = Path(root) / "classes.log"
        app = App(root, home, parameters=f"-Xlog:class+load=info:file={log}")
        kept = trained(app)
        assert "CacheApp source: shared objects file" not in log.read_text()
        assert len(kept) == 1, kept

        second = app.run()
        assert has(second, "using "), second
        assert not has(second, "training "), second
        assert app.leftovers() == [], app.leftovers()  # the start's class-load log is gone
        # The runtime's own word that the class came from the archive.
        assert re.search(r"CacheApp source: shared objects file", log.read_text()), log.read_text()[-2000:]
        assert app.kept() == kept


def test_second_start_uses_cache_java17():
    check_second_start_uses_cache(17)


def test_second_start_uses_cache_java25():
    check_second_start_uses_cache(25)


def test_changed_jar_or_other_runtime_gives_new_cache():
    runtime(17)
    runtime(25)
    with tempfile.TemporaryDirectory() as root:
        app = App(root, JDK_HOME)
        first = trained(app)
        # A rebuilt jar: a new key; the old cache goes when the new one is trained.
        time.sleep(0.01)
        app.build_jar(JDK_HOME)
        os.utime(app.jar, None)
        second = trained(app)
        assert len(second) == 1 and second != first, (first, second)

        # Another runtime keeps a cache of its own beside it.
        app.write_ini(JDK25)
        trained(app, count=2)
        assert has(app.run(), "using ")
        assert len(app.kept()) == 2 and second[0] in app.kept(), app.kept()
        app.write_ini(JDK_HOME)
        assert has(app.run(), "using ")


def test_program_exit_code_survives_training_and_cache_is_kept():
    home = runtime(17)
    with tempfile.TemporaryDirectory() as root:
        app = App(root, home)
        lines = app.run("--exit=3", code=3)
        assert has(lines, "assembly of "), lines
        app.assembled()
        assert has(app.run("--exit=4", code=4), "using ")


def test_spoilt_cache_files_start_normally():
    for version in (17, 25):
        home = runtime(version)
        for spoil in ("truncate", "garbage", "empty"):
            with tempfile.TemporaryDirectory() as root:
                app = App(root, home)
                trained(app)
                path = app.cache_home / "Cache Test" / "7" / app.kept()[0]
                size = path.stat().st_size
                path.chmod(0o644)
                if spoil == "truncate":
                    with open(path, "r+b") as f:
                        f.truncate(size // 2)
                elif spoil == "garbage":
                    path.write_bytes(b"\x5a" * size)
                else:
                    path.write_bytes(b"")
                lines = app.run()
                assert has(lines, "passed over "), (version, spoil, lines)
                assert app.last_output == "cache-app\n", app.last_output


def test_unusable_cache_folder_starts_normally():
    home = runtime(17)
    with tempfile.TemporaryDirectory() as root:
        app = App(root, home)
        # A file where the cache folder would be: no user, not even root, can make folders in it.
        app.cache_home.write_text("not a folder")
        lines = app.run()
        assert lines and lines[0].startswith("not used: no cache folder"), lines
        assert app.run() == lines


def test_simultaneous_first_starts():
    for version in (17, 25):
        home = runtime(version)
        with tempfile.TemporaryDirectory() as root:
            app = App(root, home)
            processes = [app.start() for _ in range(3)]
            for process in processes:
                out, err = process.communicate(timeout=TIMEOUT)
                assert process.returncode == 0 and out.decode() == "cache-app\n" and err.decode() == "", \
                    (version, process.returncode, out, err)
            app.assembled()
            assert has(app.run(), "using ")


def test_key_off_changes_nothing():
    home = runtime(17)
    with tempfile.TemporaryDirectory() as root:
        app = App(root, home, cache=None)
        app.run("--options")
        absent = app.last_output
        for value in ("no", "true", ""):
            app.write_ini(home, cache=value)
            assert app.run("--options") == []
            assert app.last_output == absent, (value, app.last_output, absent)
        assert not app.cache_home.exists()
        assert not re.search(r"Archive|AOT|Xshare|Xlog", absent), absent

        app.write_ini(home, cache="yes")
        app.run("--options")
        assert "option -XX:DumpLoadedClassList=" in app.last_output, app.last_output


DEP_APP = """public class DepApp { public static void main(String[] a) { System.out.println(Dep.value()); } }"""
DEP = """public class Dep { public static String value() { return "%s"; } }"""


def build_dep_app(app, work, version):
    """app.jar with DepApp, whose manifest names lib/dep.jar, which holds Dep returning `version`."""
    javac, jar = str(JDK_HOME / "bin" / "javac"), str(JDK_HOME / "bin" / "jar")
    source = work / version
    source.mkdir(parents=True)
    (source / "DepApp.java").write_text(DEP_APP)
    (source / "Dep.java").write_text(DEP % version)
    subprocess.run([javac, "--release", "17", "-d", str(source), str(source / "DepApp.java"), str(source / "Dep.java")],
                   check=True)
    (app.folder / "lib").mkdir(exist_ok=True)
    subprocess.run([jar, "cf", str(app.folder / "lib" / "dep.jar"), "-C", str(source), "Dep.class"], check=True)
    (source / "manifest.txt").write_text("Class-Path: lib/dep.jar\n")
    subprocess.run([jar, "cfm", str(app.jar), str(source / "manifest.txt"), "-C", str(source), "DepApp.class"],
                   check=True)


MANY = 400


def build_many_app(app, work):
    """app.jar with ManyApp and MANY small classes that `--all` loads: enough that an archive
    without them shows in the runtime's count."""
    work.mkdir(parents=True)
    classes = "".join(f"class C{i} {{}}\n" for i in range(MANY))
    (work / "ManyApp.java").write_text(
        "public class ManyApp { public static void main(String[] a) throws Exception {\n"
        "  System.out.println(\"many-app\");\n"
        f"  if (a.length > 0) for (int i = 0; i < {MANY}; i++) Class.forName(\"C\" + i);\n}} }}\n" + classes)
    subprocess.run([str(JDK_HOME / "bin" / "javac"), "--release", "17", "-d", str(work), str(work / "ManyApp.java")],
                   check=True)
    subprocess.run([str(JDK_HOME / "bin" / "jar"), "cf", str(app.jar), "-C", str(work), "."], check=True)
    app.write_ini(app.home, main="ManyApp")


def test_a_cache_that_no_longer_fits_is_trained_anew():
    """A jar named by a manifest updated on its own; a cache that serves too little; one the runtime refuses."""
    for version in (17, 25):
        home = runtime(version)
        with tempfile.TemporaryDirectory() as root:
            other = App(Path(root) / "other", home)
            other.write_ini(home, main="DepApp")
            work = Path(root) / "work"
            build_dep_app(other, work, "old")
            trained(other, first="old")
            assert has(other.run(first="old"), "using "), version
            # Only the jar the manifest names is updated, as a package manager does: the new class runs.
            app_jar = other.jar.read_bytes()
            build_dep_app(other, work / "next", "new-version")
            other.jar.write_bytes(app_jar)
            lines = other.run(first="new-version")
            assert has(lines, "training ") and not has(lines, "using "), (version, lines)
            foreign = other.cache_home / "Cache Test" / "7" / other.assembled()[0]

            app = App(root, home)
            build_many_app(app, Path(root) / "many")
            kept = app.cache_home / "Cache Test" / "7" / trained(app, first="many-app")[0]  # none of the many
            for generation, cause in ((1, "serves too little"), (2, "refused")):
                if cause == "refused":
                    # An archive of another class path under this cache's name and size: the runtime
                    # refuses it, wholly (17) or for the application's classes (25).
                    stem = kept.name.rsplit(".", 2)[0]
                    kept.unlink()
                    shutil.copyfile(foreign, kept.with_name(f"{stem}.{foreign.stat().st_size}{kept.suffix}"))
                lines = app.run("--all", first="many-app")
                assert has(lines, "using ") and has(lines, "the next start trains anew"), (version, cause, lines)
                assert app.kept() == [], app.kept()
                lines = app.run("--all", first="many-app")
                assert any(line.startswith("training ") and f"generation {generation}" in line for line in lines), lines
                kept = app.cache_home / "Cache Test" / "7" / app.assembled()[0]
                lines = app.run("--all", first="many-app")
                assert has(lines, "using ") and not has(lines, "the next start"), (version, cause, lines)


def test_the_assembly_runs_detached_and_low_after_the_program_and_a_killed_one_leaves_nothing():
    for version, target, sig in ((17, "program", signal.SIGKILL), (25, "monitor", signal.SIGTERM)):
        home = runtime(version)
        with tempfile.TemporaryDirectory() as root:
            app = App(root, home)
            process = app.start("--exit=5")
            out, err = process.communicate(timeout=TIMEOUT)  # the pipes close with the program
            assert (process.returncode, out, err) == (5, b"cache-app\n", b""), (process.returncode, out, err)
            deadline = time.monotonic() + TIMEOUT
            while not assemblies(app.cache_home):
                assert not app.kept() and time.monotonic() < deadline, f"{target}: the assembly ended before it was seen"
                time.sleep(0.005)
            pid = assemblies(app.cache_home)[0]
            fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
            # Its own session, not the launcher's; the lowest priority.
            assert int(fields[3]) != os.getsid(0) and int(fields[16]) == 19, fields
            os.kill(int(fields[1]) if target == "monitor" else pid, sig)
            while assemblies(app.cache_home) or app.leftovers():
                assert time.monotonic() < deadline, (target, app.leftovers())
                time.sleep(0.05)
            assert app.kept() == [], (target, app.kept())
            assert has(app.run(), "training "), target  # and the next start trains again
            app.assembled()


def test_two_installations_alternating_both_start_warm():
    home = runtime(17)
    with tempfile.TemporaryDirectory() as root:
        one = App(root, home, folder="one")
        two = App(root, home, folder="two")
        trained(one)
        trained(two, count=2)
        for app in (one, two):
            assert has(app.run(), "using "), app.folder
        assert len(one.kept()) == 2, one.kept()
