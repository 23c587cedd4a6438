#!/usr/bin/env bash
# Small files that make a reader pay far more than their size: time and peak memory of
# `tolvane-text info` on each (killed after TIMEOUT seconds), beside `qpdf --show-npages`.
# The kinds are those of make_bench_pdfs: a flood of `[` in a page dictionary, millions of
# one-byte cross-reference entries, table entries sharing one offset, one 200 MB content
# stream, a Prev chain of streams claiming Length 2147483647, pages alternating between two
# 40 MiB object streams, kids without Type, Pages nodes without Kids, a 100 000-deep chain and
# 40 000 pages beside object 2147483647.
# A second table runs page text (options 0 and 3) over small pages that make an interpreter pay:
# 5 million `q`, content inflating to 4 GiB, a TJ of 2 million elements, ten levels of forms
# each drawing the next ten times, forms and an appearance drawing themselves, lying fonts,
# beside `pdftotext` and `mutool draw -F stext`.
# Usage: bench/hostile_costs.sh [TIMEOUT]   (after `make build`; qpdf, poppler-utils and
# mupdf-tools optional)
set -u
cd "$(dirname "$0")/.."
limit=${1:-60}
bin=build/bin
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT

run() { # prints "SECONDS KIB" or "timeout"
  local out
  out=$(/usr/bin/time -f '%e %M' timeout "$limit" "$@" 2>&1 >/dev/null | tail -n 1)
  case "$out" in *[0-9]\ [0-9]*) echo "$out" ;; *) echo "failed" ;; esac
}

printf '%-14s %12s %24s %24s\n' kind "file KiB" "tolvane-text (s KiB)" "qpdf (s KiB)"
for kind in flood onebyte sharedoffset bigcontent prevchain objstm2 untyped emptynodes deep highest; do
  f="$tmp/$kind.pdf"
  case $kind in deep) n=100000 ;; *) n= ;; esac
  "$bin/make_bench_pdfs" "$kind" "$f" $n
  q=$(command -v qpdf >/dev/null && run qpdf --show-npages "$f" || echo "-")
  printf '%-14s %12s %24s %24s\n' "$kind" "$(( $(stat -c %s "$f") / 1024 ))" \
    "$(run "$bin/tolvane-text" info "$f")" "$q"
  rm -f "$f"
done

printf '\n%-12s %10s %18s %18s %18s %18s\n' kind "file KiB" "option 0 (s KiB)" \
  "option 3 (s KiB)" "pdftotext (s KiB)" "mutool (s KiB)"
for kind in saves inflate bigarray formfan selfdraw lyingfonts; do
  f="$tmp/$kind.pdf"
  "$bin/make_bench_pdfs" "$kind" "$f"
  p=$(command -v pdftotext >/dev/null && run pdftotext "$f" /dev/null || echo "-")
  m=$(command -v mutool >/dev/null && run mutool draw -q -F stext -o /dev/null "$f" || echo "-")
  printf '%-12s %10s %18s %18s %18s %18s\n' "$kind" "$(( $(stat -c %s "$f") / 1024 ))" \
    "$(run "$bin/tolvane-text" page-text "$f" --page 1 --option 0)" \
    "$(run "$bin/tolvane-text" page-text "$f" --page 1 --option 3)" "$p" "$m"
  rm -f "$f"
done
