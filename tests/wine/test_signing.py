"""Signed Windows executables: the build's signature, a failed signature, and a single-file
application (a jar appended to the executable, then signed). No wine needed."""

import shutil
import subprocess
import tempfile
import zipfile
from pathlib import Path

from harness import LAUNCHER, SOURCE_DIR, WIN64_DIR, require

NEEDS_WINE = False

# The throw-away certificate tests/support/CMakeLists.txt makes and signs qn_branded.exe with.
SIGNING = WIN64_DIR / "tests" / "signing"
BRANDED = WIN64_DIR / "tests" / "qn_branded.exe"


def tool(name):
    found = shutil.which(name)
    require(found, f"{name} (scripts/setup installs it)")
    return found


def verify(path, trusted=True):
    """osslsigncode's verdict on the signature, trusting the throw-away certificate or nothing."""
    command = [tool("osslsigncode"), "verify", "-in", str(path)]
    if trusted:
        command[2:2] = ["-CAfile", str(SIGNING / "signer.pem")]
    done = subprocess.run(command, capture_output=True, text=True, timeout=60)
    output = done.stdout + done.stderr
    return done.returncode == 0 and "Signature verification: ok" in output, output


def sign(path, pkcs12=None, password_file=None):
    """Signs as the build does after a link (cmake/sign_file.cmake)."""
    require(SIGNING.exists(), f"{SIGNING} (cmake --build --preset win64, with openssl and osslsigncode)")
    return subprocess.run(
        [tool("cmake"), f"-DOSSLSIGNCODE={tool('osslsigncode')}", f"-DFILE={path}",
         f"-DPKCS12={pkcs12 or SIGNING / 'signer.p12'}",
         f"-DPASSWORD_FILE={password_file or SIGNING / 'password.txt'}",
         "-P", str(SOURCE_DIR / "cmake" / "sign_file.cmake")],
        capture_output=True, text=True, timeout=120)


def test_the_build_signs_what_it_links_with_the_configured_certificate():
    require(BRANDED.exists(), f"{BRANDED} (cmake --build --preset win64)")
    ok, output = verify(BRANDED)
    assert ok, output
    # A signature nobody vouches for is not taken: the check above can fail.
    ok, output = verify(BRANDED, trusted=False)
    assert not ok, output


def test_a_failed_signature_fails_and_leaves_no_executable():
    with tempfile.TemporaryDirectory(prefix="qn-signing-") as root:
        folder = Path(root)
        wrong = folder / "wrong.txt"
        wrong.write_text("not the password\n")
        cases = [  # (name, certificate, password file, words of the message)
            ("wrong password", None, wrong, "failed"),
            ("no certificate", folder / "missing.p12", None, "QN_SIGN_PKCS12"),
            ("no password file", None, folder / "missing.txt", "QN_SIGN_PASSWORD_FILE"),
        ]
        for name, pkcs12, password_file, words in cases:
            exe = folder / "tool.exe"
            shutil.copyfile(LAUNCHER, exe)
            done = sign(exe, pkcs12, password_file)
            assert done.returncode != 0, (name, done.stdout)
            assert words in done.stdout + done.stderr, (name, done.stderr)
            assert not exe.exists(), name
            assert not list(folder.glob("*.signing")), name


def jdk_tool(name):
    found = sorted(Path("/usr/lib/jvm").glob(f"*/bin/{name}"))
    require(found, f"a JDK with {name} in /usr/lib/jvm")
    return str(found[0])


def test_a_jar_appended_to_the_executable_still_runs_once_signed():
    with tempfile.TemporaryDirectory(prefix="qn-single-file-") as root:
        folder = Path(root)
        (folder / "src").mkdir()
        (folder / "src" / "Main.java").write_text(
            'public class Main { public static void main(String[] a) { System.out.println("from the exe"); } }\n')
        subprocess.run([jdk_tool("javac"), "--release", "8", "-d", str(folder / "classes"),
                        str(folder / "src" / "Main.java")], check=True, timeout=120)
        subprocess.run([jdk_tool("jar"), "cf", str(folder / "app.jar"), "-C", str(folder / "classes"), "."],
                       check=True, timeout=120)
        exe = folder / "ledger.exe"
        exe.write_bytes(LAUNCHER.read_bytes() + (folder / "app.jar").read_bytes())
        done = sign(exe)
        assert done.returncode == 0, done.stdout + done.stderr
        ok, output = verify(exe)
        assert ok, output
        # The signature follows the jar; a zip reader still finds the jar's directory before it.
        assert "Main.class" in zipfile.ZipFile(exe).namelist()
        ran = subprocess.run([jdk_tool("java"), "-cp", str(exe), "Main"], capture_output=True, text=True,
                             timeout=120)
        assert (ran.returncode, ran.stdout) == (0, "from the exe\n"), ran.stderr
