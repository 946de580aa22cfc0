"""The startup cache with real runtimes: a training start writes the cache, the next start maps it
(seen in the runtime's own class-loading log), a changed jar or another runtime gives a new cache,
and a spoilt cache file, an unusable cache folder or simultaneous first starts never change what
the program prints or how it ends."""

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

    def __init__(self, root, home, cache="Yes", parameters=""):
        require(LAUNCHER.exists(), f"{LAUNCHER} (cmake --build --preset linux)")
        require((CLASSES / "CacheApp.class").exists(), f"{CLASSES}/CacheApp.class")
        self.root = Path(root)
        self.folder = self.root / "app"
        self.folder.mkdir(exist_ok=True)
        self.exe = self.folder / "app"
        shutil.copyfile(LAUNCHER, self.exe)
        self.exe.chmod(0o755)
        self.jar = self.folder / "app.jar"
        self.build_jar(JDK_HOME)
        self.cache_home = self.root / "cache"
        self.trace = self.root / "trace.txt"
        self.write_ini(home, cache, parameters)

    def build_jar(self, home):
        subprocess.run([str(home / "bin" / "jar"), "cf", str(self.jar), "-C", str(CLASSES), "CacheApp.class"],
                       check=True)

    def write_ini(self, home, cache="Yes", parameters=""):
        lines = ["[Product Information]", "Product Name=Cache Test", "Product Code=7",
                 "[Java Runtime Environment]", "Main Class=CacheApp", f"JRE Path={home}",
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
        while len(self.kept()) < count or self.leftovers() or self.assemblies():
            assert time.monotonic() < deadline, (self.kept(), self.leftovers())
            time.sleep(0.05)
        return self.kept()

    def trained(self, count=1, first="cache-app"):
        assert has(self.run(first=first), "training ")
        return self.assembled(count)

    def assemblies(self):
        """The pids of running assembly programs whose argument file is in this cache folder."""
        found = []
        for entry in Path("/proc").glob("[0-9]*"):
            try:
                if b"\0@" + str(self.cache_home).encode() in (entry / "cmdline").read_bytes():
                    found.append(int(entry.name))
            except OSError:
                pass
        return found

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


def check_second_start_uses_cache(version):
    home = runtime(version)
    with tempfile.TemporaryDirectory() as root:
        log = Path(root) / "classes.log"
        app = App(root, home, parameters=f"-Xlog:class+load=info:file={log}")
        kept = app.trained()
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
        first = app.trained()
        # A rebuilt jar: a new key; the old cache goes when the new one is trained.
        time.sleep(0.01)
        app.build_jar(JDK_HOME)
        os.utime(app.jar, None)
        second = app.trained()
        assert len(second) == 1 and second != first, (first, second)

        # Another runtime keeps a cache of its own beside it.
        app.write_ini(JDK25)
        app.trained(count=2)
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
                app.trained()
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


def build_dep_app(app, source, version):
    """app.jar with a CacheApp whose manifest names lib/dep.jar, in which Dep says `version`, and
    jars that are not there: enough for the jar tool to deflate it with dynamic codes."""
    source.mkdir(parents=True)
    (source / "CacheApp.java").write_text(
        "public class CacheApp { public static void main(String[] a) { System.out.println(Dep.value()); } }\n"
        f'class Dep {{ static String value() {{ return "{version}"; }} }}\n')
    (source / "manifest.txt").write_text("Class-Path: lib/dep.jar\n" + "".join(f"  lib/no{i}.jar\n" for i in range(40)))
    (app.folder / "lib").mkdir(exist_ok=True)
    for tool, *args in (("javac", "--release", "17", "-d", source, source / "CacheApp.java"),
                        ("jar", "cf", app.folder / "lib" / "dep.jar", "-C", source, "Dep.class"),
                        ("jar", "cfm", app.jar, source / "manifest.txt", "-C", source, "CacheApp.class")):
        subprocess.run([str(JDK_HOME / "bin" / tool)] + [str(arg) for arg in args], check=True)


def test_an_updated_manifest_jar_runs_and_a_refused_archive_is_replaced():
    for version in (17, 25):
        with tempfile.TemporaryDirectory() as root:
            app = App(root, runtime(version))
            build_dep_app(app, Path(root) / "old", "old")
            old = (app.cache_home / "Cache Test" / "7" / app.trained(first="old")[0]).read_bytes()
            assert has(app.run(first="old"), "using "), version
            # Only the jar the manifest names is updated, as a package manager does.
            jar, facts = app.jar.read_bytes(), app.jar.stat()
            build_dep_app(app, Path(root) / "new", "new")
            app.jar.write_bytes(jar)
            os.utime(app.jar, ns=(facts.st_atime_ns, facts.st_mtime_ns))
            kept = app.cache_home / "Cache Test" / "7" / app.trained(first="new")[0]
            if version == 25:
                continue
            # The stale archive under the new one's name: the runtime refuses it, and it is replaced.
            kept.unlink()
            kept.with_name(f"{kept.name.rsplit('.', 2)[0]}.{len(old)}{kept.suffix}").write_bytes(old)
            assert has(app.run(first="new"), "the next start trains anew")
            app.trained(first="new")
            lines = app.run(first="new")
            assert has(lines, "using ") and not has(lines, "the next start"), lines


def test_the_assembly_runs_detached_and_low_after_the_program_and_a_killed_one_leaves_nothing():
    for version, target, sig in ((17, "program", signal.SIGKILL), (25, "monitor", signal.SIGTERM)):
        with tempfile.TemporaryDirectory() as root:
            app = App(root, runtime(version))
            app.run("--exit=5", code=5)  # its pipes close with the program
            deadline = time.monotonic() + TIMEOUT
            while not app.assemblies():
                assert not app.kept() and time.monotonic() < deadline, target
                time.sleep(0.005)
            pid = app.assemblies()[0]
            fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
            # Its own session, not the launcher's; the lowest priority.
            assert int(fields[3]) != os.getsid(0) and int(fields[16]) == 19, fields
            os.kill(int(fields[1]) if target == "monitor" else pid, sig)
            while app.assemblies() or app.leftovers():
                assert time.monotonic() < deadline, (target, app.leftovers())
                time.sleep(0.05)
            assert app.kept() == [], (target, app.kept())
