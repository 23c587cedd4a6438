#!/usr/bin/env bash
# `tolvane-text page-text --option 0 --encoding utf-8` over every page of every PDF of a folder
# (default ../shared/corpus), with a per-file timeout, beside `pdftotext -raw` on the same
# pages. Prints per file: pages, exit status, seconds, and the share of pdftotext's words that
# our text has (and of ours that pdftotext has) as a sanity check: the two follow different
# rules. Usage: bench/corpus_text.sh [FOLDER] [TIMEOUT]   (needs poppler-utils, python3)
set -u
cd "$(dirname "$0")/.."
folder=${1:-../shared/corpus}
limit=${2:-30}
bin=build/bin
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
printf '%-48s %6s %6s %7s %7s %7s\n' file pages exit seconds recall precis
for f in "$folder"/*.pdf; do
  name=$(basename "$f")
  pages=$("$bin/tolvane-text" info "$f" 2>/dev/null | sed -n 's/^PageCount: //p')
  pages=${pages:-0}
  [ "$pages" -gt 2000 ] && pages=2000
  args=()
  for ((p = 1; p <= pages; p++)); do args+=(--page "$p"); done
  start=$(date +%s%N)
  if [ "$pages" -gt 0 ]; then
    timeout "$limit" "$bin/tolvane-text" page-text "$f" "${args[@]}" --option 0 --encoding utf-8 \
      > "$tmp/ours.txt" 2>/dev/null
    status=$?
  else
    : > "$tmp/ours.txt"; status=-
  fi
  end=$(date +%s%N)
  timeout "$limit" pdftotext -raw -l "$pages" "$f" "$tmp/peer.txt" 2>/dev/null || : > "$tmp/peer.txt"
  scores=$(python3 - "$tmp/ours.txt" "$tmp/peer.txt" <<'PY'
import collections, sys
def words(path):
    with open(path, 'rb') as f:
        return collections.Counter(f.read().decode('utf-8', 'replace').split())
ours, peer = words(sys.argv[1]), words(sys.argv[2])
common = sum((ours & peer).values())
print(f"{common / max(1, sum(peer.values())):.3f} {common / max(1, sum(ours.values())):.3f}")
PY
)
  printf '%-48s %6s %6s %7.2f %7s %7s\n' "${name:0:48}" "$pages" "$status" \
    "$(echo "($end - $start) / 1000000000" | bc -l)" $scores
done
