"""The vendor's icon and version information in the Windows executables (no wine needed)."""

import re
import shutil
import subprocess
import tempfile
from pathlib import Path

import pe
from harness import SOURCE_DIR, WIN32_DIR, WIN64_DIR, configured_download_link, require, string_table_source

NEEDS_WINE = False

# What tests/support/CMakeLists.txt gives qn_branded: quotes, a backslash and text beyond ASCII.
BRANDED = {
    "ProductName": "Ledger Pro",
    "FileDescription": "Ledger Pro: books\\ledgers",
    "CompanyName": 'Müller & Söhne "Nord" GmbH',
    "FileVersion": "2.7.13.400",
    "ProductVersion": "2.07",
    "LegalCopyright": "© 2026 Müller & Söhne",
    "OriginalFilename": "ledger.exe",
    "InternalName": "ledger",
}

VOS_NT_WINDOWS32, VFT_APP = 0x40004, 1


def read(path):
    require(path.exists(), f"{path} (cmake --build --preset {path.parent.name})")
    image = pe.Image(path)
    info = pe.version_info(image)
    assert info, f"{path}: no version resource"
    assert list(info["strings"]) == ["040904B0"], info["strings"].keys()
    assert info["translations"] == [(0x409, 1200)], info["translations"]
    assert info["fixed"]["os"] == VOS_NT_WINDOWS32 and info["fixed"]["type"] == VFT_APP, info["fixed"]
    assert info["fixed"]["flags"] == 0, info["fixed"]
    return image, info


def test_a_branded_build_carries_each_field_and_the_icon():
    image, info = read(WIN64_DIR / "tests" / "qn_branded.exe")
    assert info["strings"]["040904B0"] == BRANDED
    assert info["fixed"]["file_version"] == (2, 7, 13, 400)
    assert info["fixed"]["product_version"] == (2, 7, 0, 0)
    assert pe.icons(image) == pe.icon_file(SOURCE_DIR / "tests/support/branding/vendor.ico")
    # Branding replaces the icon and the details only: the launcher's own resources stay.
    strings = image.string_table()
    # The vendor's download page, for the console build's text.
    assert strings.pop(305) == "https://downloads.example.com/ledger/java?os=windows&arch=x64"
    assert strings == string_table_source()
    dialogs = image.resources()[pe.RT_DIALOG]
    assert sorted(dialogs) == [201, 231], sorted(dialogs)
    # The vendor's download page replaces the build's everywhere in the file.
    for encoding in ("utf-16-le", "ascii"):
        assert configured_download_link().encode(encoding) not in image.data, encoding


def cache_values(folder):
    text = (folder / "CMakeCache.txt").read_text()
    return {name: value for name, value in re.findall(r"^(QN_[A-Z_]+):[A-Z]+=(.*)$", text, re.M)}


def check_build_follows_its_cache(folder):
    """Whatever the build was configured with, default or not, is what the executable carries."""
    image, info = read(folder / "qnlauncher.exe")
    cache = cache_values(folder)
    # Empty options stand for the launcher's own details.
    project_version = re.search(r"project\(qnlauncher VERSION ([0-9.]+)",
                                (SOURCE_DIR / "CMakeLists.txt").read_text()).group(1)
    file_version = cache["QN_FILE_VERSION"] or project_version
    product_version = cache["QN_PRODUCT_VERSION"] or file_version
    original = cache["QN_ORIGINAL_FILENAME"]
    assert info["strings"]["040904B0"] == {
        "ProductName": cache["QN_PRODUCT_NAME"],
        "FileDescription": cache["QN_FILE_DESCRIPTION"] or cache["QN_PRODUCT_NAME"],
        "CompanyName": cache["QN_COMPANY_NAME"],
        "FileVersion": file_version,
        "ProductVersion": product_version,
        "LegalCopyright": cache["QN_COPYRIGHT"],
        "OriginalFilename": original,
        "InternalName": original.rsplit(".", 1)[0],
    }

    def numbers(text):
        parts = [int(part) for part in text.split(".")]
        return tuple(parts + [0] * (4 - len(parts)))

    assert info["fixed"]["file_version"] == numbers(file_version)
    assert info["fixed"]["product_version"] == numbers(product_version)
    assert pe.icons(image) == pe.icon_file(SOURCE_DIR / cache["QN_ICON"])
    # The link of the missing-runtime dialog (201) opens the configured page.
    template = pe.dialog_template(next(iter(image.resources()[pe.RT_DIALOG][201].values())))
    assert next(c["text"] for c in template["controls"] if c["id"] == 205) == cache["QN_DOWNLOAD_URL"]


def test_win64_build_carries_its_configured_details():
    check_build_follows_its_cache(WIN64_DIR)


def test_win32_build_carries_its_configured_details():
    check_build_follows_its_cache(WIN32_DIR)


def test_version_texts_are_checked_when_the_build_is_configured():
    cmake = shutil.which("cmake")
    require(cmake, "cmake")
    folder = tempfile.TemporaryDirectory()
    script = Path(folder.name) / "version-check.cmake"
    script.write_text(f'include("{SOURCE_DIR}/cmake/branding.cmake")\n'
                      '_qn_version_numbers("${TEXT}" QN_FILE_VERSION numbers)\n'
                      'message(STATUS "numbers=${numbers}")\n')
    cases = [  # (text, numbers or None for a refused text)
        ("3", "3,0,0,0"), ("2.07", "2,7,0,0"), ("1.2.3", "1,2,3,0"), ("65535.0.0.1", "65535,0,0,1"),
        ("65536", None), ("1.2.3.4.5", None), ("", None), ("v1.0", None), ("1..2", None),
        ("1.2-beta", None), ("123456", None), (" 1.0", None),
    ]
    for text, expected in cases:
        done = subprocess.run([cmake, f"-DTEXT={text}", "-P", str(script)], capture_output=True,
                              text=True, timeout=60)
        output = done.stdout + done.stderr
        if expected is None:
            assert done.returncode != 0 and "QN_FILE_VERSION" in output, (text, output)
        else:
            assert done.returncode == 0 and f"numbers={expected}" in output, (text, output)


def test_download_links_are_checked_when_the_build_is_configured():
    with tempfile.TemporaryDirectory() as folder:
        # What the module writes lands in the folder's "generated".
        script = Path(folder) / "check.cmake"
        script.write_text(f'include("{SOURCE_DIR}/cmake/download_link.cmake")\n'
                          'qn_check_download_url("${TEXT}" QN_DOWNLOAD_URL)\n')
        for text, taken in [("https://example.com/", True), ("http://example.com/java?os=win&v=17#top", True),
                            ("", False), ("ftp://example.com/", False), ("https://example.com/a b", False),
                            ('https://example.com/"x"', False), ("https://example.com\\x", False),
                            ("https://example.com/é", False)]:
            done = subprocess.run([shutil.which("cmake"), f"-DTEXT={text}", "-P", str(script)], cwd=folder,
                                  capture_output=True, text=True, timeout=60)
            output = done.stdout + done.stderr
            assert (done.returncode == 0) if taken else (done.returncode != 0 and "QN_DOWNLOAD_URL" in output), text


def resource_inputs(folder, target_object):
    """The files ninja rebuilds the resource object for, as absolute paths."""
    ninja = shutil.which("ninja")
    require(ninja, "ninja")
    require((folder / "build.ninja").exists(), f"{folder}/build.ninja (cmake --preset {folder.name})")
    out = subprocess.run([ninja, "-C", str(folder), "-t", "query", target_object], capture_output=True,
                         text=True, timeout=60, check=True).stdout
    lines = out.splitlines()
    start = next(i for i, line in enumerate(lines) if line.startswith("  input:")) + 1
    inputs = lines[start:lines.index("  outputs:")]
    return {(folder / line.strip().lstrip("|").strip()).resolve() for line in inputs}


def test_every_file_the_resources_include_rebuilds_them():
    # The resource compiler leaves no dependency file: a changed message must still reach the exe.
    script = (SOURCE_DIR / "res" / "launcher.rc").read_text()
    named = set(re.findall(r'#include "([^"]+)"', script)) | set(re.findall(r'"([\w.]+\.(?:ico|manifest))"', script))
    included = {SOURCE_DIR / "res" / name for name in named if (SOURCE_DIR / "res" / name).exists()}
    for name in ("string_table.inc", "resource_ids.h", "launcher.manifest"):
        assert SOURCE_DIR / "res" / name in included, (name, sorted(named))
    for folder in (WIN64_DIR, WIN32_DIR):
        inputs = resource_inputs(folder, "CMakeFiles/qnlauncher.dir/res/launcher.rc.res")
        missing = sorted(str(path) for path in included if path.resolve() not in inputs)
        assert not missing, (folder.name, missing)
