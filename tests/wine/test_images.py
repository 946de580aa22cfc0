"""The Windows executables as files: image kind, imports and resources (no wine needed)."""

import re

import pe
from harness import WIN32_DIR, WIN64_DIR, configured_download_link, require, string_table_source

NEEDS_WINE = False

# DLLs every Windows has; anything else would have to be shipped beside the launcher.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll",
               "comctl32.dll", "ole32.dll", "oleaut32.dll", "msvcrt.dll", "shlwapi.dll",
               "comdlg32.dll", "version.dll"}

WS_POPUP, WS_CHILD, WS_VISIBLE = 0x80000000, 0x40000000, 0x10000000
WS_CAPTION, WS_BORDER, WS_SYSMENU, WS_THICKFRAME = 0xC00000, 0x800000, 0x80000, 0x40000
WS_VSCROLL, WS_HSCROLL, WS_GROUP, WS_TABSTOP = 0x200000, 0x100000, 0x20000, 0x10000
DS_SETFONT, DS_MODALFRAME = 0x40, 0x80
ES_MULTILINE, ES_AUTOHSCROLL, ES_READONLY = 0x4, 0x80, 0x800
BUTTON, EDIT, STATIC = 0x80, 0x81, 0x82
BS_PUSHBUTTON, BS_DEFPUSHBUTTON, BS_GROUPBOX = 0, 1, 7
SS_LEFT, SS_ICON = 0, 3

# (id, class, kind in the low style bits, text, x, y, width, height, style bits that must be set)
MISSING_RUNTIME_CONTROLS = [
    (1, BUTTON, BS_DEFPUSHBUTTON, "OK", 107, 122, 50, 14, WS_TABSTOP),
    (2, BUTTON, BS_PUSHBUTTON, "Cancel", 161, 122, 50, 14, WS_TABSTOP),
    (201, EDIT, None, "", 60, 89, 94, 14, ES_READONLY | WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP),
    (-1, STATIC, SS_LEFT, "JRE Path:", 12, 92, 45, 8, WS_GROUP),
    (202, BUTTON, BS_PUSHBUTTON, "Browse...", 157, 89, 50, 14, WS_TABSTOP),
    (-1, BUTTON, BS_GROUPBOX, "Missing JRE", 8, 11, 203, 103, 0),
    (203, STATIC, SS_LEFT, "", 44, 24, 147, 25, WS_GROUP),
    (205, STATIC, SS_LEFT, None, 44, 55, 75, 8, WS_GROUP),
    (204, STATIC, SS_ICON, "", 16, 26, 21, 20, 0),
    (206, STATIC, SS_LEFT, "If you have a JRE installed you can browse for it below:",
     12, 73, 195, 8, WS_GROUP),
]

UNCAUGHT_EXCEPTION_CONTROLS = [
    (1, BUTTON, BS_DEFPUSHBUTTON, "Ignore", 153, 210, 50, 14, WS_TABSTOP),
    (2, BUTTON, BS_PUSHBUTTON, "Stop", 209, 210, 50, 14, WS_TABSTOP),
    (209, BUTTON, BS_GROUPBOX, "Uncaught Exception", 8, 11, 259, 221, 0),
    (204, STATIC, SS_ICON, "", 16, 26, 21, 20, 0),
    (208, EDIT, None, "", 16, 54, 243, 102,
     ES_MULTILINE | WS_BORDER | WS_VSCROLL | WS_HSCROLL | WS_TABSTOP),
    (210, STATIC, SS_LEFT, "The java process has thrown the following uncaught exception:",
     44, 26, 215, 23, 0),
    (211, STATIC, SS_LEFT, "Press Ignore to continue and ignore the exception or press Stop to "
     "close the application.", 16, 164, 243, 18, 0),
    (212, STATIC, SS_LEFT, "WARNING: If you choose to Stop the application any unsaved data "
     "will be lost.", 16, 187, 243, 18, 0),
]


def image(folder, name="qnlauncher.exe"):
    path = folder / name
    require(path.exists(), f"{path} (cmake --build --preset {folder.name})")
    return pe.Image(path)


def check_image_kind(path_folder, machine, plus):
    for name, subsystem in [("qnlauncher.exe", pe.SUBSYSTEM_GUI), ("qnlauncher-console.exe", pe.SUBSYSTEM_CONSOLE)]:
        img = image(path_folder, name)
        assert img.machine == machine, (name, hex(img.machine))
        assert img.is_pe32_plus == plus, (name, hex(img.magic))
        assert img.subsystem == subsystem, (name, img.subsystem)
        foreign = [dll for dll in img.imported_dlls() if dll.lower() not in SYSTEM_DLLS]
        assert not foreign, f"{name}: DLLs that would have to ship: {foreign}"
        # Shipped without debug information or symbols: they are beside it, in the file it names.
        assert img.symbol_table[1] == 0 and not [s for s, *_ in img.sections if s.startswith(".debug")], name
        link = next(img.data[raw:raw + size] for s, _, size, raw in img.sections if s == ".gnu_debuglink")
        assert link[:link.index(b"\0")].decode() == name + ".debug", link
        debug_sections = [s for s, *_ in pe.Image(path_folder / (name + ".debug")).sections]
        assert ".debug_info" in debug_sections and ".debug_line" in debug_sections, debug_sections


def test_win64_images_are_static_pe32_plus_gui_and_console():
    check_image_kind(WIN64_DIR, pe.MACHINE_AMD64, True)


def test_win32_images_are_static_pe32_gui_and_console():
    check_image_kind(WIN32_DIR, pe.MACHINE_I386, False)


def only_language(resources, kind, name):
    assert name in resources.get(kind, {}), f"resource {kind}/{name} missing"
    languages = resources[kind][name]
    assert len(languages) == 1, languages
    return next(iter(languages.values()))


def check_resources(folder):
    img = image(folder)
    resources = img.resources()
    strings = img.string_table()
    assert strings.pop(305) == configured_download_link(folder)  # for the console build's text
    assert strings == string_table_source()

    group = only_language(resources, pe.RT_GROUP_ICON, 1)
    reserved, kind, count = (int.from_bytes(group[i:i + 2], "little") for i in (0, 2, 4))
    assert (reserved, kind) == (0, 1) and count >= 2, (reserved, kind, count)
    assert len(resources.get(pe.RT_ICON, {})) == count

    manifest = only_language(resources, pe.RT_MANIFEST, 1).decode("utf-8")
    assert re.search(r'name="Microsoft\.Windows\.Common-Controls"\s+version="6\.0\.0\.0"', manifest)
    assert 'level="asInvoker"' in manifest
    assert "supportedOS" in manifest
    # The launcher's texts are in the ANSI code page; a UTF-8 code page would change them.
    assert "activeCodePage" not in manifest
    # Laid out for each monitor's DPI, never stretched by the system.
    assert re.search(r"<dpiAwareness [^>]*>PerMonitorV2, PerMonitor</dpiAwareness>", manifest), manifest
    assert re.search(r"<dpiAware [^>]*>true/pm</dpiAware>", manifest), manifest

    check_dialog(pe.dialog_template(only_language(resources, pe.RT_DIALOG, 201)),
                 "JRE Not Found", (0, 0, 219, 145),
                 DS_SETFONT | DS_MODALFRAME | WS_CAPTION | WS_SYSMENU, WS_THICKFRAME,
                 MISSING_RUNTIME_CONTROLS)
    check_dialog(pe.dialog_template(only_language(resources, pe.RT_DIALOG, 231)),
                 "Java Exception", (0, 0, 275, 242),
                 DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME,
                 0, UNCAUGHT_EXCEPTION_CONTROLS)


def check_dialog(dialog, caption, rect, style, forbidden, controls):
    assert dialog["caption"] == caption
    assert dialog["rect"] == rect
    assert dialog["font"] == (8, "MS Shell Dlg")
    assert dialog["style"] & style == style, hex(dialog["style"])
    assert dialog["style"] & forbidden == 0, hex(dialog["style"])
    assert len(dialog["controls"]) == len(controls)
    for actual, expected in zip(dialog["controls"], controls):
        control_id, window_class, kind, text, x, y, cx, cy, bits = expected
        where = f"{caption} control {control_id}: {actual}"
        assert actual["id"] == control_id, where
        assert actual["class"] == window_class, where
        if kind is not None:
            assert actual["style"] & 0xF == kind, where
        if text is not None:
            assert actual["text"] == text, where
        assert actual["rect"] == (x, y, cx, cy), where
        assert actual["style"] & (WS_CHILD | WS_VISIBLE | bits) == WS_CHILD | WS_VISIBLE | bits, where
    group = [c for c in dialog["controls"] if c["id"] == 209]
    if group:
        assert group[0]["ex_style"] & 0x20, group  # WS_EX_TRANSPARENT
    link = [c for c in dialog["controls"] if c["id"] == 205]
    if link:
        assert re.fullmatch(r"https://[a-z0-9.-]+/[^ ]*", link[0]["text"]), link[0]["text"]


def test_win64_resources():
    check_resources(WIN64_DIR)


def test_win32_resources():
    check_resources(WIN32_DIR)
