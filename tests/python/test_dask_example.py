"""examples/dask_extract.py on a LocalCluster of two workers over a dozen generated files."""

import glob
import json
import os
import subprocess
import sys

import pytest

from conftest import SOURCE_DIR

pytest.importorskip("dask.bag")
pytest.importorskip("distributed")


def test_dask_example_extracts_every_file_on_a_local_cluster(make_pdf, tmp_path):
    expected = {}
    for i in range(12):
        path = make_pdf("text", "file %d first" % i, "file %d second" % i, name="doc%02d.pdf" % i)
        expected[path] = "file %d first\r\n = Page 1 =\r\nfile %d second\r\n = Page 2 =\r\n" % (i, i)
    locked = make_pdf("encrypted", "pw", "locked", name="locked.pdf")
    damaged = make_pdf("damaged", name="damaged.pdf")
    listing = tmp_path / "paths.txt"
    listing.write_text("\n".join(list(expected) + [locked, damaged]) + "\n")
    out = tmp_path / "out"

    env = dict(os.environ)
    result = subprocess.run(
        [sys.executable, os.path.join(SOURCE_DIR, "examples", "dask_extract.py"),
         "--from", str(listing), "--out", str(out), "--workers", "2", "--partition-size", "4"],
        env=env, capture_output=True, text=True, timeout=240)
    assert result.returncode == 0, result.stderr
    assert "14 files" in result.stderr

    parts = sorted(glob.glob(str(out / "part-*.jsonl")))
    assert len(parts) == 4  # 14 paths in partitions of 4
    lines = [json.loads(line) for part in parts for line in open(part, encoding="utf-8")]
    by_file = {line["file"]: line for line in lines}
    assert len(lines) == len(by_file) == 14
    for path, text in expected.items():
        assert by_file[path]["status"] == "ok"
        assert by_file[path]["text"] == text
        assert by_file[path]["pages"] == 2
        assert by_file[path]["chars"] == len(text)
    assert by_file[locked]["status"] == "needs-password"
    assert by_file[damaged]["status"] == "unreadable"
    assert by_file[damaged]["text"] is None
