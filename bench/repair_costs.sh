#!/usr/bin/env bash
# The cost of reconstruction on hostile files: 100 MB of `obj` keywords, a million objects
# (with numbers past 32 bits and a catalog at the largest number), 3 million distinct
# numbers. Prints seconds and peak KiB of `tolvane-text info --repair` beside the file size.
# Usage: bench/repair_costs.sh [BUILD_DIR]
set -u
cd "$(dirname "$0")/.."
bin=${1:-build}/bin/tolvane-text
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT

{ printf '%%PDF-1.4\n'; yes '1 0 obj' | head -c 104857600 | tr '\n' ' '; } >"$tmp/keywords.pdf"
{ printf '%%PDF-1.4\n'
  awk 'BEGIN { for (i = 1; i <= 1000000; i++) printf "%d 0 obj\n<< /A %d >>\nendobj\n", i, i }'
  printf '4294967296 0 obj null endobj 2147483647 65535 obj << /Type /Catalog /Pages 1 0 R >> endobj\n'
  printf 'trailer << /Root 2147483647 65535 R >>\n'; } >"$tmp/million.pdf"
{ printf '%%PDF-1.4\n'; awk 'BEGIN { for (i = 1; i <= 3000000; i++) printf "%d 0 obj ", i * 2099 }'; } \
  >"$tmp/distinct.pdf"

printf '%-14s %12s %10s %12s\n' file bytes seconds peak-KiB
for f in keywords million distinct; do
  stats=$(/usr/bin/time -f '%e %M' "$bin" info "$tmp/$f.pdf" --repair 2>&1 >/dev/null | tail -n 1)
  printf '%-14s %12s %10s %12s\n' "$f" "$(stat -c %s "$tmp/$f.pdf")" $stats
done
