"""Shared fixtures: the built binaries and test documents made by make_test_pdfs."""

import os
import subprocess

import pytest

BIN = os.environ.get("TOLVANE_BIN", "")
SOURCE_DIR = os.environ.get("TOLVANE_SOURCE_DIR", "")


@pytest.fixture(scope="session")
def make_pdf(tmp_path_factory):
    """make_pdf(kind, *args) -> path of a document written by make_test_pdfs."""
    folder = tmp_path_factory.mktemp("pdfs")
    counter = [0]

    def make(kind, *args, name=None):
        counter[0] += 1
        path = folder / (name or "%s-%d.pdf" % (kind, counter[0]))
        subprocess.run([os.path.join(BIN, "make_test_pdfs"), kind, str(path), *args], check=True)
        return str(path)

    return make


def _literal(value):
    """A PDF string of bytes (escaped), a str of Latin-1 text, or a name/number as it is."""
    if isinstance(value, str):
        value = value.encode("latin-1")
    escaped = value.replace(b"\\", b"\\\\").replace(b"(", b"\\(").replace(b")", b"\\)")
    return b"(" + escaped + b")"


def pdf_bytes(pages, info=None, rotate=None, size=(612, 792), crop=None):
    """A PDF of pages drawn in Helvetica: each page a list of (x, y, font size, text), text
    placed at its baseline in points from the lower left. info: Info entries (bytes or str
    values, written as strings). rotate: the pages' /Rotate; crop: their /CropBox."""
    objects = [b"<< /Type /Catalog /Pages 2 0 R >>", None,
               b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>"]
    kids = []
    for runs in pages:
        content = b"".join(b"BT /F1 %g Tf %g %g Td %s Tj ET\n" % (size_, x, y, _literal(text))
                           for x, y, size_, text in runs)
        objects.append(b"<< /Length %d >>\nstream\n%s\nendstream" % (len(content), content))
        extra = b" /Rotate %d" % rotate if rotate is not None else b""
        if crop:
            extra += b" /CropBox [%g %g %g %g]" % tuple(crop)
        objects.append(b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 %d %d] /Contents %d 0 R "
                       b"/Resources << /Font << /F1 3 0 R >> >>%s >>"
                       % (size[0], size[1], len(objects), extra))
        kids.append(b"%d 0 R" % len(objects))
    objects[1] = b"<< /Type /Pages /Kids [%s] /Count %d >>" % (b" ".join(kids), len(kids))
    trailer_info = b""
    if info:
        entries = b"".join(b"/%s %s " % (key.encode(), _literal(value)) for key, value in info.items())
        objects.append(b"<< " + entries + b">>")
        trailer_info = b" /Info %d 0 R" % len(objects)
    out = bytearray(b"%PDF-1.4\n")
    offsets = []
    for number, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n%s\nendobj\n" % (number, body)
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    out += b"".join(b"%010d 00000 n \n" % offset for offset in offsets)
    out += b"trailer\n<< /Size %d /Root 1 0 R%s >>\nstartxref\n%d\n%%%%EOF\n" % (
        len(objects) + 1, trailer_info, xref)
    return bytes(out)
