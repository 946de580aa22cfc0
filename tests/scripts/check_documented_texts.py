#!/usr/bin/env python3
"""Fails when the documentation quotes a text of the launcher other than the string table holds it: in
the error table of docs/windows.md, which has a row for every error that ends a start, and wherever
the README and docs/ quote "..." (text 260). *code* stands for %d, other italics for %s, <br> for \n."""
import re
import sys

from check_layout import run

ERROR_TEXTS = {202, 203, 209, 210, 211, 215, 216, 222, 260, 261, 262}


def problems(root):
    source = (root / "res" / "string_table.inc").read_text(encoding="utf-8")
    escapes = {"n": "\n", "t": "\t", '"': '"', "\\": "\\"}
    table = {int(n): re.sub(r"\\(.)", lambda m: escapes[m.group(1)], text)
             for n, text in re.findall(r'^QN_STRING\((\d+), "((?:[^"\\]|\\.)*)"\)', source, re.MULTILINE)}
    lines = (root / "docs" / "windows.md").read_text(encoding="utf-8").splitlines()
    rows = []
    for line in lines[lines.index("| when | id | text |") + 2:]:
        if not line.startswith("|"):
            break
        cells = [cell.strip() for cell in line.strip("|").split("|")]
        rows.append(("docs/windows.md", int(cells[1]), cells[2]))
    found = [f"docs/windows.md: error table without text {n}: {table[n]!r}"
             for n in sorted(ERROR_TEXTS - {n for _, n, _ in rows})]
    for page in [root / "README.md"] + sorted((root / "docs").glob("*.md")):
        content = " ".join(page.read_text(encoding="utf-8").split())  # quotations may wrap
        quoted = re.findall(r'"([^"]+)"\s*\(text (\d+)\)', content)
        rows += [(page.relative_to(root), int(n), text) for text, n in quoted]
    for page, n, text in rows:
        template = re.sub(r"\*([a-z ]+)\*", lambda m: "%d" if m.group(1) == "code" else "%s",
                          text.replace("<br>", "\n"))
        # A line break that ends a message box shows no sign of it.
        if n not in table or template.rstrip("\n") != table[n].rstrip("\n"):
            found.append(f"{page}: text {n} is {table.get(n)!r}, the page says {text!r}")
    return found


if __name__ == "__main__":
    sys.exit(run(problems, "documented texts: {} problems"))
