#!/usr/bin/python3
"""Files per second of the korvel module with one thread and with two, over the same files.

The engine runs without the GIL, so two threads on two cores should come close to twice the
speed of one. Each thread opens its own documents and runs extract() (smart layout) on them.
Two processes doing the same work are timed too: the speed-up the machine allows at all (on a
machine whose cores others are using, it is well below 2, and so is that of the threads).

    PYTHONPATH=build/python bench/python_threads.py [FOLDER|FILE...] [--rounds N]

Default: the corpus files tagged `speed` in ../shared/corpus/MANIFEST.tsv.
"""

import argparse
import concurrent.futures
import csv
import os
import sys
import time

import korvel


def speed_files(corpus):
    with open(os.path.join(corpus, "MANIFEST.tsv"), encoding="utf-8") as manifest:
        rows = csv.DictReader(manifest, delimiter="\t")
        return [os.path.join(corpus, row["file"]) for row in rows
                if "speed" in (row.get("tags") or "").split(",")]


def extract(path):
    try:
        with korvel.open(path) as document:
            return document.page_count, len(document.extract())
    except korvel.Error:
        return 0, 0


def timed(paths, threads, pool_type=concurrent.futures.ThreadPoolExecutor):
    with pool_type(max_workers=threads) as pool:
        list(pool.map(extract, paths[:threads]))  # workers started and warm
        started = time.perf_counter()
        results = list(pool.map(extract, paths))
    return time.perf_counter() - started, sum(pages for pages, _ in results)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser()
    parser.add_argument("inputs", nargs="*")
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    paths = []
    for entry in args.inputs or [os.path.join(here, "..", "..", "shared", "corpus")]:
        if os.path.isdir(entry):
            manifest = os.path.join(entry, "MANIFEST.tsv")
            paths += speed_files(entry) if os.path.exists(manifest) else sorted(
                os.path.join(entry, name) for name in os.listdir(entry) if name.endswith(".pdf"))
        else:
            paths.append(entry)
    extract_all = paths * 2  # enough work for both threads to stay busy to the end
    timed(paths, 1)  # fonts and caches warm
    best = {}
    for threads in (1, 2):
        best[threads] = min(timed(extract_all, threads)[0] for _ in range(args.rounds))
    processes = min(timed(extract_all, 2, concurrent.futures.ProcessPoolExecutor)[0]
                    for _ in range(args.rounds))
    pages = timed(extract_all, 1)[1]
    for threads in (1, 2):
        print("%d thread%s: %.2f s, %.1f files/s, %.1f pages/s"
              % (threads, "s" if threads > 1 else "", best[threads],
                 len(extract_all) / best[threads], pages / best[threads]))
    print("speed-up of 2 threads: %.2fx over %d files, %d pages (cores: %d); of 2 processes: "
          "%.2fx" % (best[1] / best[2], len(extract_all), pages, os.cpu_count(),
                     best[1] / processes))
    return 0


if __name__ == "__main__":
    sys.exit(main())
