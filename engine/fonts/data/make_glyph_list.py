#!/usr/bin/env python3
"""Writes glyph-list.tsv (and glyph-list.LICENSE) from the Adobe Glyph List.

A one-off tool: the build reads the TSV it writes and never runs this script. The list is taken
from fontTools' agl.py (Debian: python3-fonttools), which carries the list text with Adobe's
licence; the module is read as text, not imported, so any Python 3 will do.

    python3 make_glyph_list.py [path/to/fontTools/agl.py]

Output: a header line `name<TAB>unicode`, then one row per glyph name in byte order of the name;
the unicode column holds upper-case hexadecimal code points separated by single spaces.
"""

import os
import re
import sys

DEFAULT_SOURCE = "/usr/lib/python3/dist-packages/fontTools/agl.py"
HERE = os.path.dirname(os.path.abspath(__file__))


def agl_text(source):
    with open(source, encoding="utf-8") as f:
        module = f.read()
    match = re.search(r'_aglText = """\\\n(.*?)"""', module, re.S)
    if not match:
        sys.exit("no _aglText block in " + source)
    return match.group(1)


def licence(text):
    """The comment block up to and including the closing rule after the disclaimer."""
    lines = []
    for line in text.splitlines():
        if not line.startswith("#"):
            break
        lines.append(line[1:].strip() if line.strip() != "#" else "")
        if line.startswith("# ---") and len(lines) > 1:
            break
    body = [l for l in lines if not l.startswith("---")]
    while body and not body[0]:
        body.pop(0)
    return "\n".join(body).rstrip() + "\n"


def rows(text):
    table = {}
    for line in text.splitlines():
        if not line or line.startswith("#"):
            continue
        name, values = line.split(";")
        if not re.fullmatch(r"[A-Za-z0-9]+", name):
            sys.exit("unexpected glyph name: " + name)
        codes = values.split()
        if not codes or not all(re.fullmatch(r"[0-9A-F]{4,6}", c) for c in codes):
            sys.exit("unexpected value for %s: %s" % (name, values))
        if name in table:
            sys.exit("duplicate glyph name: " + name)
        table[name] = " ".join(codes)
    return sorted(table.items(), key=lambda row: row[0].encode("ascii"))


def main():
    source = sys.argv[1] if len(sys.argv) > 1 else DEFAULT_SOURCE
    text = agl_text(source)
    table = rows(text)
    with open(os.path.join(HERE, "glyph-list.tsv"), "w", encoding="ascii", newline="\n") as f:
        f.write("name\tunicode\n")
        for name, codes in table:
            f.write("%s\t%s\n" % (name, codes))
    with open(os.path.join(HERE, "glyph-list.LICENSE"), "w", encoding="ascii", newline="\n") as f:
        f.write("glyph-list.tsv is derived from the Adobe Glyph List, version 2.0 (as shipped in Debian's\n")
        f.write("python3-fonttools), under this licence:\n\n")
        f.write(licence(text))
    print("%d glyph names" % len(table))


if __name__ == "__main__":
    main()
