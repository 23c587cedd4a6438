"""The korvel module: its API's types and errors, and threads running in parallel."""

import os
import pathlib
import threading
import time

import pytest

import korvel


def test_page_count_sizes_and_text_are_plain_python_values(make_pdf):
    path = make_pdf("text", "first page", "Caf\u00e9 cr\u00e8me")
    with korvel.open(path) as document:
        assert document.page_count == 2
        assert document.encrypted is False
        assert document.page_size(1) == (612.0, 792.0)
        assert document.page_text(1) == "first page"
        text = document.page_text(2)
        assert isinstance(text, str)
        assert text == "Caf\u00e9 cr\u00e8me"  # UTF-8 from the engine, whatever the platform


def test_paths_may_be_pathlike_and_documents_may_be_bytes(make_pdf):
    path = make_pdf("text", "from bytes")
    with korvel.open(pathlib.Path(path)) as document:
        assert document.page_text(1) == "from bytes"
    data = pathlib.Path(path).read_bytes()
    for source in (data, bytearray(data), memoryview(data)):
        with korvel.open(source) as document:
            assert document.name == "<bytes>"
            assert document.page_text(1) == "from bytes"
            assert "from bytes" in document.extract()


def test_records_are_named_tuples_with_floats(make_pdf):
    with korvel.open(make_pdf("text", "boxed text")) as document:
        records = document.records(1)
    assert len(records) == 1
    record = records[0]
    assert isinstance(record, korvel.Record)
    assert record.text == "boxed text"
    assert record.color == "#000000"
    assert record.size == 12.0
    assert record.x1 == 72.0
    assert all(isinstance(value, float) for value in record[2:11])
    assert record.x2 > record.x1 and record.y4 > record.y1


def test_extract_runs_the_application_layouts_with_pages_filter_header_and_footer(make_pdf):
    path = make_pdf("text", "one", "two", "three")
    with korvel.open(path) as document:
        assert document.extract() == (
            "one\r\n = Page 1 =\r\ntwo\r\n = Page 2 =\r\nthree\r\n = Page 3 =\r\n")
        assert document.extract(layout="order", footer="", pages=(2, 3)) == "two\r\nthree\r\n"
        assert document.extract(footer="", pages=range(1, 3), filter="even") == "two\r\n"
        assert document.extract(footer="", pages=3, header="&p/&a") == "3/3\r\nthree\r\n"
        position = document.extract(layout="position", pages=1, footer="")
        assert position.startswith("@X=72") and "@one@ENDTEXT@" in position


def test_password_errors_and_a_right_password(make_pdf):
    path = make_pdf("encrypted", "pw", "secret text")
    with pytest.raises(korvel.PasswordError):
        korvel.open(path)
    with pytest.raises(korvel.PasswordError):
        korvel.open(path, password="wrong")
    for password in ("pw", b"pw", "pw-owner"):
        with korvel.open(path, password=password) as document:
            assert document.encrypted is True
            assert document.page_text(1) == "secret text"
            assert document.extract(footer="") == "secret text\r\n"


def test_load_and_encryption_errors(make_pdf, tmp_path):
    with pytest.raises(korvel.LoadError):
        korvel.open(make_pdf("damaged"))
    with pytest.raises(korvel.LoadError):
        korvel.open(str(tmp_path / "missing.pdf"))
    with pytest.raises(korvel.LoadError):
        korvel.open(b"not a pdf")
    with pytest.raises(korvel.EncryptionError):
        korvel.open(make_pdf("unknown-handler"))
    for error in (korvel.LoadError, korvel.PasswordError, korvel.EncryptionError,
                  korvel.ExtractionError):
        assert issubclass(error, korvel.Error) and issubclass(error, Exception)


def test_wrong_arguments_raise_the_python_errors(make_pdf):
    with korvel.open(make_pdf("text", "a", "b")) as document:
        with pytest.raises(IndexError):
            document.page_text(3)
        with pytest.raises(IndexError):
            document.page_size(0)
        with pytest.raises(ValueError):
            document.page_text(1, option=5)
        with pytest.raises(ValueError):
            document.extract(layout="rows")
        with pytest.raises(ValueError):
            document.extract(filter="prime")
        with pytest.raises(ValueError):
            document.extract(pages=range(1, 3, 2))
        with pytest.raises(TypeError):
            document.extract(pages="1-2")
    with pytest.raises(TypeError):
        korvel.open(make_pdf("text", "a"), password=12)
    with pytest.raises(TypeError):
        korvel.open(12)


def test_repair_reads_a_file_whose_table_was_cut_off(make_pdf):
    with open(make_pdf("text", "kept text"), "rb") as file:
        data = file.read()
    damaged = data[: data.rfind(b"xref")]
    with pytest.raises(korvel.LoadError):
        korvel.open(damaged)
    with korvel.open(damaged, repair=True) as document:
        assert "kept text" in document.page_text(1)


def test_a_closed_document_raises_value_error(make_pdf):
    document = korvel.open(make_pdf("text", "a"))
    with document as same:
        assert same is document
        assert not document.closed
    assert document.closed
    assert "closed" in repr(document)
    with pytest.raises(ValueError):
        document.page_count
    document.close()  # closing twice is harmless


def test_help_and_stubs_describe_the_module():
    assert "korvel.open" in korvel.__doc__
    assert "GIL" in korvel.__doc__
    assert "threads" in korvel.Document.__doc__
    assert korvel.open.__doc__ and korvel.Document.extract.__doc__
    stub = pathlib.Path(korvel.__file__).with_name("korvel.pyi")
    assert "def extract(" in stub.read_text()


def test_the_engine_runs_without_the_gil(make_pdf):
    """While one thread is inside a long engine call, another keeps running Python code."""
    path = make_pdf("formfan", "6")
    with korvel.open(path) as warm:  # fonts and caches made before timing
        warm.page_text(1, option=3)
    span = {}

    def worker():
        with korvel.open(path) as document:
            span["start"] = time.monotonic()
            document.page_text(1, option=3)
            span["end"] = time.monotonic()

    thread = threading.Thread(target=worker)
    ticks = []
    thread.start()
    while thread.is_alive():
        ticks.append(time.monotonic())
        for _ in range(1000):
            pass
    thread.join()
    length = span["end"] - span["start"]
    assert length > 0.05, "the engine call was too short to tell"
    middle = [t for t in ticks if span["start"] + length / 4 < t < span["end"] - length / 4]
    # With the GIL held for the call this thread could not have run at all in its middle half.
    assert len(middle) > 10


def test_two_threads_extract_different_documents_with_the_same_results(make_pdf):
    paths = [make_pdf("text", "document %d page 1" % i, "document %d page 2" % i)
             for i in range(8)]

    def extract(path):
        with korvel.open(path) as document:
            return document.extract()

    expected = [extract(path) for path in paths]
    results = [None] * len(paths)

    def worker(offset):
        for _ in range(5):
            for i in range(offset, len(paths), 2):
                results[i] = extract(paths[i])

    threads = [threading.Thread(target=worker, args=(offset,)) for offset in (0, 1)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert results == expected


def test_one_document_shared_by_threads_gives_whole_answers(make_pdf):
    with korvel.open(make_pdf("text", "shared one", "shared two")) as document:
        answers = []

        def worker():
            for page in (1, 2) * 20:
                answers.append(document.page_text(page))

        threads = [threading.Thread(target=worker) for _ in range(2)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
    assert sorted(set(answers)) == ["shared one", "shared two"]
    assert len(answers) == 80
