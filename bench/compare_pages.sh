#!/usr/bin/env bash
# Long documents: `tolvane-text info` and a pass reading every page's content (page_pass)
# beside `pdfinfo -f 1 -l 100000`, `qpdf --show-npages` and `pdftotext`, on generated documents
# of N pages (default 20 000) with a flat Kids array and with a tree of 10-kid nodes. Prints
# the mean time of RUNS runs and the peak memory of one, and our ratios to the peers, measured
# in one run (the machine is noisy: compare ratios, not absolute times).
# Usage: bench/compare_pages.sh [RUNS] [PAGES]   (after `make build`; needs qpdf, poppler-utils)
set -u
cd "$(dirname "$0")/.."
runs=${1:-5}
pages=${2:-20000}
bin=build/bin
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT

# prints "MS KIB": mean wall milliseconds over $runs runs, peak resident KiB of one run
measure() {
  local start end peak
  start=$(date +%s%N)
  for ((i = 0; i < runs; i++)); do "$@" >/dev/null 2>&1; done
  end=$(date +%s%N)
  peak=$(/usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1)
  echo "$(( (end - start) / runs / 1000000 )) $peak"
}

ratio() { echo "scale=2; $1 / $2" | bc -l; }

printf '%-14s %-22s %16s %16s %16s %12s %12s\n' shape program ms KiB "" "time ratio" "mem ratio"
for shape in flat tree10; do
  f="$tmp/$shape.pdf"
  "$bin/make_bench_pdfs" "$shape" "$f" "$pages"
  read -r ours_ms ours_kb <<<"$(measure "$bin/tolvane-text" info "$f")"
  read -r pass_ms pass_kb <<<"$(measure "$bin/page_pass" "$f")"
  read -r info_ms info_kb <<<"$(measure pdfinfo -f 1 -l 100000 "$f")"
  read -r qpdf_ms qpdf_kb <<<"$(measure qpdf --show-npages "$f")"
  read -r text_ms text_kb <<<"$(measure pdftotext "$f" /dev/null)"
  printf '%-14s %-22s %16s %16s\n' "$shape" "tolvane-text info" "$ours_ms" "$ours_kb"
  printf '%-14s %-22s %16s %16s\n' "" "page_pass" "$pass_ms" "$pass_kb"
  printf '%-14s %-22s %16s %16s %16s %12s %12s\n' "" "pdfinfo" "$info_ms" "$info_kb" "info/pdfinfo" \
    "$(ratio "$ours_ms" "$info_ms")" "$(ratio "$ours_kb" "$info_kb")"
  printf '%-14s %-22s %16s %16s %16s %12s %12s\n' "" "qpdf --show-npages" "$qpdf_ms" "$qpdf_kb" \
    "info/qpdf" "$(ratio "$ours_ms" "$qpdf_ms")" "$(ratio "$ours_kb" "$qpdf_kb")"
  printf '%-14s %-22s %16s %16s %16s %12s %12s\n' "" "pdftotext" "$text_ms" "$text_kb" \
    "pass/pdfinfo" "$(ratio "$pass_ms" "$info_ms")" "$(ratio "$pass_kb" "$info_kb")"
done
