#!/usr/bin/python3
"""korvel side by side with PyMuPDF and pypdf in one process, over the corpus speed files.

Pages per second for page.text("reading") against PyMuPDF's page.get_text("text"),
page.words() against page.get_text("words") and page.text("raw") against pypdf's
extract_text(); then how far page.words() agrees with PyMuPDF's words on the same pages: the
share of words with the same text and a box within a point, and the pages that differ most.

    PYTHONPATH=build/python bench/python_vs_pymupdf.py [--corpus DIR] [--repeat N]
"""

import argparse
import collections
import os
import sys
import time
import warnings

import korvel

HERE = os.path.dirname(os.path.abspath(__file__))


def speed_files(corpus):
    """The files tagged `speed` in the corpus MANIFEST.tsv, as bench/common.sh picks them."""
    files = []
    with open(os.path.join(corpus, "MANIFEST.tsv"), encoding="utf-8") as manifest:
        header = manifest.readline().rstrip("\n").split("\t")
        for line in manifest:
            row = dict(zip(header, line.rstrip("\n").split("\t")))
            if "speed" in row.get("tags", "").split(","):
                files.append((os.path.join(corpus, row["file"]), row.get("password") or None))
    return files


def timed(label, files, run, repeat):
    """Best of `repeat` passes over every page of every file: (pages, seconds)."""
    best = None
    pages = 0
    for _ in range(repeat):
        start = time.perf_counter()
        pages = sum(run(path, password) for path, password in files)
        elapsed = time.perf_counter() - start
        best = elapsed if best is None else min(best, elapsed)
    print("  %-34s %6d pages %8.2f s %9.1f pages/s" % (label, pages, best, pages / best),
          flush=True)
    return pages / best


def korvel_pass(method, *args):
    def run(path, password):
        with korvel.open(path, password=password) as document:
            for page in document:
                getattr(page, method)(*args)
            return len(document)
    return run


def fitz_pass(fitz, kind):
    def run(path, password):
        with fitz.open(path) as document:
            if password:
                document.authenticate(password)
            for page in document:
                page.get_text(kind)
            return len(document)
    return run


def pypdf_pass(pypdf):
    def run(path, password):
        reader = pypdf.PdfReader(path)
        if password and reader.is_encrypted:
            reader.decrypt(password)
        for page in reader.pages:
            page.extract_text()
        return len(reader.pages)
    return run


def report(name, counts):
    share = lambda key: 100 * counts[key] / max(counts["theirs"], 1)  # noqa: E731
    print("  %-44s PyMuPDF %7d ours %7d same text %5.1f%% same x %5.1f%% same box %5.1f%%" % (
        name[:44], counts["theirs"], counts["ours"], share("same text"), share("same x"),
        share("same box")), flush=True)


def agreement(fitz, files, tolerance):
    """Matches each of PyMuPDF's words with ours of the same text: whose left and right edges
    lie within `tolerance` points (same x), and one whose whole box does (same box)."""
    totals = collections.Counter()
    worst = []
    for path, password in files:
        counts = collections.Counter()
        with korvel.open(path, password=password) as ours, fitz.open(path) as theirs:
            if password:
                theirs.authenticate(password)
            for number in range(min(len(ours), len(theirs))):
                mine = collections.defaultdict(list)
                for word in ours[number].words():
                    mine[word[4]].append(word[:4])
                other = theirs[number].get_text("words")
                counts["theirs"] += len(other)
                counts["ours"] += sum(len(boxes) for boxes in mine.values())
                page_same = 0
                for x0, y0, x1, y1, text, *_ in other:
                    boxes = mine.get(text)
                    if not boxes:
                        continue
                    counts["same text"] += 1
                    if any(abs(box[0] - x0) <= tolerance and abs(box[2] - x1) <= tolerance
                           for box in boxes):
                        counts["same x"] += 1
                    for i, box in enumerate(boxes):
                        if all(abs(a - b) <= tolerance for a, b in zip(box, (x0, y0, x1, y1))):
                            counts["same box"] += 1
                            page_same += 1
                            del boxes[i]
                            break
                worst.append((page_same / max(len(other), 1), os.path.basename(path),
                              number, len(other)))
        totals.update(counts)
        report(os.path.basename(path), counts)
    report("all", totals)
    print("  pages agreeing least (share of PyMuPDF's words with a box within %g pt):"
          % tolerance)
    for share, name, number, count in sorted(w for w in worst if w[3] >= 20)[:8]:
        print("    %-30s page %3d (from 0) %5d words %5.1f%%" % (name, number, count,
                                                                 100 * share))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--corpus", default=os.environ.get("TOLVANE_CORPUS",
                                                           "/work/shared/corpus"))
    parser.add_argument("--repeat", type=int, default=3, help="passes; the best is shown")
    parser.add_argument("--tolerance", type=float, default=1.0, help="points, for boxes")
    args = parser.parse_args()
    files = [(path, password) for path, password in speed_files(args.corpus)
             if os.path.exists(path)]
    if not files:
        sys.exit("no speed files under %s" % args.corpus)
    import fitz  # Debian's python3-fitz
    import pypdf  # Debian's python3-pypdf
    warnings.filterwarnings("ignore")
    try:
        fitz.TOOLS.mupdf_display_errors(False)
    except AttributeError:
        pass
    print("%d speed files; korvel %s, PyMuPDF %s, pypdf %s; best of %d" % (
        len(files), korvel.__version__, fitz.VersionBind, pypdf.__version__, args.repeat))
    print("text:")
    ours = timed('korvel page.text("reading")', files, korvel_pass("text", "reading"),
                 args.repeat)
    theirs = timed('PyMuPDF get_text("text")', files, fitz_pass(fitz, "text"), args.repeat)
    print("  korvel / PyMuPDF: %.2fx" % (ours / theirs))
    print("words:")
    ours = timed("korvel page.words()", files, korvel_pass("words"), args.repeat)
    theirs = timed('PyMuPDF get_text("words")', files, fitz_pass(fitz, "words"), args.repeat)
    print("  korvel / PyMuPDF: %.2fx" % (ours / theirs))
    print("raw:")
    ours = timed('korvel page.text("raw")', files, korvel_pass("text", "raw"), args.repeat)
    theirs = timed("pypdf extract_text()", files, pypdf_pass(pypdf), 1)
    print("  korvel / pypdf: %.2fx" % (ours / theirs))
    print("word agreement with PyMuPDF:")
    agreement(fitz, files, args.tolerance)


if __name__ == "__main__":
    main()
