"""scripts/setup against stand-ins for id, dpkg-query, sudo, apt-get, locale and localedef: which
packages each command installs, the locale it makes, and what a user without root and without sudo
is told."""

import os
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

SETUP = Path(__file__).resolve().parents[2] / "scripts" / "setup"
DEMO = ["cmake", "ninja-build", "g++", "openjdk-17-jdk-headless"]
TEST_ONLY = ["python3", "libgtest-dev", "openjdk-17-jre", "g++-mingw-w64-x86-64-posix",
             "g++-mingw-w64-i686-posix", "mingw-w64-tools", "wine64", "wine32:i386", "xvfb", "xauth", "x11-utils",
             "imagemagick", "xdotool", "locales", "libgtk-3-0", "clang", "libclang-rt-14-dev", "osslsigncode"]

FAKES = {
    "id": 'echo "$FAKE_UID"',
    # Installed are the packages named in FAKE_INSTALLED.
    "dpkg-query": 'for p in $FAKE_INSTALLED; do [ "$p" = "${@: -1}" ] && { printf "install ok installed"; exit 0; }; done; exit 1',
    "apt-get": 'echo "apt-get $* [uid=$FAKE_UID frontend=${DEBIAN_FRONTEND:-}]" >>"$FAKE_LOG"',
    "sudo": 'echo "sudo" >>"$FAKE_LOG"; FAKE_UID=0 exec "$@"',
    # The locales that exist are those named in FAKE_LOCALES.
    "locale": '[ "$1" = -a ] && for l in C C.utf8 POSIX $FAKE_LOCALES; do echo "$l"; done',
    "localedef": 'echo "localedef $* [uid=$FAKE_UID]" >>"$FAKE_LOG"',
    "dpkg": '[ "$1" = --print-foreign-architectures ] && { printf "%s\\n" $FAKE_ARCHITECTURES; exit 0; }; '
            'echo "dpkg $* [uid=$FAKE_UID]" >>"$FAKE_LOG"',
}


class Setup(unittest.TestCase):
    def run_setup(self, *args, uid=1000, sudo=True, installed=(), locales=("ja_JP.utf8",), architectures=("i386",)):
        folder = Path(tempfile.mkdtemp(prefix="qn-setup-"))
        self.addCleanup(subprocess.run, ["rm", "-rf", str(folder)])
        bin_dir = folder / "bin"
        bin_dir.mkdir()
        for name, body in FAKES.items():
            if name == "sudo" and not sudo:
                continue
            (bin_dir / name).write_text("#!/bin/bash\n" + body + "\n")
            (bin_dir / name).chmod(0o755)
        for tool in ("grep", "env", "bash"):
            (bin_dir / tool).symlink_to(subprocess.check_output(["which", tool], text=True).strip())
        log = folder / "log"
        env = {"PATH": str(bin_dir), "FAKE_UID": str(uid), "FAKE_LOG": str(log),
               "FAKE_INSTALLED": " ".join(installed), "FAKE_LOCALES": " ".join(locales),
               "FAKE_ARCHITECTURES": " ".join(architectures)}
        done = subprocess.run(["/bin/bash", str(SETUP), *args], env=env, capture_output=True,
                              text=True, timeout=60)
        calls = log.read_text().splitlines() if log.exists() else []
        return done, calls

    def installed_by(self, calls):
        install = [c for c in calls if c.startswith("apt-get install")]
        self.assertEqual(len(install), 1, calls)
        words = install[0].split(" [")[0].split()
        return [w for w in words[2:] if not w.startswith("-")], install[0]

    def test_demo_installs_only_what_the_linux_demo_needs(self):
        done, calls = self.run_setup("demo", uid=0)
        self.assertEqual(done.returncode, 0, done.stderr)
        packages, _ = self.installed_by(calls)
        self.assertEqual(packages, DEMO)

    def test_unit_release_and_bench_install_their_own_lists_without_the_locale(self):
        release = ["cmake", "ninja-build", "openjdk-17-jdk-headless", "binutils", "g++-mingw-w64-x86-64-posix",
                   "g++-mingw-w64-i686-posix", "mingw-w64-tools", "osslsigncode", "debootstrap"]
        # The bench's fourth application is there already.
        for mode, installed, expected in [("unit", [], DEMO + ["python3", "libgtest-dev"]), ("release", [], release),
                                          ("bench", ["maven"], DEMO + ["clojure", "groovy", "jython"])]:
            done, calls = self.run_setup(mode, uid=0, installed=installed, locales=())
            self.assertEqual((done.returncode, self.installed_by(calls)[0]), (0, expected), mode)
            self.assertFalse([c for c in calls if c.startswith("localedef")], mode)

    def test_the_default_installs_everything_the_tests_need(self):
        for args in ((), ("all",)):
            with self.subTest(args=args):
                done, calls = self.run_setup(*args, uid=0)
                self.assertEqual(done.returncode, 0, done.stderr)
                packages, _ = self.installed_by(calls)
                self.assertEqual(sorted(packages), sorted(DEMO + TEST_ONLY))

    def test_the_japanese_locale_is_made_for_all_when_missing(self):
        cases = [("missing", (), ["localedef -i ja_JP -f UTF-8 ja_JP.UTF-8 [uid=0]"]),
                 ("present", ("ja_JP.utf8",), []), ("spelt with a dash", ("ja_JP.UTF-8",), [])]
        for name, locales, expected in cases:
            with self.subTest(name):
                done, calls = self.run_setup("all", uid=1000, installed=DEMO + TEST_ONLY, locales=locales)
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertEqual([c for c in calls if c.startswith("localedef")], expected)
                self.assertEqual([c for c in calls if c.startswith("apt-get")], [])
        # The demo needs no wine test, so no locale either.
        done, calls = self.run_setup("demo", uid=0, installed=DEMO, locales=())
        self.assertEqual((done.returncode, calls), (0, []), done.stderr)

    def test_the_i386_architecture_is_added_once_before_wine32_is_installed(self):
        # One other package is missing too, so that apt-get always runs.
        others = [p for p in DEMO + TEST_ONLY if p != "wine32:i386"]
        for architectures, installed, expected in [((), (), ["dpkg --add-architecture i386 [uid=0]"]),
                                                   (("i386",), (), []), ((), ("wine32:i386",), [])]:
            done, calls = self.run_setup(uid=0, installed=others[:-1] + list(installed), architectures=architectures)
            # Before the package lists are read, which then hold the i386 packages.
            self.assertEqual([c for c in calls if c.startswith(("dpkg", "apt-get update"))],
                             expected + ["apt-get update -q [uid=0 frontend=noninteractive]"], (architectures, installed))
        done, _ = self.run_setup(sudo=False, installed=others, architectures=())
        self.assertIn("as root run: dpkg --add-architecture i386 && apt-get update && apt-get install -y "
                      "--no-install-recommends wine32:i386", done.stderr)

    def test_only_missing_packages_are_installed(self):
        done, calls = self.run_setup("demo", uid=0, installed=["cmake", "g++"])
        packages, _ = self.installed_by(calls)
        self.assertEqual(packages, ["ninja-build", "openjdk-17-jdk-headless"])
        self.assertIn("apt-get update -q [uid=0 frontend=noninteractive]", calls)

    def test_nothing_missing_installs_nothing_even_without_root(self):
        done, calls = self.run_setup("demo", uid=1000, sudo=False, installed=DEMO)
        self.assertEqual((done.returncode, calls), (0, []), done.stderr)
        self.assertIn("everything is installed", done.stdout)

    def test_a_user_with_sudo_installs_through_it_noninteractively(self):
        done, calls = self.run_setup("demo", uid=1000)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(calls.count("sudo"), 2, calls)
        _, install = self.installed_by(calls)
        self.assertTrue(install.endswith("[uid=0 frontend=noninteractive]"), install)

    def test_without_root_and_sudo_one_line_says_what_to_run(self):
        done, calls = self.run_setup("demo", uid=1000, sudo=False, installed=["cmake"])
        self.assertEqual(done.returncode, 1)
        self.assertEqual(calls, [])
        lines = (done.stdout + done.stderr).splitlines()
        self.assertEqual(len(lines), 1, lines)
        command = lines[0].split("as root run: ", 1)[1]
        self.assertEqual(command, "apt-get update && apt-get install -y --no-install-recommends "
                                  "ninja-build g++ openjdk-17-jdk-headless")

    def test_an_unknown_argument_is_refused(self):
        done, calls = self.run_setup("everything", uid=0)
        self.assertEqual((done.returncode, calls), (2, []))
        self.assertIn("usage: scripts/setup [demo|unit|all|release|bench]", done.stderr)


if __name__ == "__main__":
    sys.exit(unittest.main())
