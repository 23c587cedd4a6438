#!/usr/bin/env bash
# Pages per second of `tolvane-text page-text --option 0` over every page of the corpus files
# tagged `speed` in MANIFEST.tsv and of a generated 2 000-page document, beside `pdftotext
# -raw`, one process per file, measured in one run (compare ratios, not absolute times); and
# the peak memory of one page-text call over all pages of a 20 000-page document beside
# pdftotext -raw. Usage: bench/compare_text.sh [RUNS]   (needs poppler-utils)
set -u
cd "$(dirname "$0")/.."
runs=${1:-3}
bin=build/bin
corpus=../shared/corpus
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT

source bench/common.sh
mapfile -t files < <(speed_files "$corpus")
"$bin/make_bench_pdfs" flat "$tmp/book2000.pdf" 2000
files+=("$tmp/book2000.pdf")

total_pages=0; ours_ns=0; peer_ns=0
printf '%-44s %6s %10s %10s %7s\n' file pages "ours ms" "raw ms" ratio
for f in "${files[@]}"; do
  pages=$("$bin/tolvane-text" info "$f" 2>/dev/null | sed -n 's/^PageCount: //p')
  [ -z "$pages" ] || [ "$pages" -eq 0 ] && continue
  mapfile -t args < <(pageArgs "$pages")
  start=$(date +%s%N)
  for ((i = 0; i < runs; i++)); do
    "$bin/tolvane-text" page-text "$f" "${args[@]}" --option 0 >/dev/null 2>&1
  done
  mid=$(date +%s%N)
  for ((i = 0; i < runs; i++)); do pdftotext -raw "$f" /dev/null 2>/dev/null; done
  end=$(date +%s%N)
  o=$(( (mid - start) / runs )); r=$(( (end - mid) / runs ))
  total_pages=$((total_pages + pages)); ours_ns=$((ours_ns + o)); peer_ns=$((peer_ns + r))
  printf '%-44s %6d %10.1f %10.1f %7.2f\n' "$(basename "$f" | cut -c1-44)" "$pages" \
    "$(echo "$o / 1000000" | bc -l)" "$(echo "$r / 1000000" | bc -l)" "$(echo "$r / $o" | bc -l)"
done
printf 'pages per second: ours %.0f, pdftotext -raw %.0f (ours / raw = %.2f)\n' \
  "$(echo "$total_pages / ($ours_ns / 1000000000)" | bc -l)" \
  "$(echo "$total_pages / ($peer_ns / 1000000000)" | bc -l)" "$(echo "$peer_ns / $ours_ns" | bc -l)"

"$bin/make_bench_pdfs" flat "$tmp/p20000.pdf" 20000
mapfile -t args < <(pageArgs 20000)
ours=$(/usr/bin/time -f %M "$bin/tolvane-text" page-text "$tmp/p20000.pdf" "${args[@]}" --option 0 2>&1 >/dev/null | tail -n 1)
raw=$(/usr/bin/time -f %M pdftotext -raw "$tmp/p20000.pdf" /dev/null 2>&1 | tail -n 1)
printf '20 000 pages, one call: ours %s KiB, pdftotext -raw %s KiB (ratio %.2f)\n' "$ours" "$raw" \
  "$(echo "$ours / $raw" | bc -l)"
