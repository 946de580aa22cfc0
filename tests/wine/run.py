#!/usr/bin/env python3
"""Runs one wine test, or sets up / ends the suite's wine session (ctest calls this).

  run.py MODULE FUNCTION    run FUNCTION of tests/wine/MODULE.py; exit 0 passed, 1 failed, 77 skipped
  run.py --setup            make the prefix, start Xvfb and a persistent wineserver
  run.py --cleanup          stop them
"""

import importlib
import sys
import time
import traceback
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import harness  # noqa: E402

SKIPPED = 77


def main(argv):
    try:
        if argv == ["--setup"]:
            started = time.monotonic()
            display = harness.start_session()
            print(f"wine session on {display}, prefix {harness.PREFIX} "
                  f"({time.monotonic() - started:.1f} s)")
            return 0
        if argv == ["--cleanup"]:
            harness.stop_session()
            return 0
        if len(argv) != 2:
            print(__doc__, file=sys.stderr)
            return 2
        module = importlib.import_module(argv[0])
        getattr(module, argv[1])()
        print(f"{argv[0]}.{argv[1]}: passed")
        return 0
    except harness.Skip as skip:
        print(f"skipped: {skip} is missing", file=sys.stderr)
        return SKIPPED
    except Exception:
        traceback.print_exc()
        return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
