#!/usr/bin/env python3
"""Fails when a file of src/ includes a header of a layer above its folder (docs/architecture.md), when
src/platform holds more than the seam's headers and the two backends, or a source file passes 600 lines."""
import pathlib
import re
import sys

# folder of src/ beneath the core -> the folders (and the repository's res/) its files may include.
ALLOWED = {"platform": {"platform", "text", "trace", "paths", "res"}, "text": {"text", "platform"},
           "paths": {"paths", "text"}, "trace": {"trace", "text", "platform"}}
CORE = {"launcher", "runtime", "vm", "instance", "splash"}
BACKENDS = ("platform/win32/", "platform/posix/")
# The entry points pick the backend: the only core files that may name one.
ENTRY_POINT = re.compile(r"launcher/entry_[a-z0-9]+\.cpp$")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+/[^"]+)"', re.MULTILINE)


def faults(root):
    src = root / "src"
    for path in sorted(p for p in src.rglob("*") if p.suffix in {".h", ".cpp", ".inc"}):
        relative = path.relative_to(src).as_posix()
        folder = relative.split("/", 1)[0]
        if folder not in ALLOWED and folder not in CORE:
            yield f"src/{relative}: folder {folder}/ is not in the layer table"
            continue
        if path.parent == src / "platform" and path.suffix != ".h":
            yield f"src/{relative}: only the seam's headers live beside the backends"
        text = path.read_text(encoding="utf-8")
        if text.count("\n") > 600:
            yield f"src/{relative}: {text.count(chr(10))} lines, more than 600"
        for included in INCLUDE.findall(text):
            if folder in ALLOWED and included.split("/", 1)[0] not in ALLOWED[folder]:
                yield f"src/{relative}: includes {included}, a layer above {folder}/"
            elif folder in CORE and included.startswith(BACKENDS) and not ENTRY_POINT.search(relative):
                yield f"src/{relative}: includes {included}, a backend's own header"


def run(find, summary):
    """Prints what `find` finds in the source root (the argument, else this checkout) and their count."""
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).parents[2]).resolve()
    found = list(find(root))
    print("\n".join(found + [summary.format(len(found))]))
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(run(faults, "check_layout: {} fault(s) in the layering and file sizes"))
