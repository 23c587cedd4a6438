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
