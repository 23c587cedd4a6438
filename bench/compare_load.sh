#!/usr/bin/env bash
# Load time and peak memory of `tolvane-text info` beside `qpdf --show-npages` and `pdfinfo`,
# measured in one run (the machine is noisy: compare ratios, not absolute times).
# Usage: bench/compare_load.sh [RUNS] [FILE...]   (after `make build`; needs qpdf, poppler-utils)
set -u
cd "$(dirname "$0")/.."
runs=${1:-10}; shift || true
bin=build/bin
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
files=("$@")
if [ ${#files[@]} -eq 0 ]; then
  corpus=../shared/corpus
  files=($(ls -S "$corpus"/*.pdf 2>/dev/null | head -n 5))
  "$bin/make_sample" --pages 2000 "$tmp/pages2000.pdf"
  "$bin/make_sample" --pages 2000 --objstm "$tmp/pages2000-objstm.pdf"
  files+=("$tmp/pages2000.pdf" "$tmp/pages2000-objstm.pdf")
fi

# mean wall milliseconds over $runs runs, and the peak resident KiB of one run
measure() {
  local start end peak
  start=$(date +%s%N)
  for ((i = 0; i < runs; i++)); do "$@" >/dev/null 2>&1; done
  end=$(date +%s%N)
  peak=$(/usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1)
  printf '%8.1f ms %7s KiB' "$(echo "($end - $start) / $runs / 1000000" | bc -l)" "$peak"
}

printf '%-40s %-22s %-22s %-22s\n' file tolvane-text qpdf pdfinfo
for f in "${files[@]}"; do
  printf '%-40s %s  %s  %s\n' "$(basename "$f")" \
    "$(measure "$bin/tolvane-text" info "$f")" \
    "$(measure qpdf --show-npages "$f")" \
    "$(measure pdfinfo "$f")"
done
