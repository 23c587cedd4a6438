#!/usr/bin/python3
"""Makes PDF files from known text with several producers, each beside its ground truth.

    bench/truth/generate.py [--out DIR] [--only PRODUCER[,PRODUCER...]]

For every document NAME it writes DIR/NAME.pdf and DIR/NAME.txt, the words a reader sees in the
order they read them (blocks separated by blank lines). Producers: groff (PostScript through
ps2pdf, and groff's own PDF output), ghostscript (hand-written PostScript), pango (cairo), reportlab
and latex (pdflatex). A producer whose tools are missing is skipped with a note; `make bench-deps`
installs them all. Run with Debian's /usr/bin/python3 (the gi, cairo and reportlab modules are
Debian packages)."""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import texts as T  # noqa: E402

OUT = "build/truth"


def write_truth(name, blocks):
    with open(os.path.join(OUT, name + ".txt"), "w", encoding="utf-8") as f:
        f.write("\n\n".join(b.strip() for b in blocks) + "\n")


def run(args, **kw):
    subprocess.run(args, check=True, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kw)


# ---------------------------------------------------------------------------------------------
# groff: ms macros, tbl; PostScript through ps2pdf and groff's own PDF device.

GROFF_HEAD = """.nr PS 10
.nr HY 0
.nr VS 12
.nh
.ds CH
.ds CF
"""


def groff(name, body, truth, device="ps"):
    src = GROFF_HEAD + body
    with tempfile.TemporaryDirectory() as tmp:
        if device == "ps":
            ps = subprocess.run(["groff", "-t", "-ms", "-Tps"], input=src.encode(), check=True,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE).stdout
            path = os.path.join(tmp, "in.ps")
            with open(path, "wb") as f:
                f.write(ps)
            run(["ps2pdf", path, os.path.join(OUT, name + ".pdf")])
        else:
            pdf = subprocess.run(["groff", "-t", "-ms", "-Tpdf"], input=src.encode(), check=True,
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE).stdout
            with open(os.path.join(OUT, name + ".pdf"), "wb") as f:
                f.write(pdf)
    write_truth(name, truth)


def make_groff():
    p1, p2, p3 = T.paragraph(0, 4), T.paragraph(4, 4), T.paragraph(8, 3)
    groff("groff-prose", f""".TL
Notes on Plain Prose
.PP
{p1}
.PP
{p2}
.PP
{p3}
""", ["Notes on Plain Prose", p1, p2, p3])

    title = "Reading Order in Narrow Columns"
    author = "A. N. Writer"
    abstract = T.paragraph(14, 3)
    paras = [T.paragraph(i * 3, 3) for i in range(8)]
    body = f".TL\n{title}\n.AU\n{author}\n.AB no\n{abstract}\n.AE\n.2C\n.NH\nIntroduction\n"
    truth = [title, author, abstract, "1. Introduction"]
    for i, p in enumerate(paras):
        if i == 4:
            body += ".NH\nMethod\n"
            truth.append("2. Method")
        body += f".PP\n{p}\n"
        truth.append(p)
    groff("groff-2col", body, truth)

    # One page: a table, a list, super and subscripts, a footnote at the bottom.
    rows = "\n".join("\t".join(r) for r in T.TABLE_ROWS)
    head = "\t".join(T.TABLE_HEADER)
    intro = T.paragraph(20, 2)
    items = "".join(f".IP \\(bu 2\n{it}\n" for it in T.LIST_ITEMS)
    groff("groff-table", f""".PP
{intro}
.TS
center;
l r r r r.
{head}
{rows}
.TE
.PP
Water is H\\*<2\\*>O and the area grows as r\\*{{2\\*}} while the volume grows as r\\*{{3\\*}}.
The steps below follow the protocol\\**.
.FS
The protocol was revised in the spring.
.FE
{items}
""", [intro, head.replace("\t", " "), *[" ".join(r) for r in T.TABLE_ROWS],
      "Water is H2O and the area grows as r2 while the volume grows as r3. "
      "The steps below follow the protocol1.", *T.LIST_ITEMS,
      "1 The protocol was revised in the spring."])

    groff("gropdf-prose", f""".TL
Prose from the Direct Device
.PP
{T.paragraph(3, 4)}
.PP
{T.paragraph(9, 3)}
""", ["Prose from the Direct Device", T.paragraph(3, 4), T.paragraph(9, 3)], device="pdf")


# ---------------------------------------------------------------------------------------------
# Ghostscript: PostScript written here, line breaking done here, through ps2pdf.

def ps_string(s):
    return "(" + s.replace("\\", "\\\\").replace("(", "\\(").replace(")", "\\)") + ")"


def wrap(text, width):
    lines, cur = [], ""
    for w in text.split():
        if cur and len(cur) + 1 + len(w) > width:
            lines.append(cur)
            cur = w
        else:
            cur = (cur + " " + w) if cur else w
    if cur:
        lines.append(cur)
    return lines


PS_PROLOG = """%!PS-Adobe-3.0
/F { exch findfont exch scalefont setfont } def
% justify: string width -> shows the string stretched to width with widthshow on spaces
/J { /w exch def /s exch def /n 0 def
     s { 32 eq { /n n 1 add def } if } forall
     n 0 gt { w s stringwidth pop sub n div 0 32 s widthshow } { s show } ifelse } def
"""


def ghostscript(name, ps, truth, extra=()):
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "in.ps")
        with open(path, "w", encoding="latin-1") as f:
            f.write(PS_PROLOG + ps)
        run(["ps2pdf", *extra, path, os.path.join(OUT, name + ".pdf")])
    write_truth(name, truth)


def ps_columns(paras, ncols, x0, colw, gap, top, size, chars, justify=True):
    """PostScript that sets PARAS into NCOLS columns; returns (ps, per-page list of paragraphs)."""
    lead = size * 1.25
    bottom = 72
    out = []
    x, y, col = x0, top, 0
    for p in paras:
        lines = wrap(p, chars)
        for i, ln in enumerate(lines):
            if y < bottom:
                col += 1
                x, y = x0 + col * (colw + gap), top
            last = i == len(lines) - 1
            if justify and not last:
                out.append(f"{x} {y:.2f} moveto {ps_string(ln)} {colw} J")
            else:
                out.append(f"{x} {y:.2f} moveto {ps_string(ln)} show")
            y -= lead
        y -= lead * 0.6
    return "\n".join(out)


def make_ghostscript():
    # Three justified columns under a full-width title.
    paras = [T.paragraph(i * 2, 3) for i in range(9)]
    ps = "/Times-Bold 18 F 72 740 moveto (Three Columns of Justified Text) show\n/Times-Roman 9 F\n"
    ps += ps_columns(paras, 3, 54, 150, 18, 710, 9, 34) + "\nshowpage\n"
    ghostscript("gs-3col", ps, ["Three Columns of Justified Text", *paras])

    # Words placed one by one, no space characters, gaps as small as tight justification makes.
    text = T.paragraph(5, 6)
    out = ["/Helvetica 10 F"]
    y = 720
    for ln in wrap(text, 80):
        words = ln.split()
        out.append(f"/ws [{' '.join(ps_string(w) for w in words)}] def")
        # The gap is what is left of 468 points after the words, shared out, at least 1.6 points.
        out.append("/tot 0 ws { stringwidth pop add } forall def "
                   f"/g 468 tot sub {max(len(words) - 1, 1)} div def g 1.6 lt {{ /g 1.6 def }} if "
                   f"72 {y} moveto ws {{ dup show stringwidth pop pop g 0 rmoveto }} forall")
        y -= 13
    ps = "\n".join(out) + "\nshowpage\n"
    ghostscript("gs-nospace", ps, [text])

    # Pages turned four ways: the text of pages 2 and 4 runs up and down the paper; ps2pdf's
    # automatic page rotation writes /Rotate on those, and page 3 is upside down.
    pages, truth = [], []
    for k, angle in enumerate([0, 90, 180, 270]):
        para = T.paragraph(k * 5, 3)
        w = 60 if angle in (0, 180) else 85
        lines = wrap(para, w)
        setup = {0: "", 90: "612 0 translate 90 rotate", 180: "612 792 translate 180 rotate",
                 270: "0 792 translate 270 rotate"}[angle]
        hgt = 612 if angle in (90, 270) else 792
        body = [f"gsave {setup} /Times-Roman 11 F"]
        y = hgt - 90
        title = f"Page turned by {angle} degrees"
        body.append(f"/Times-Bold 14 F 72 {y} moveto {ps_string(title)} show /Times-Roman 11 F")
        y -= 24
        for ln in lines:
            body.append(f"72 {y} moveto {ps_string(ln)} show")
            y -= 14
        body.append("grestore showpage")
        pages.append("\n".join(body))
        truth += [title, para]
    ghostscript("gs-rotated", "\n".join(pages) + "\n", truth)

    # The same turns with the automatic rotation off: upright pages holding turned text.
    ghostscript("gs-rotated-text", "\n".join(pages) + "\n", truth,
                extra=["-dAutoRotatePages=/None"])

    # A table of numbers, right-aligned columns, each cell shown on its own.
    xs = [72, 200, 290, 380, 470]
    out = ["/Helvetica-Bold 10 F"]
    y = 700

    def row(cells, y):
        r = []
        for i, c in enumerate(cells):
            if i == 0:
                r.append(f"{xs[i]} {y} moveto {ps_string(c)} show")
            else:
                r.append(f"{ps_string(c)} dup stringwidth pop {xs[i] + 60} exch sub {y} moveto show")
        return "\n".join(r)

    out.append(row(T.TABLE_HEADER, y))
    out.append("/Helvetica 10 F")
    for r in T.TABLE_ROWS:
        y -= 16
        out.append(row(r, y))
    ps = "/Times-Bold 14 F 72 740 moveto (Monthly Figures) show\n" + "\n".join(out) + "\nshowpage\n"
    ghostscript("gs-table", ps, ["Monthly Figures", " ".join(T.TABLE_HEADER),
                                 *[" ".join(r) for r in T.TABLE_ROWS]])


# ---------------------------------------------------------------------------------------------
# cairo and pango: shaping (ligatures, Arabic joining, bidi), CJK fonts, justified paragraphs.

def make_pango():
    import gi
    gi.require_version("Pango", "1.0")
    gi.require_version("PangoCairo", "1.0")
    import cairo
    from gi.repository import Pango, PangoCairo

    W, H = 612, 792

    class Doc:
        def __init__(self, name):
            self.name = name
            self.surface = cairo.PDFSurface(os.path.join(OUT, name + ".pdf"), W, H)
            self.cr = cairo.Context(self.surface)

        def block(self, text, x, y, width, font="DejaVu Serif 10", justify=False,
                  align=Pango.Alignment.LEFT, rtl=False):
            layout = PangoCairo.create_layout(self.cr)
            layout.set_font_description(Pango.FontDescription.from_string(font))
            layout.set_width(int(width * Pango.SCALE))
            layout.set_wrap(Pango.WrapMode.WORD)
            layout.set_justify(justify)
            layout.set_alignment(align)
            if rtl:
                layout.set_auto_dir(True)
            layout.set_text(text, -1)
            self.cr.move_to(x, y)
            PangoCairo.show_layout(self.cr, layout)
            return y + layout.get_pixel_size()[1]

        def page(self):
            self.cr.show_page()

        def close(self):
            self.surface.finish()

    # Justified prose with ligatures.
    d = Doc("pango-prose")
    paras = [T.paragraph(0, 5), T.paragraph(5, 5), T.paragraph(10, 4)]
    y = d.block("Justified Paragraphs with Ligatures", 72, 72, 468, "DejaVu Serif Bold 16")
    for p in paras:
        y = d.block(p, 72, y + 12, 468, "Liberation Serif 11", justify=True)
    d.close()
    write_truth("pango-prose", ["Justified Paragraphs with Ligatures", *paras])

    # Title and abstract over two columns.
    d = Doc("pango-2col")
    title, abstract = "A Study of Two Column Layout", T.paragraph(14, 3)
    y = d.block(title, 72, 60, 468, "DejaVu Sans Bold 16", align=Pango.Alignment.CENTER)
    y = d.block(abstract, 90, y + 14, 432, "DejaVu Serif Italic 9.5", justify=True)
    cols = [[T.paragraph(i * 3, 3) for i in range(3)], [T.paragraph(9 + i * 3, 3) for i in range(3)]]
    for c, col in enumerate(cols):
        yy = y + 20
        for p in col:
            yy = d.block(p, 72 + c * 246, yy, 222, "DejaVu Serif 9", justify=True) + 8
    d.close()
    write_truth("pango-2col", [title, abstract, *cols[0], *cols[1]])

    # Hebrew and Arabic paragraphs (right to left), each under an English heading.
    d = Doc("pango-rtl")
    y = d.block("Right to Left Text", 72, 72, 468, "DejaVu Sans Bold 14")
    truth = ["Right to Left Text"]
    for head, lines in (("Hebrew", T.HEBREW), ("Arabic", T.ARABIC)):
        y = d.block(head, 72, y + 16, 468, "DejaVu Sans Bold 11")
        for ln in lines:
            y = d.block(ln, 72, y + 6, 468, "DejaVu Sans 12", align=Pango.Alignment.RIGHT, rtl=True)
        truth += [head, *lines]
    d.close()
    write_truth("pango-rtl", truth)

    # Chinese, Japanese and Korean in the Noto CJK fonts.
    d = Doc("pango-cjk")
    y = d.block("Chinese, Japanese and Korean", 72, 72, 468, "DejaVu Sans Bold 14")
    truth = ["Chinese, Japanese and Korean"]
    for font, text in (("Noto Sans CJK SC 12", T.CHINESE), ("Noto Sans CJK JP 12", T.JAPANESE),
                       ("Noto Sans CJK KR 12", T.KOREAN)):
        y = d.block(text, 72, y + 14, 468, font)
        truth.append(text)
    d.close()
    write_truth("pango-cjk", truth)


# ---------------------------------------------------------------------------------------------
# reportlab: platypus paragraphs, frames, tables, lists, <super>/<sub>, CID fonts without
# ToUnicode (the Adobe CJK collections, not embedded).

def make_reportlab():
    from reportlab.lib import colors
    from reportlab.lib.pagesizes import letter
    from reportlab.lib.styles import getSampleStyleSheet
    from reportlab.lib.enums import TA_JUSTIFY
    from reportlab.pdfbase import pdfmetrics
    from reportlab.pdfbase.cidfonts import UnicodeCIDFont
    from reportlab.platypus import (BaseDocTemplate, Frame, ListFlowable, ListItem, PageTemplate,
                                    Paragraph, SimpleDocTemplate, Spacer, Table, TableStyle,
                                    FrameBreak)

    ss = getSampleStyleSheet()
    body = ss["BodyText"]
    just = ss["BodyText"].clone("just", alignment=TA_JUSTIFY)

    def path(n):
        return os.path.join(OUT, n + ".pdf")

    # A table with numbers, a bulleted list, super and subscripts.
    intro = T.paragraph(17, 2)
    story = [Paragraph("Quarterly Report", ss["Title"]), Paragraph(intro, body), Spacer(1, 8)]
    t = Table([T.TABLE_HEADER] + T.TABLE_ROWS)
    t.setStyle(TableStyle([("GRID", (0, 0), (-1, -1), 0.5, colors.grey),
                           ("ALIGN", (1, 1), (-1, -1), "RIGHT")]))
    story += [t, Spacer(1, 8),
              Paragraph("Water is H<sub>2</sub>O and the area grows as r<super>2</super> "
                        "while the volume grows as r<super>3</super>.", body),
              ListFlowable([ListItem(Paragraph(it, body)) for it in T.LIST_ITEMS],
                           bulletType="bullet")]
    SimpleDocTemplate(path("rl-table"), pagesize=letter, invariant=1).build(story)
    write_truth("rl-table", ["Quarterly Report", intro, " ".join(T.TABLE_HEADER),
                             *[" ".join(r) for r in T.TABLE_ROWS],
                             "Water is H2O and the area grows as r2 while the volume grows as r3.",
                             *T.LIST_ITEMS])

    # A title frame across the top, then two columns that flow.
    doc = BaseDocTemplate(path("rl-2col"), pagesize=letter, invariant=1)
    W, H = letter
    top = Frame(72, H - 200, W - 144, 128, id="top")
    left = Frame(72, 72, (W - 144) / 2 - 9, H - 280, id="left")
    right = Frame(W / 2 + 9, 72, (W - 144) / 2 - 9, H - 280, id="right")
    doc.addPageTemplates([PageTemplate(frames=[top, left, right])])
    abstract = T.paragraph(14, 3)
    paras = [T.paragraph(i * 3, 3) for i in range(7)]
    story = [Paragraph("Two Columns Under a Wide Title", ss["Title"]),
             Paragraph(abstract, ss["Italic"]), FrameBreak()]
    story += [Paragraph(p, just) for p in paras]
    doc.build(story)
    write_truth("rl-2col", ["Two Columns Under a Wide Title", abstract, *paras])

    # CJK in the Adobe CID collections, not embedded: no ToUnicode, codes through UCS2 CMaps.
    for f in ("STSong-Light", "HeiseiMin-W3", "HYSMyeongJo-Medium"):
        pdfmetrics.registerFont(UnicodeCIDFont(f))
    story = [Paragraph("CJK without ToUnicode", ss["Title"])]
    for f, text in (("STSong-Light", T.CHINESE), ("HeiseiMin-W3", T.JAPANESE),
                    ("HYSMyeongJo-Medium", T.KOREAN)):
        story.append(Paragraph(text, body.clone("cjk" + f, fontName=f, fontSize=12, leading=16,
                                                wordWrap="CJK")))
    SimpleDocTemplate(path("rl-cjk"), pagesize=letter, invariant=1).build(story)
    write_truth("rl-cjk", ["CJK without ToUnicode", T.CHINESE, T.JAPANESE, T.KOREAN])


# ---------------------------------------------------------------------------------------------
# LaTeX: Computer Modern Type 1 fonts with their built-in encodings (ligatures as ff, fi, ffi
# glyphs), footnotes, tabular, itemize, two columns with \twocolumn[...], three with multicol.

LATEX_HEAD = r"""\documentclass[%s]{article}
\usepackage{multicol}
\pagestyle{empty}
\hyphenpenalty=10000 \exhyphenpenalty=10000 \sloppy
%s
\begin{document}
"""


def latex(name, body, truth, opts="10pt", extra=""):
    with tempfile.TemporaryDirectory() as tmp:
        with open(os.path.join(tmp, "doc.tex"), "w") as f:
            f.write(LATEX_HEAD % (opts, extra) + body + "\n\\end{document}\n")
        run(["pdflatex", "-interaction=nonstopmode", "doc.tex"], cwd=tmp)
        shutil.copy(os.path.join(tmp, "doc.pdf"), os.path.join(OUT, name + ".pdf"))
    write_truth(name, truth)


def make_latex():
    intro, second = T.paragraph(0, 4), T.paragraph(21, 3)
    rows = "\n".join(" & ".join(r).replace("%", r"\%") + r" \\" for r in T.TABLE_ROWS)
    items = "\n".join(r"\item " + it for it in T.LIST_ITEMS)
    latex("latex-article", rf"""
\section*{{Field Notes}}
{intro}\footnote{{The notes were typed the same evening.}}

{second} Water is H\textsubscript{{2}}O and the area grows as $r^2$ while the volume grows as
$r^3$.

\begin{{tabular}}{{lrrrr}}
{" & ".join(T.TABLE_HEADER)} \\
{rows}
\end{{tabular}}

\begin{{itemize}}
{items}
\end{{itemize}}
""", ["Field Notes", intro + "1", second + " Water is H2O and the area grows as r2 while the "
      "volume grows as r3.", " ".join(T.TABLE_HEADER), *[" ".join(r) for r in T.TABLE_ROWS],
      *T.LIST_ITEMS, "1 The notes were typed the same evening."])

    title, abstract = "Columns and Their Readers", T.paragraph(14, 3)
    paras = [T.paragraph(i * 3, 3) for i in range(10)]
    body = (r"\twocolumn[\begin{center}{\Large\bf %s}\par\vspace{1ex} A. N. Writer\end{center}"
            r"\begin{quote}\small %s\end{quote}\vspace{1em}]" % (title, abstract))
    body += "\n\\section*{Introduction}\n" + "\n\n".join(paras[:5])
    body += "\n\\section*{Results}\n" + "\n\n".join(paras[5:])
    latex("latex-2col", body, [title, "A. N. Writer", abstract, "Introduction", *paras[:5],
                                "Results", *paras[5:]], extra="\\pdfgentounicode=1\\input{glyphtounicode}")

    # Small (one font): two columns of prose with ligatures, for the CTest golden.
    paras = [T.paragraph(i * 2, 3) for i in range(15)]
    latex("latex-columns", "\n\n".join(paras), paras, opts="10pt,twocolumn")

    paras = [T.paragraph(i * 2 + 1, 3) for i in range(8)]
    latex("latex-3col", "\\section*{Three Columns}\n\\begin{multicols}{3}\n" + "\n\n".join(paras)
          + "\n\\end{multicols}\n", ["Three Columns", *paras])


PRODUCERS = {
    "groff": (make_groff, ["groff", "ps2pdf"]),
    "ghostscript": (make_ghostscript, ["ps2pdf"]),
    "pango": (make_pango, []),
    "reportlab": (make_reportlab, []),
    "latex": (make_latex, ["pdflatex"]),
}


def main():
    global OUT
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--out", default=OUT)
    ap.add_argument("--only", default="")
    a = ap.parse_args()
    OUT = a.out
    os.makedirs(OUT, exist_ok=True)
    only = [s for s in a.only.split(",") if s]
    for name, (fn, tools) in PRODUCERS.items():
        if only and name not in only:
            continue
        missing = [t for t in tools if not shutil.which(t)]
        if missing:
            print(f"{name}: skipped, missing {' '.join(missing)}", file=sys.stderr)
            continue
        try:
            fn()
            print(f"{name}: done")
        except ImportError as e:
            print(f"{name}: skipped, {e}", file=sys.stderr)


if __name__ == "__main__":
    main()
