#!/usr/bin/env bash
# Whole-process times of each text road over every page of the corpus files tagged `speed` in
# MANIFEST.tsv (and a generated 2 000-page book, shown apart from the totals) beside a peer, one process per file, all
# tools interleaved in one loop (each file in turn, every tool on it, RUNS rounds), so that the
# machine's noise falls on all alike: compare ratios, not absolute times.
#   opt0     page-text --option 0       beside pdftotext -raw
#   opt3     page-text --option 3       beside mutool draw -F stext
#   smart    extract --layout smart     beside pdftotext -layout
#   reading  text                       beside pdftotext
#   floor    page_pass (load, select, inflate every content stream; no text)  beside pdftotext -raw
# With OLD_BIN set (another build's tolvane-text) its roads run in the same loop and get their
# own ratios. Ratios are peer time / our time (above 1: we are faster). Then the peak memory of
# one page-text call over all pages of two 20 000-page documents (one font for all pages, a
# font object per page) beside pdftotext -raw.
# Usage: [OLD_BIN=path] bench/compare_text.sh [RUNS]   (needs poppler-utils, mupdf-tools)
set -u
cd "$(dirname "$0")/.."
runs=${1:-3}
bin=build/bin
old=${OLD_BIN:-}
corpus=../shared/corpus
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT

source bench/common.sh
mapfile -t files < <(speed_files "$corpus")
"$bin/make_bench_pdfs" book "$tmp/book2000.pdf" 2000
files+=("$tmp/book2000.pdf")

roads=(opt0 opt3 smart reading floor)
declare -A ns pagesOf
# road BIN ROAD FILE: runs one of our roads over every page of FILE
road() {
  local b=$1 r=$2 f=$3
  case $r in
    opt0) "$b" page-text "$f" "${args[@]}" --option 0 ;;
    opt3) "$b" page-text "$f" "${args[@]}" --option 3 ;;
    smart) "$b" extract "$f" --layout smart -o - ;;
    reading) "$b" text "$f" ;;
    floor) "$bin/page_pass" "$f" ;;
  esac >/dev/null 2>&1
}
peer() {
  local r=$1 f=$2
  case $r in
    opt0 | floor) pdftotext -raw "$f" /dev/null ;;
    opt3) mutool draw -F stext -o /dev/null "$f" ;;
    smart) pdftotext -layout "$f" /dev/null ;;
    reading) pdftotext "$f" /dev/null ;;
  esac >/dev/null 2>&1
}
# timed KEY COMMAND...: adds the wall time of one run to ns[KEY]
timed() {
  local key=$1 start end
  shift
  start=$(date +%s%N)
  "$@"
  end=$(date +%s%N)
  ns[$key]=$(( ${ns[$key]:-0} + end - start ))
}

for f in "${files[@]}"; do
  pagesOf[$f]=$("$bin/tolvane-text" info "$f" 2>/dev/null | sed -n 's/^PageCount: //p')
done
for ((i = 0; i < runs; i++)); do
  for f in "${files[@]}"; do
    [ -n "${pagesOf[$f]}" ] && [ "${pagesOf[$f]}" -gt 0 ] || continue
    mapfile -t args < <(pageArgs "${pagesOf[$f]}")
    for r in "${roads[@]}"; do
      timed "new $r $f" road "$bin/tolvane-text" "$r" "$f"
      [ -n "$old" ] && [ "$r" != floor ] && timed "old $r $f" road "$old" "$r" "$f"
      [ "$r" = floor ] && [ -n "${ns[peer opt0 $f]:-}" ] && continue # the same peer as opt0
      timed "peer $r $f" peer "$r" "$f"
    done
  done
done

ms() { echo "scale=1; $1 / $runs / 1000000" | bc -l; }
ratio() { echo "scale=2; $1 / $2" | bc -l; }
printf '%-44s %-8s %6s %9s %9s %9s %7s %7s\n' file road pages "ours ms" "old ms" "peer ms" ratio "old r."
declare -A total
for f in "${files[@]}"; do
  [ -n "${ns[new opt0 $f]:-}" ] || continue
  for r in "${roads[@]}"; do
    p="peer $r"; [ "$r" = floor ] && p="peer opt0"
    n=${ns[new $r $f]} q=${ns[$p $f]} o=${ns[old $r $f]:-0}
    [ "$f" = "$tmp/book2000.pdf" ] || {
    total[new $r]=$(( ${total[new $r]:-0} + n )); total[peer $r]=$(( ${total[peer $r]:-0} + q ))
    total[old $r]=$(( ${total[old $r]:-0} + o )); }
    printf '%-44s %-8s %6d %9s %9s %9s %7s %7s\n' "$(basename "$f" | cut -c1-44)" "$r" \
      "${pagesOf[$f]}" "$(ms "$n")" "$([ "$o" -gt 0 ] && ms "$o" || echo -)" "$(ms "$q")" \
      "$(ratio "$q" "$n")" "$([ "$o" -gt 0 ] && ratio "$q" "$o" || echo -)"
  done
done
echo
echo "the speed files together (the generated book apart):"
printf '%-8s %10s %10s %10s %12s %12s\n' road "ours ms" "old ms" "peer ms" "peer/ours" "peer/old"
for r in "${roads[@]}"; do
  n=${total[new $r]} q=${total[peer $r]} o=${total[old $r]}
  printf '%-8s %10s %10s %10s %12s %12s\n' "$r" "$(ms "$n")" \
    "$([ "$o" -gt 0 ] && ms "$o" || echo -)" "$(ms "$q")" "$(ratio "$q" "$n")" \
    "$([ "$o" -gt 0 ] && ratio "$q" "$o" || echo -)"
done

mapfile -t args < <(pageArgs 20000)
for kind in flat fontpages; do
  "$bin/make_bench_pdfs" "$kind" "$tmp/p20000.pdf" 20000
  ours=$(/usr/bin/time -f %M "$bin/tolvane-text" page-text "$tmp/p20000.pdf" "${args[@]}" --option 0 2>&1 >/dev/null | tail -n 1)
  raw=$(/usr/bin/time -f %M pdftotext -raw "$tmp/p20000.pdf" /dev/null 2>&1 | tail -n 1)
  printf '20 000 pages (%s), one call: ours %s KiB, pdftotext -raw %s KiB (ratio %.2f)\n' "$kind" \
    "$ours" "$raw" "$(echo "$ours / $raw" | bc -l)"
done
