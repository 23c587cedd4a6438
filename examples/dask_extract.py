#!/usr/bin/python3
"""Extract the text of many PDF files with Dask and the korvel module.

A Dask bag over the list of paths: each partition opens its files with korvel, one at a
time, and the bag is written as JSON lines, one file per partition
(OUT/part-00000.jsonl, ...), one line per input:

    {"file": ..., "status": "ok", "pages": 12, "chars": 30411, "seconds": 0.08,
     "text": ..., "error": null}

status is one of ok, needs-password, unsupported-encryption, unreadable (the names the
`tolvane-text batch` report uses). Runs on a LocalCluster of this machine by default, or on
any Dask scheduler given by address:

    dask_extract.py --from paths.txt --out results/                 # a LocalCluster
    dask_extract.py --from paths.txt --out results/ --scheduler tcp://10.0.0.5:8786

Every worker needs the korvel module (PYTHONPATH=.../build/python) and sees the files at the
same paths (a shared file system, or paths the workers can read). A file that crashes or
hangs the engine takes its worker down with it; Dask's nanny restarts the worker and retries
the partition. For untrusted files, `tolvane-text batch` (one process per file, with time and
memory limits) is the road that isolates every file.
"""

import argparse
import json
import os
import sys
import time


def extract_file(path, layout="smart", password=None):
    """The report line of one file, as a dict; its text under "text"."""
    import korvel  # imported on the worker

    started = time.monotonic()
    line = {"file": path, "status": "ok", "pages": None, "chars": None, "seconds": None,
            "text": None, "error": None}
    try:
        with korvel.open(path, password=password) as document:
            text = document.extract(layout=layout)
            line["pages"] = document.page_count
            line["chars"] = len(text)
            line["text"] = text
    except korvel.PasswordError as error:
        line.update(status="needs-password", error=str(error))
    except korvel.EncryptionError as error:
        line.update(status="unsupported-encryption", error=str(error))
    except korvel.Error as error:
        line.update(status="unreadable", error=str(error))
    line["seconds"] = round(time.monotonic() - started, 3)
    return line


def extract_partition(paths, layout="smart", password=None):
    """One partition's report lines, as JSON strings."""
    return [json.dumps(extract_file(path, layout, password), ensure_ascii=False)
            for path in paths]


def run(paths, out_dir, scheduler=None, workers=2, partition_size=16, layout="smart",
        password=None):
    """Extracts `paths` into JSON-lines files under out_dir; returns those files' names."""
    import dask.bag as db
    from dask.distributed import Client, LocalCluster

    if scheduler:
        client = Client(scheduler)
        cluster = None
    else:
        # One thread per worker process: a file that brings the engine down costs one worker.
        cluster = LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                               dashboard_address=None)
        client = Client(cluster)
    try:
        os.makedirs(out_dir, exist_ok=True)
        bag = db.from_sequence(paths, partition_size=partition_size)
        lines = bag.map_partitions(extract_partition, layout=layout, password=password)
        return lines.to_textfiles(os.path.join(out_dir, "part-*.jsonl"),
                                  name_function=lambda i: "%05d" % i, encoding="utf-8",
                                  last_endline=True)
    finally:
        client.close()
        if cluster is not None:
            cluster.close()


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("files", nargs="*", help="PDF files")
    parser.add_argument("--from", dest="lists", action="append", default=[],
                        help="a file listing inputs one per line, - for stdin (may repeat)")
    parser.add_argument("--out", required=True, help="folder for the JSON-lines files")
    parser.add_argument("--scheduler", help="address of a Dask scheduler (default: a "
                        "LocalCluster on this machine)")
    parser.add_argument("--workers", type=int, default=os.cpu_count() or 1,
                        help="LocalCluster worker processes (default: the number of cores)")
    parser.add_argument("--partition-size", type=int, default=16, help="files per task")
    parser.add_argument("--layout", default="smart", choices=["smart", "order", "position"])
    parser.add_argument("--password", help="password tried on every encrypted file")
    args = parser.parse_args(argv)

    paths = list(args.files)
    for source in args.lists:
        if source == "-":
            paths.extend(line.rstrip("\r\n") for line in sys.stdin if line.strip())
        else:
            with open(source, encoding="utf-8") as stream:
                paths.extend(line.rstrip("\r\n") for line in stream if line.strip())
    if not paths:
        parser.error("no input files (name them, or give --from LIST)")
    started = time.monotonic()
    written = run(paths, args.out, args.scheduler, args.workers, args.partition_size,
                  args.layout, args.password)
    seconds = time.monotonic() - started
    print("%d files in %.2f s into %d JSON-lines files under %s"
          % (len(paths), seconds, len(written), args.out), file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
