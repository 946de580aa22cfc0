"""Today's runtimes on Linux with the real JDKs of this machine: tools name the application, the
main forms of Java 25, a runtime library of another machine passed over, runtimes found in an
SDKMAN-style folder and through the java on PATH."""

import os
import shutil
import subprocess
import tempfile
import time
from pathlib import Path

from jvm_harness import CLASSES, JDK_HOME, LAUNCHER, require, utf8_env

JVM_ROOT = Path("/usr/lib/jvm")


def jdk_of(major):
    """A JDK of this major version under /usr/lib/jvm (Java 25 is not on a bare Debian)."""
    for home in sorted(JVM_ROOT.glob("*")):
        release = home / "release"
        if home.is_symlink() or not release.exists():
            continue
        for line in release.read_text().splitlines():
            if line.startswith("JAVA_VERSION=") and line.split("=", 1)[1].strip('"').split(".")[0] == str(major):
                return home
    return None


class App:
    def __init__(self, root, main_class, jre_path=None, extra_runtime=()):
        require(LAUNCHER.exists(), f"{LAUNCHER} (cmake --build --preset linux)")
        require((CLASSES / "MainForms.class").exists(), f"{CLASSES}/MainForms.class")
        self.folder = Path(root) / "app"
        self.folder.mkdir(parents=True)
        self.exe = self.folder / "app"
        shutil.copyfile(LAUNCHER, self.exe)
        self.exe.chmod(0o755)
        runtime = ["[Java Runtime Environment]", f"Main Class={main_class}"]
        if jre_path:
            runtime.append(f"JRE Path={jre_path}")
        runtime += list(extra_runtime)
        ini = runtime + ["[Class Path]", f"Class Path={CLASSES}"]
        (self.folder / "app.ini").write_text("\n".join(ini) + "\n")

    def run(self, *args, env=None, timeout=60):
        return subprocess.run([str(self.exe)] + list(args), cwd=self.folder, env=env or utf8_env(),
                              capture_output=True, text=True, timeout=timeout)


def test_jps_names_the_main_class_and_its_arguments():
    jps = JDK_HOME / "bin" / "jps"
    require(jps.exists(), f"{jps}")
    with tempfile.TemporaryDirectory() as root:
        app = App(root, "MainForms", jre_path=JDK_HOME)
        release = Path(root) / "release-me"
        process = subprocess.Popen([str(app.exe), str(release), "second"], cwd=app.folder, env=utf8_env(),
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        try:
            assert process.stdout.readline().strip() == "waiting"
            listing = subprocess.run([str(jps), "-lm"], capture_output=True, text=True, timeout=60).stdout
            mine = [line for line in listing.splitlines() if line.split(" ", 1)[0] == str(process.pid)]
            assert mine == [f"{process.pid} MainForms {release} second"], listing
        finally:
            release.touch()
            process.communicate(timeout=60)
        assert process.returncode == 0


def test_the_main_forms_of_java_25():
    jdk25 = jdk_of(25)
    require(jdk25, "a Java 25 JDK under /usr/lib/jvm")
    cases = [
        ("MainFormInstanceWithArguments", 0, "instance main(String[]) a,b\n"),
        ("MainFormStaticWithout", 0, "static main()\n"),
        ("MainFormInstanceWithout", 0, "instance main()\n"),
        ("MainFormPrivateConstructor", 255, ""),
    ]
    for main_class, code, out in cases:
        with tempfile.TemporaryDirectory() as root:
            result = App(root, main_class, jre_path=jdk25).run("a", "b")
            assert (result.returncode, result.stdout) == (code, out), (main_class, result)
            if code:
                assert "No main method found in specified class." in result.stderr, result.stderr
    # An older runtime launches none of them.
    with tempfile.TemporaryDirectory() as root:
        result = App(root, "MainFormStaticWithout", jre_path=JDK_HOME).run()
        assert result.returncode == 255 and result.stdout == "", result
        assert "No main method found in specified class." in result.stderr, result.stderr


def copy_runtime(source, target, library=None):
    """A runtime home as links to a real one; its libjvm.so optionally replaced by `library`."""
    target.mkdir(parents=True)
    for entry in source.iterdir():
        if entry.name != "lib":
            (target / entry.name).symlink_to(entry)
    (target / "lib").mkdir()
    for entry in (source / "lib").iterdir():
        if entry.name != "server":
            (target / "lib" / entry.name).symlink_to(entry)
    (target / "lib" / "server").mkdir()
    for entry in (source / "lib" / "server").iterdir():
        if entry.name == "libjvm.so" and library is not None:
            (target / "lib" / "server" / "libjvm.so").write_bytes(library)
        else:
            (target / "lib" / "server" / entry.name).symlink_to(entry.resolve())


def test_runtime_folders_of_today_and_a_library_of_another_class():
    require((JDK_HOME / "lib" / "server" / "libjvm.so").exists(), f"a JDK at {JDK_HOME}")
    elf32 = b"\x7fELF\x01\x01\x01" + bytes(11) + b"\x03\x00" + bytes(32)
    with tempfile.TemporaryDirectory() as root:
        home = Path(root) / "home"
        sdkman = home / ".sdkman" / "candidates" / "java" / "17.0.99-test"
        copy_runtime(JDK_HOME, sdkman)
        (sdkman / "release").unlink()
        (sdkman / "release").write_text('JAVA_VERSION="99.0.1"\n')  # newer than anything installed
        on_path = Path(root) / "onpath"
        copy_runtime(JDK_HOME, on_path)
        # Its own java program, not a link: a link leads back to the real JDK, which it then is.
        (on_path / "bin").unlink()
        (on_path / "bin").mkdir()
        shutil.copy(JDK_HOME / "bin" / "java", on_path / "bin" / "java")
        (on_path / "release").unlink()
        (on_path / "release").write_text('JAVA_VERSION="98.0.1"\n')
        wrong = home / ".jdks" / "i386-100"
        copy_runtime(JDK_HOME, wrong, library=elf32)
        (wrong / "release").unlink()
        (wrong / "release").write_text('JAVA_VERSION="100"\n')
        base = utf8_env(HOME=str(home), PATH=f"{on_path}/bin:/usr/bin:/bin")
        base.pop("JAVA_HOME", None)
        cases = [
            ({}, str(sdkman)),                                        # the newest that loads
            ({"Maximum Version": "98"}, str(on_path)),               # the java on PATH
            ({"Preferred versions": "100"}, str(sdkman)),            # the 32-bit one never
        ]
        for settings, expected in cases:
            app_root = Path(root) / ("app-" + str(len(list(Path(root).glob("app-*")))))
            app_root.mkdir()
            app = App(app_root, "MainForms", extra_runtime=[f"{k}={v}" for k, v in settings.items()])
            trace = app_root / "trace.txt"
            release = app_root / "go"
            release.touch()
            result = app.run(str(release), env=dict(base, QN_LAUNCHER_TRACE=str(trace)))
            assert result.returncode == 0, (settings, result)
            lines = trace.read_text().splitlines()
            chosen = [line for line in lines if line.endswith(": chosen")]
            assert len(chosen) == 1 and f" {expected}/ " in chosen[0], (settings, "\n".join(lines))
            if "Maximum Version" not in settings:  # otherwise out of range before its library is read
                assert any("passed over: other bitness (32-bit " in line and str(wrong) in line
                           for line in lines), "\n".join(lines)
