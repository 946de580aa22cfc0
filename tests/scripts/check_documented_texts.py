#!/usr/bin/env python3
"""Fails when a page of the documentation quotes one of the launcher's texts other than the
string table holds it.

Two forms are checked: the error table of docs/windows.md ("| when | id | text |", every error the
launcher reports must have its row), and any quotation followed by its id, "..." (text 260), in the
README and docs/. A placeholder is written in italics: *code* stands for a number (%d), any other
word for a text (%s); <br> is a line break. Usage: check_documented_texts.py [source root]
"""
import re
import sys

from check_layout import run

# The texts of a failure that ends a start, each shown in an error box.
ERROR_TEXTS = {202, 203, 209, 210, 211, 215, 216, 222, 260, 261, 262}

ENTRY = re.compile(r'^QN_STRING\((\d+), "((?:[^"\\]|\\.)*)"\)', re.MULTILINE)
ESCAPES = {"n": "\n", "t": "\t", '"': '"', "\\": "\\"}
PLACEHOLDER = re.compile(r"\*([a-z ]+)\*")
QUOTED_WITH_ID = re.compile(r'"([^"]+)"\s*\(text (\d+)\)')
ERROR_HEADER = "| when | id | text |"


def string_table(root):
    source = (root / "res" / "string_table.inc").read_text(encoding="utf-8")
    return {int(number): re.sub(r"\\(.)", lambda m: ESCAPES[m.group(1)], text)
            for number, text in ENTRY.findall(source)}


def as_template(documented):
    """The documented form of a text in the string table's: placeholders as %d and %s."""
    text = documented.replace("<br>", "\n")
    return PLACEHOLDER.sub(lambda m: "%d" if m.group(1) == "code" else "%s", text)


def same(documented, table_text):
    # A text that ends a message box with a line break shows no sign of it.
    return as_template(documented).rstrip("\n") == table_text.rstrip("\n")


def error_rows(page):
    """{id: text} of the error table, or None when the page has no such table."""
    lines = page.splitlines()
    if ERROR_HEADER not in lines:
        return None
    rows = {}
    for line in lines[lines.index(ERROR_HEADER) + 2:]:
        if not line.startswith("|"):
            break
        cells = [cell.strip() for cell in line.strip("|").split("|")]
        rows.setdefault(int(cells[1]), []).append(cells[2])
    return rows


def problems(root):
    table = string_table(root)
    found = []
    rows = error_rows((root / "docs" / "windows.md").read_text(encoding="utf-8"))
    if rows is None:
        return [f"docs/windows.md: no error table ({ERROR_HEADER})"]
    for number in sorted(ERROR_TEXTS - set(rows)):
        found.append(f"docs/windows.md: error table without text {number}: {table[number]!r}")
    for number, texts in sorted(rows.items()):
        for text in texts:
            if number not in table:
                found.append(f"docs/windows.md: error table names text {number}, which does not exist")
            elif not same(text, table[number]):
                found.append(f"docs/windows.md: text {number} is {table[number]!r}, the page says {text!r}")
    for page in [root / "README.md"] + sorted((root / "docs").glob("*.md")):
        content = " ".join(page.read_text(encoding="utf-8").split())  # quotations may wrap
        for text, number in QUOTED_WITH_ID.findall(content):
            number = int(number)
            if number not in table or not same(text, table[number]):
                found.append(f"{page.relative_to(root)}: text {number} is {table.get(number)!r}, "
                             f"the page says {text!r}")
    return found


if __name__ == "__main__":
    sys.exit(run(problems, "documented texts: {} problems"))
