#!/usr/bin/env bash
# Pages per second of `tolvane-text page-text --option 3` (positioned text) over every page of
# the corpus files tagged `speed` in MANIFEST.tsv and of a generated 2 000-page book, beside
# `mutool draw -F stext` and `pdftotext -bbox-layout`, one process per file, measured in one
# run (compare ratios, not absolute times); then the peak memory of one call over all pages of
# a 20 000-page document (a book, and one line per page) beside both.
# Usage: bench/compare_positioned.sh [RUNS]   (needs mupdf-tools and poppler-utils)
set -u
cd "$(dirname "$0")/.."
runs=${1:-1}
bin=build/bin
corpus=../shared/corpus
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT

source bench/common.sh
mapfile -t files < <(speed_files "$corpus")
"$bin/make_bench_pdfs" book "$tmp/book2000.pdf" 2000
files+=("$tmp/book2000.pdf")

elapsed() { # nanoseconds of RUNS runs of the command
  local start end i
  start=$(date +%s%N)
  for ((i = 0; i < runs; i++)); do "$@" >/dev/null 2>&1; done
  end=$(date +%s%N)
  echo $(( (end - start) / runs ))
}

total=0; ours_ns=0; mu_ns=0; pop_ns=0
printf '%-40s %6s %9s %9s %9s %6s %6s\n' file pages "ours ms" "mutool" "bbox" "mu/us" "pop/us"
for f in "${files[@]}"; do
  pages=$("$bin/tolvane-text" info "$f" 2>/dev/null | sed -n 's/^PageCount: //p')
  [ -z "$pages" ] || [ "$pages" -eq 0 ] && continue
  mapfile -t args < <(pageArgs "$pages")
  o=$(elapsed "$bin/tolvane-text" page-text "$f" "${args[@]}" --option 3)
  m=$(elapsed mutool draw -q -F stext -o /dev/null "$f")
  p=$(elapsed pdftotext -bbox-layout "$f" /dev/null)
  total=$((total + pages)); ours_ns=$((ours_ns + o)); mu_ns=$((mu_ns + m)); pop_ns=$((pop_ns + p))
  printf '%-40s %6d %9.1f %9.1f %9.1f %6.2f %6.2f\n' "$(basename "$f" | cut -c1-40)" "$pages" \
    "$(echo "$o / 1000000" | bc -l)" "$(echo "$m / 1000000" | bc -l)" \
    "$(echo "$p / 1000000" | bc -l)" "$(echo "$m / $o" | bc -l)" "$(echo "$p / $o" | bc -l)"
done
printf 'pages per second: ours %.0f, mutool stext %.0f, pdftotext -bbox-layout %.0f\n' \
  "$(echo "$total / ($ours_ns / 1000000000)" | bc -l)" \
  "$(echo "$total / ($mu_ns / 1000000000)" | bc -l)" \
  "$(echo "$total / ($pop_ns / 1000000000)" | bc -l)"
printf 'ours / mutool = %.2f, ours / pdftotext = %.2f\n' \
  "$(echo "$mu_ns / $ours_ns" | bc -l)" "$(echo "$pop_ns / $ours_ns" | bc -l)"

mapfile -t args < <(pageArgs 20000)
peak() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1; }
for kind in book flat; do
  "$bin/make_bench_pdfs" "$kind" "$tmp/p20000.pdf" 20000 >/dev/null
  printf 'peak KiB over 20 000 pages (%s): ours %s, mutool stext %s, pdftotext -bbox-layout %s\n' \
    "$kind" "$(peak "$bin/tolvane-text" page-text "$tmp/p20000.pdf" "${args[@]}" --option 3)" \
    "$(peak mutool draw -q -F stext -o /dev/null "$tmp/p20000.pdf")" \
    "$(peak pdftotext -bbox-layout "$tmp/p20000.pdf" /dev/null)"
done
