#!/usr/bin/env python3
"""Fails when a file of src/ includes a header its folder may not use, when src/platform holds
anything but the seam's headers and the two backends, or when a source file grows past 600 lines.

The table is the layering of docs/architecture.md: the seam and its backends (src/platform) use
only the small portable modules beneath the core, never the core; those modules use nothing above
the seam; the core never reaches into a backend. Usage: check_layout.py [source root]
"""
import pathlib
import re
import sys

# folder of src/ -> the folders (and the repository's res/) its files may include.
BENEATH_CORE = {"platform", "text", "trace", "paths", "res"}
ALLOWED = {
    "platform": BENEATH_CORE,
    "text": {"text", "platform"},  # character stepping comes from the seam
    "paths": {"paths", "text"},
    "trace": {"trace", "text", "platform"},
}
CORE = {"launcher", "runtime", "vm", "instance", "splash"}
BACKENDS = ("platform/win32/", "platform/posix/")
# The entry points pick the backend: the only core files that may name one.
ENTRY_POINT = re.compile(r"launcher/entry_[a-z0-9]+\.cpp$")

LONGEST = 600  # lines; a longer file is split along its own sections

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def faults(root: pathlib.Path):
    src = root / "src"
    for path in sorted(src.rglob("*")):
        if path.suffix not in {".h", ".cpp", ".inc"}:
            continue
        relative = path.relative_to(src).as_posix()
        folder = relative.split("/", 1)[0]
        if folder not in ALLOWED and folder not in CORE:
            yield f"src/{relative}: folder {folder}/ is not in the layer table"
            continue
        if folder == "platform" and path.parent == src / "platform" and path.suffix != ".h":
            yield f"src/{relative}: only the seam's headers live beside the backends"
        text = path.read_text(encoding="utf-8")
        if text.count("\n") > LONGEST:
            yield f"src/{relative}: {text.count(chr(10))} lines, more than {LONGEST}"
        for included in INCLUDE.findall(text):
            if "/" not in included:
                continue  # a header of the same folder, or a system header in quotes
            top = included.split("/", 1)[0]
            if folder in ALLOWED and top not in ALLOWED[folder]:
                yield f"src/{relative}: includes {included}, a layer above {folder}/"
            elif folder in CORE and included.startswith(BACKENDS) and not ENTRY_POINT.search(relative):
                yield f"src/{relative}: includes {included}, a backend's own header"


def run(find, summary):
    """Prints what `find` finds in the source root (the argument, else this checkout), then
    `summary` with their count; the exit status is 1 when it found anything."""
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).parents[2]).resolve()
    found = list(find(root))
    for fault in found:
        print(fault)
    print(summary.format(len(found)))
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(run(faults, "check_layout: {} fault(s) in the layering and file sizes"))
