#!/usr/bin/python3
"""Scores text extractors against ground truth, or ours against pdftotext over a folder.

    bench/truth/score.py [--bin build/bin/tolvane-text] [--tools a,b] [--show] TRUTH_DIR
    bench/truth/score.py --corpus [--bin ...] [--tools a,b] [--below 0.9] CORPUS_DIR

Truth mode: for every NAME.pdf with a NAME.txt beside it, runs each extractor and prints, per
file, the word-bag F1 and the order score of every extractor side by side, then the means and
the files each extractor reads below 0.9 F1. --show prints the words ours misses or adds.

Corpus mode: for every PDF of the folder, word-bag F1 against pdftotext's words of ours
(reading layout; --tools names others, the first is listed), the median and mean, the counts
below --below and 0.5 and of files with no words where pdftotext has some, and the files below
--below.

Words: the text is put in NFKC (which writes the ligatures U+FB00-U+FB06 as their letters and
the Arabic presentation forms as plain letters), soft hyphens, zero-width characters and
direction marks are removed, and it is split at white space. Each Han, kana or CJK punctuation
character is a word of its own (those scripts put no spaces between words, and where a line
breaks among them must not matter). Punctuation and symbols (Unicode categories P and S) are
then stripped from both ends of each word ("(fiscal)," gives "fiscal", "+3.2%" gives "3.2", a
bullet gives nothing) and words left empty are dropped; case is kept.

Word bag: the words as a multiset; precision = shared / extracted, recall = shared / truth, F1
their harmonic mean. Order: the longest common subsequence of the two word sequences over the
truth's word count (1.0: every true word present in the reader's order)."""

import argparse
import collections
import os
import statistics
import subprocess
import sys
import unicodedata

TIMEOUT = 120

DROP = dict.fromkeys(map(ord, "\u00ad\u200b\u200c\u200d\u200e\u200f\u2060\ufeff"
                              "\u202a\u202b\u202c\u202d\u202e\u2066\u2067\u2068\u2069"), None)


def is_cjk_char(c):
    o = ord(c)
    return (0x3000 <= o <= 0x30FF or 0x3400 <= o <= 0x4DBF or 0x4E00 <= o <= 0x9FFF
            or 0xF900 <= o <= 0xFAFF or 0xFF00 <= o <= 0xFF0F or 0x20000 <= o <= 0x2FFFF)


def strip_edges(w):
    a, b = 0, len(w)
    while a < b and unicodedata.category(w[a])[0] in "PS":
        a += 1
    while b > a and unicodedata.category(w[b - 1])[0] in "PS":
        b -= 1
    return w[a:b]


def words(text):
    text = unicodedata.normalize("NFKC", text).translate(DROP)
    out = []
    for tok in text.split():
        if any(is_cjk_char(c) for c in tok):
            cur = ""
            for c in tok:
                if is_cjk_char(c):
                    if cur:
                        out.append(cur)
                        cur = ""
                    out.append(c)
                else:
                    cur += c
            if cur:
                out.append(cur)
        else:
            out.append(tok)
    return [w for w in (strip_edges(t) for t in out) if w]


def bag_scores(truth, got):
    t, g = collections.Counter(truth), collections.Counter(got)
    shared = sum((t & g).values())
    p = shared / len(got) if got else (1.0 if not truth else 0.0)
    r = shared / len(truth) if truth else 1.0
    f = 2 * p * r / (p + r) if p + r else 0.0
    return p, r, f


def lcs_length(a, b):
    """Length of the longest common subsequence, bit-parallel over A (Hyyro's formulation)."""
    if not a or not b:
        return 0
    masks = {}
    for i, w in enumerate(a):
        masks[w] = masks.get(w, 0) | (1 << i)
    full = (1 << len(a)) - 1
    v = full
    for w in b:
        m = masks.get(w)
        if m is None:
            continue
        u = v & m
        v = ((v + u) | (v - u)) & full
    return len(a) - bin(v).count("1")


def order_score(truth, got):
    return lcs_length(truth, got) / len(truth) if truth else 1.0


def tools(ours):
    return {
        "reading": [ours, "text"],
        "smart": [ours, "text", "--layout", "smart"],
        "pdftotext": ["pdftotext", "-enc", "UTF-8"],
        "pdftotext-layout": ["pdftotext", "-layout", "-enc", "UTF-8"],
        "mutool": ["mutool", "draw", "-q", "-F", "txt", "-o", "-"],
        "pdf2txt": ["pdf2txt"],
    }


def extract(cmd, pdf):
    args = cmd + [pdf]
    if cmd[0] == "pdftotext":
        args = cmd + [pdf, "-"]
    try:
        r = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                           timeout=TIMEOUT)
    except (subprocess.TimeoutExpired, FileNotFoundError):
        return None
    return r.stdout.decode("utf-8", "replace")


def truth_mode(a):
    all_tools = tools(a.bin)
    names = [n for n in (a.tools.split(",") if a.tools else all_tools) if n in all_tools]
    files = sorted(f[:-4] for f in os.listdir(a.dir)
                   if f.endswith(".pdf") and os.path.exists(os.path.join(a.dir, f[:-4] + ".txt")))
    scores = {n: [] for n in names}
    width = max([len(f) for f in files] + [4])
    print("F1 / order per file")
    print(f"{'file':<{width}}  " + "  ".join(f"{n:>16}" for n in names))
    for f in files:
        with open(os.path.join(a.dir, f + ".txt"), encoding="utf-8") as fh:
            truth = words(fh.read())
        cells = []
        for n in names:
            text = extract(all_tools[n], os.path.join(a.dir, f + ".pdf"))
            got = words(text) if text is not None else []
            p, r, f1 = bag_scores(truth, got)
            o = order_score(truth, got)
            scores[n].append((f, f1, o))
            cells.append(f"{f1:7.3f} / {o:6.3f}" + ("!" if text is None else " "))
            if a.show and n == "reading":
                t, g = collections.Counter(truth), collections.Counter(got)
                missing, extra = list((t - g).elements()), list((g - t).elements())
                if missing or extra:
                    print(f"  {f}: missing {missing[:30]} extra {extra[:30]}", file=sys.stderr)
        print(f"{f:<{width}}  " + "  ".join(f"{c:>16}" for c in cells))
    print(f"{'mean':<{width}}  " + "  ".join(
        f"{statistics.mean(s[1] for s in scores[n]):7.3f} / {statistics.mean(s[2] for s in scores[n]):6.3f} "
        for n in names))
    print()
    for n in names:
        low = [f"{f} ({f1:.3f})" for f, f1, _ in scores[n] if f1 < 0.9]
        print(f"{n}: {len(low)} below 0.9 F1" + (": " + ", ".join(low) if low else ""))


def corpus_mode(a):
    all_tools = tools(a.bin)
    names = [n for n in (a.tools.split(",") if a.tools else ["reading"]) if n in all_tools]
    files = sorted(f for f in os.listdir(a.dir) if f.lower().endswith(".pdf"))
    rows = []  # (file, reference word count, [(f1, word count) per tool])
    print("F1 against pdftotext per file; pdftotext's word count, then each tool's")
    print("  ".join(f"{n:>16}" for n in names) + f"  {'pdftotext':>9}  file")
    for f in files:
        path = os.path.join(a.dir, f)
        ref = words(extract(all_tools["pdftotext"], path) or "")
        cells = []
        for n in names:
            got = words(extract(all_tools[n], path) or "")
            cells.append((1.0 if not ref and not got else bag_scores(ref, got)[2], len(got)))
        rows.append((f, len(ref), cells))
        print("  ".join(f"{f1:7.3f} {c:8d}" for f1, c in cells) + f"  {len(ref):9d}  {f}",
              flush=True)
    print(f"\nfiles {len(rows)}")
    for i, n in enumerate(names):
        f1s = [r[2][i][0] for r in rows]
        empty = sum(1 for r in rows if r[1] and not r[2][i][1])
        print(f"{n:>16}: median F1 {statistics.median(f1s):.4f}  mean {statistics.mean(f1s):.4f}  "
              f"below {a.below}: {sum(1 for x in f1s if x < a.below)}  below 0.5: "
              f"{sum(1 for x in f1s if x < 0.5)}  no words where pdftotext has some: {empty}")
    print(f"pdftotext gives no words on {sum(1 for r in rows if not r[1])} files")
    low = [r for r in rows if r[2][0][0] < a.below]
    print(f"\n{names[0]}: {len(low)} below {a.below} (F1, pdftotext words, its words):")
    for f, nr, cells in sorted(low, key=lambda r: r[2][0][0]):
        print(f"  {cells[0][0]:6.3f}  {nr:7d} {cells[0][1]:7d}  {f}")


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("dir")
    ap.add_argument("--bin", default="build/bin/tolvane-text")
    ap.add_argument("--tools", default="")
    ap.add_argument("--corpus", action="store_true")
    ap.add_argument("--below", type=float, default=0.9)
    ap.add_argument("--show", action="store_true")
    a = ap.parse_args()
    a.bin = os.path.abspath(a.bin)
    (corpus_mode if a.corpus else truth_mode)(a)


if __name__ == "__main__":
    main()
