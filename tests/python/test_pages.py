"""Pages as a Python sequence, each kind of source, metadata, words and boxes, page text layouts,
and extract() on the document already loaded."""

import datetime
import io
import os
import pathlib
import subprocess

import pytest

import korvel
from conftest import BIN, pdf_bytes

THREE = pdf_bytes([[(72, 700, 12, "page %d" % n)] for n in range(3)])

# Helvetica advance widths (per 1000 units of the font size) of the letters used below.
WIDTHS = {"H": 722, "e": 556, "l": 222, "o": 556, "w": 722, "r": 333, "d": 556, " ": 278,
          "T": 611, "x": 500, "t": 278, "A": 667, "B": 667}


def advance(text, size):
    return sum(WIDTHS[c] for c in text) * size / 1000


@pytest.fixture
def three():
    with korvel.open(THREE) as document:
        yield document


@pytest.mark.parametrize("index, number", [(0, 0), (2, 2), (-1, 2), (-3, 0), (1, 1)])
def test_pages_by_index_count_from_zero_and_from_the_end(three, index, number):
    page = three[index]
    assert page.number == number
    assert page.text() == "page %d\n" % number


@pytest.mark.parametrize("index", [3, -4, 100])
def test_an_index_outside_the_document_raises_index_error(three, index):
    with pytest.raises(IndexError):
        three[index]


@pytest.mark.parametrize("key", [slice(1, None), slice(None, None, -1), slice(None, None, 2),
                                 slice(5, None), slice(None, -1), slice(-2, -1)])
def test_slices_are_lists_of_pages_as_for_a_list(three, key):
    pages = three[key]
    assert isinstance(pages, list)
    assert [page.number for page in pages] == list(range(3))[key]


def test_iteration_and_len_walk_every_page(three):
    assert len(three) == 3 == three.page_count
    assert [page.number for page in three] == [0, 1, 2]
    assert [page.text() for page in three] == ["page 0\n", "page 1\n", "page 2\n"]
    page = three[1]
    assert (page.width, page.height, page.rotation) == (612.0, 792.0, 0)
    assert page.document is three


@pytest.mark.parametrize("rotate, crop, shape", [
    (None, None, (612.0, 792.0, 0)), (90, None, (792.0, 612.0, 90)),
    (180, None, (612.0, 792.0, 180)), (-90, None, (792.0, 612.0, 270)),
    (450, None, (792.0, 612.0, 90)), (None, (50, 100, 550, 750), (500.0, 650.0, 0)),
    (270, (50, 100, 550, 750), (650.0, 500.0, 270)),
])
def test_rotation_and_crop_box_make_the_displayed_size(rotate, crop, shape):
    runs = [(72, 700, 12, "Hello")]
    with korvel.open(pdf_bytes([runs], rotate=rotate, crop=crop)) as document:
        page = document[0]
        assert (page.width, page.height, page.rotation) == shape
        for x0, top, x1, bottom, *_ in page.words():
            assert 0 <= x0 < x1 <= page.width and 0 <= top < bottom <= page.height


def source_kinds(path):
    def data():
        return pathlib.Path(path).read_bytes()
    return {
        "str": lambda: str(path),
        "pathlike": lambda: pathlib.Path(path),
        "fs-bytes-path": lambda: PathLikeBytes(os.fsencode(path)),
        "bytes": data,
        "bytearray": lambda: bytearray(data()),
        "memoryview": lambda: memoryview(data()),
        "bytesio": lambda: io.BytesIO(data()),
        "open-file": lambda: open(path, "rb"),
    }


class PathLikeBytes:
    def __init__(self, path):
        self.path = path

    def __fspath__(self):
        return self.path


@pytest.mark.parametrize("kind", list(source_kinds("x")))
def test_every_kind_of_source_opens(tmp_path, kind):
    path = tmp_path / "source.pdf"
    path.write_bytes(pdf_bytes([[(72, 700, 12, "Hello")]]))
    source = source_kinds(path)[kind]()
    with korvel.open(source) as document:
        assert document[0].text() == "Hello\n"
        assert document.extract(footer="") == "Hello\r\n"
    if hasattr(source, "close"):
        source.close()


@pytest.mark.parametrize("make, errors", [
    (lambda tmp: tmp / "missing.pdf",
     (FileNotFoundError, korvel.LoadError, korvel.MissingFileError, korvel.Error)),
    (lambda tmp: str(tmp),
     (IsADirectoryError, korvel.LoadError, korvel.DirectoryError, OSError)),
    (lambda tmp: io.BytesIO(b"not a pdf"), (korvel.LoadError,)),
    (lambda tmp: io.StringIO("%PDF-1.4"), (TypeError,)),
    (lambda tmp: 12, (TypeError,)),
])
def test_sources_that_are_no_document_raise_their_error_types(tmp_path, make, errors):
    with pytest.raises(errors[0]) as raised:
        korvel.open(make(tmp_path))
    assert all(isinstance(raised.value, error) for error in errors)


def test_a_missing_path_names_itself_like_an_os_error(tmp_path):
    with pytest.raises(FileNotFoundError) as raised:
        korvel.open(tmp_path / "gone.pdf")
    assert raised.value.filename == str(tmp_path / "gone.pdf")
    assert raised.value.errno == 2


UTF16 = b"\xfe\xff" + "Gr\u00fc\u00dfe \u4e16\u754c \U0001f600".encode("utf-16-be")


@pytest.mark.parametrize("key, raw, name, value", [
    ("Title", b"Plain title", "title", "Plain title"),
    ("Author", b"\x80 \x93x \xe9 \x84 \xa0", "author", "\u2022 \ufb01x \u00e9 \u2014 \u20ac"),
    ("Subject", UTF16, "subject", "Gr\u00fc\u00dfe \u4e16\u754c \U0001f600"),
    ("Keywords", b"a, b", "keywords", "a, b"),
    ("Creator", b"", "creator", ""),
    ("Producer", b"\xef\xbb\xbfUTF-8 \xc3\xa9", "producer", "UTF-8 \u00e9"),
    ("CreationDate", b"D:20240229133005+05'30'", "creation_date",
     datetime.datetime(2024, 2, 29, 13, 30, 5,
                       tzinfo=datetime.timezone(datetime.timedelta(hours=5, minutes=30)))),
    ("CreationDate", b"D:19991231235959-08'00", "creation_date",
     datetime.datetime(1999, 12, 31, 23, 59, 59,
                       tzinfo=datetime.timezone(-datetime.timedelta(hours=8)))),
    ("ModDate", b"D:20200102030405Z", "modification_date",
     datetime.datetime(2020, 1, 2, 3, 4, 5, tzinfo=datetime.timezone.utc)),
    ("ModDate", b"D:2021", "modification_date", datetime.datetime(2021, 1, 1)),
    ("ModDate", b"D:20211345", "modification_date", "D:20211345"),
    ("ModDate", b"yesterday", "modification_date", "yesterday"),
])
def test_metadata_decodes_each_info_entry(key, raw, name, value):
    with korvel.open(pdf_bytes([[]], info={key: raw})) as document:
        metadata = document.metadata
    assert metadata[name] == value
    if isinstance(value, datetime.datetime):
        assert metadata[name].utcoffset() == value.utcoffset()
    others = set(metadata) - {name}
    assert others and all(metadata[other] is None for other in others)


def test_metadata_has_every_key_even_without_info():
    with korvel.open(THREE) as document:
        assert document.metadata == dict.fromkeys(
            ["title", "author", "subject", "keywords", "creator", "producer", "creation_date",
             "modification_date"])


LINE = [(72, 700, 12, "Hello world"), (72, 500, 20, "Text")]


def test_words_have_boxes_from_the_top_left_with_their_numbers():
    with korvel.open(pdf_bytes([LINE])) as document:
        words = document[0].words()
    assert [word[4] for word in words] == ["Hello", "world", "Text"]
    expected_x = [(72, 72 + advance("Hello", 12)),
                  (72 + advance("Hello ", 12), 72 + advance("Hello world", 12)),
                  (72, 72 + advance("Text", 20))]
    for word, (x0, x1), (baseline, size) in zip(words, expected_x,
                                                [(92, 12), (92, 12), (292, 20)]):
        assert len(word) == 8 and all(isinstance(v, float) for v in word[:4])
        assert word[0] == pytest.approx(x0, abs=0.01)
        assert word[2] == pytest.approx(x1, abs=0.01)
        top, bottom = word[1], word[3]
        assert top < baseline <= bottom  # the baseline lies inside, measured downwards
        assert 0.8 * size <= bottom - top <= 1.4 * size
    assert [word[5:] for word in words[:2]] == [(0, 0, 0), (0, 0, 1)]
    assert words[2][5] == 1 and words[2][6:] == (0, 0)


def test_blocks_gather_their_words_lines_and_boxes():
    page = [(72, 700, 12, "AB Hello"), (72, 686, 12, "world"), (72, 400, 12, "Text")]
    with korvel.open(pdf_bytes([page])) as document:
        blocks = document[0].blocks()
        words = document[0].words()
    assert [block[4:] for block in blocks] == [("AB Hello\nworld", 0), ("Text", 1)]
    first = [word for word in words if word[5] == 0]
    assert blocks[0][:4] == (min(w[0] for w in first), min(w[1] for w in first),
                             max(w[2] for w in first), max(w[3] for w in first))


@pytest.mark.parametrize("layout", ["reading", "smart", "order", "position", "raw"])
def test_every_layout_gives_lf_lines_without_trailing_blanks(layout):
    with korvel.open(pdf_bytes([[(72, 700, 12, "Hello world  "), (72, 686, 12, "Text")]])) as doc:
        text = doc[0].text(layout)
        framed = doc.extract(layout="position" if layout == "position" else "order", footer="")
    assert "\r" not in text and text.endswith("\n") and not text.endswith("\n\n")
    assert all(line == line.rstrip(" \t") for line in text.split("\n"))
    assert "Hello world" in text and "Text" in text
    if layout == "reading":
        assert text == "Hello world\nText\n"
    if layout == "position":
        assert text.replace("\n", "\r\n").rstrip() in framed.replace(" \r\n", "\r\n")


def test_an_unknown_layout_raises_value_error(three):
    with pytest.raises(ValueError):
        three[0].text("columns")


@pytest.mark.parametrize("pages, filter_, reason", [
    ((5, 2), "all", "empty"),
    (99, "all", "outside"),
    (0, "all", "outside"),
    ((2, 9), "all", "outside"),
    (range(2, 2), "all", "empty"),
    (1, "even", "no page"),
])
def test_extract_of_no_page_or_a_page_outside_raises_value_error(three, pages, filter_, reason):
    with pytest.raises(ValueError, match=reason):
        three.extract(pages=pages, filter=filter_)


def test_extract_reads_the_loaded_document_not_the_path(tmp_path):
    path = tmp_path / "doc.pdf"
    path.write_bytes(pdf_bytes([[(72, 700, 12, "first file")]]))
    with korvel.open(path) as document:
        before = document.extract(header="&n")
        os.remove(path)
        assert document.extract(header="&n") == before == "doc.pdf\r\nfirst file\r\n = Page 1 =\r\n"
        path.write_bytes(pdf_bytes([[(72, 700, 12, "other file")]]))
        assert document.extract(header="&n") == before


def test_a_locked_document_opens_with_authenticate(make_pdf):
    path = make_pdf("encrypted", "pw", "secret text")
    document = korvel.Document(path)
    assert document.needs_password and document.is_encrypted
    assert document.metadata["title"] is None
    with pytest.raises(korvel.PasswordError):
        document[0].text()
    with pytest.raises(korvel.PasswordError):
        document.extract()
    assert document.authenticate("wrong") is False and document.needs_password
    assert document.authenticate("pw") is True
    assert not document.needs_password and document.is_encrypted
    assert document[0].text() == "secret text\n"
    assert document.extract(footer="") == "secret text\r\n"
    document.close()
    with korvel.open(THREE) as plain:
        assert not plain.is_encrypted and not plain.needs_password


def test_the_version_is_the_programs():
    shown = subprocess.run([os.path.join(BIN, "tolvane-text"), "--version"], check=True,
                           capture_output=True, text=True).stdout.split()
    assert shown == ["tolvane-text", korvel.__version__]


def test_a_counted_page_the_tree_cannot_locate_is_an_empty_page():
    data = pdf_bytes([[(72, 700, 12, "only page")]]).replace(b"/Count 1", b"/Count 2")
    with korvel.open(data) as document:
        assert len(document) == 2
        assert [page.text() for page in document] == ["only page\n", ""]
        last = document[-1]
        assert last.words() == [] and last.blocks() == [] and last.records() == []
        with pytest.raises(IndexError):
            document.page_text(2)
