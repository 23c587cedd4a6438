#!/usr/bin/env bash
# Pages per second of `tolvane-text extract --layout smart` beside `pdftotext -layout` and of
# `extract --layout order` beside `pdftotext -raw`, over the corpus files tagged `speed` in
# MANIFEST.tsv and a generated 2 000-page book, one process per file, measured in one run
# (compare the ratios, not absolute times), and the peak memory of one run over 20 000 pages.
# Usage: bench/compare_extract.sh [RUNS]   (needs poppler-utils; BIN=dir overrides build/bin)
set -u
cd "$(dirname "$0")/.."
runs=${1:-3}
bin=${BIN:-build/bin}
corpus=../shared/corpus
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT

files=()
while read -r file; do files+=("$corpus/$file"); done < <(
  awk -F'\t' 'NR > 1 && ("," $9 ",") ~ /,speed,/ { print $1 }' "$corpus/MANIFEST.tsv" 2>/dev/null)
"$bin/make_bench_pdfs" flat "$tmp/book2000.pdf" 2000
files+=("$tmp/book2000.pdf")

timeNs() { # RUNS COMMAND...: mean wall time in nanoseconds
  local n=$1; shift
  local start end i
  start=$(date +%s%N)
  for ((i = 0; i < n; i++)); do "$@" >/dev/null 2>&1; done
  end=$(date +%s%N)
  echo $(( (end - start) / n ))
}

for pair in "smart -layout" "order -raw"; do
  set -- $pair
  layout=$1 peer=$2
  total=0; ours=0; theirs=0
  printf '\n%-40s %6s %10s %12s %7s\n' "extract --layout $layout" pages "ours ms" "pdftotext $peer" ratio
  for f in "${files[@]}"; do
    pages=$("$bin/tolvane-text" info "$f" 2>/dev/null | sed -n 's/^PageCount: //p')
    [ -z "$pages" ] || [ "$pages" -eq 0 ] && continue
    o=$(timeNs "$runs" "$bin/tolvane-text" extract "$f" --layout "$layout" -o "$tmp/out.txt")
    r=$(timeNs "$runs" pdftotext "$peer" "$f" "$tmp/peer.txt")
    total=$((total + pages)); ours=$((ours + o)); theirs=$((theirs + r))
    printf '%-40s %6d %10.1f %12.1f %7.2f\n' "$(basename "$f" | cut -c1-40)" "$pages" \
      "$(echo "$o / 1000000" | bc -l)" "$(echo "$r / 1000000" | bc -l)" "$(echo "$r / $o" | bc -l)"
  done
  printf 'pages per second: ours %.0f, pdftotext %s %.0f (speed ratio ours / theirs = %.2f)\n' \
    "$(echo "$total / ($ours / 1000000000)" | bc -l)" "$peer" \
    "$(echo "$total / ($theirs / 1000000000)" | bc -l)" "$(echo "$theirs / $ours" | bc -l)"
done

"$bin/make_bench_pdfs" flat "$tmp/p20000.pdf" 20000
mem=$(/usr/bin/time -f %M "$bin/tolvane-text" extract "$tmp/p20000.pdf" --layout order -o "$tmp/out.txt" 2>&1 >/dev/null | tail -n 1)
peer=$(/usr/bin/time -f %M pdftotext -raw "$tmp/p20000.pdf" /dev/null 2>&1 | tail -n 1)
printf '\n20 000 pages, one run: ours %s KiB peak, pdftotext -raw %s KiB (output %s bytes)\n' \
  "$mem" "$peer" "$(stat -c %s "$tmp/out.txt")"
