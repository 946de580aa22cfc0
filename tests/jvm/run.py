"""Runs one test function of this folder: run.py MODULE FUNCTION. Exit 0 passed, 1 failed, 77 skipped."""

import importlib
import sys
import traceback
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import jvm_harness  # noqa: E402


def main():
    module_name, function_name = sys.argv[1], sys.argv[2]
    try:
        getattr(importlib.import_module(module_name), function_name)()
    except jvm_harness.Skip as skip:
        print(f"skipped: {skip}")
        return 77
    except Exception:
        traceback.print_exc()
        return 1
    print("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
