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


def tool(name):
    require(shutil.which(name), f"{name} (scripts/setup installs it)")
    return shutil.which(name)


def verified(path, trusted=True):
    trust = ["-CAfile", str(SIGNING / "signer.pem")] if trusted else []
    done = subprocess.run([tool("osslsigncode"), "verify", *trust, "-in", str(path)], capture_output=True,
                          text=True, timeout=60)
    return done.returncode == 0 and "Signature verification: ok" in done.stdout + done.stderr


def sign(path, pkcs12=SIGNING / "signer.p12", password_file=SIGNING / "password.txt"):
    """Signs as the build does after a link."""
    require(SIGNING.exists(), f"{SIGNING} (cmake --build --preset win64, with openssl and osslsigncode)")
    return subprocess.run([tool("cmake"), f"-DOSSLSIGNCODE={tool('osslsigncode')}", f"-DFILE={path}",
                           f"-DPKCS12={pkcs12}", f"-DPASSWORD_FILE={password_file}",
                           "-P", str(SOURCE_DIR / "cmake" / "sign_file.cmake")], capture_output=True, text=True,
                          timeout=120)


def test_the_build_signs_what_it_links_with_the_configured_certificate():
    branded = WIN64_DIR / "tests" / "qn_branded.exe"
    require(branded.exists(), f"{branded} (cmake --build --preset win64)")
    # Without the certificate trusted the check fails: it can.
    assert verified(branded) and not verified(branded, trusted=False)


def test_a_failed_signature_fails_and_leaves_no_executable():
    with tempfile.TemporaryDirectory(prefix="qn-signing-") as root:
        folder = Path(root)
        (folder / "wrong.txt").write_text("not the password\n")
        # osslsigncode fails, or a file is missing: no executable is left to pass for a signed one.
        for options, words in [({"password_file": folder / "wrong.txt"}, "failed"),
                               ({"pkcs12": folder / "missing.p12"}, "QN_SIGN_PKCS12")]:
            shutil.copyfile(LAUNCHER, folder / "tool.exe")
            done = sign(folder / "tool.exe", **options)
            assert done.returncode != 0 and words in done.stdout + done.stderr, done.stderr
            assert list(folder.iterdir()) == [folder / "wrong.txt"], words


def test_a_jar_appended_to_the_executable_still_runs_once_signed():
    with tempfile.TemporaryDirectory(prefix="qn-single-file-") as root:
        folder = Path(root)
        (folder / "Main.java").write_text(
            'public class Main { public static void main(String[] a) { System.out.println("from the exe"); } }\n')
        subprocess.run([tool("javac"), "--release", "8", "-d", str(folder), str(folder / "Main.java")], check=True,
                       timeout=120)
        subprocess.run([tool("jar"), "cf", str(folder / "app.jar"), "-C", str(folder), "Main.class"], check=True,
                       timeout=120)
        exe = folder / "ledger.exe"
        exe.write_bytes(LAUNCHER.read_bytes() + (folder / "app.jar").read_bytes())
        done = sign(exe)
        assert done.returncode == 0 and verified(exe), done.stdout + done.stderr
        # The signature follows the jar; a zip reader still finds the jar's directory before it.
        assert "Main.class" in zipfile.ZipFile(exe).namelist()
        ran = subprocess.run([tool("java"), "-cp", str(exe), "Main"], capture_output=True, text=True, timeout=120)
        assert (ran.returncode, ran.stdout) == (0, "from the exe\n"), ran.stderr
