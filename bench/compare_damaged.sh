#!/usr/bin/env bash
# Damaged copies of clean corpus files: the cross-reference information cut off, every offset
# shifted (bytes before the header), `startxref` dropped, the last 10 % truncated. Counts the
# copies that load without and with --repair, and whether the --repair text (option 0, every
# page) equals the undamaged file's, read with --repair as well (mended stream lengths); for truncated copies the pages the copy still has are
# compared one by one (a page whose content was cut reads differently).
# Usage: bench/compare_damaged.sh [BUILD_DIR] [MAX_BYTES]
set -u
cd "$(dirname "$0")/.."
bin=${1:-build}/bin/tolvane-text
max=${2:-3000000}
corpus=${CORPUS:-../shared/corpus}
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT

pages_of() { "$bin" info "$1" $2 2>/dev/null | sed -n 's/^PageCount: //p'; }
page_text() { timeout 60 "$bin" page-text "$1" --page "$2" --option 0 $3 2>/dev/null | md5sum; }

declare -A loadedBefore loadedAfter sameText total
kinds="cut-table shift-offsets drop-startxref truncate-10pc"
for k in $kinds; do loadedBefore[$k]=0; loadedAfter[$k]=0; sameText[$k]=0; total[$k]=0; done
truncPages=0; truncSame=0
for f in "$corpus"/*.pdf; do
  size=$(stat -c %s "$f")
  [ "$size" -gt "$max" ] && continue
  n=$(pages_of "$f" "")
  [ -z "$n" ] || [ "$n" -eq 0 ] && continue
  for k in $kinds; do
    d="$tmp/$k.pdf"
    case $k in
      cut-table)
        at=$(grep -abo 'startxref' "$f" | tail -1 | cut -d: -f1)
        x=$(grep -abo -E '(^|[^a-z])xref' "$f" | tail -1 | cut -d: -f1)
        [ -z "$x" ] && continue
        head -c "$x" "$f" >"$d" ;;
      shift-offsets) { printf 'some bytes before the header\n'; cat "$f"; } >"$d" ;;
      drop-startxref) LC_ALL=C sed 's/startxref/startxrex/g' "$f" >"$d" ;;
      truncate-10pc) head -c $((size * 9 / 10)) "$f" >"$d" ;;
    esac
    total[$k]=$((total[$k] + 1))
    [ -n "$(pages_of "$d" "")" ] && loadedBefore[$k]=$((loadedBefore[$k] + 1))
    m=$(pages_of "$d" --repair)
    [ -z "$m" ] && { echo "NOLOAD $k $(basename "$f")"; continue; }
    loadedAfter[$k]=$((loadedAfter[$k] + 1))
    # pages whose text survives must read as before; a truncated copy may lose pages
    if [ "$k" = truncate-10pc ]; then
      # pages of the truncated copy that read as before, of those the clean file has
      for ((p = 1; p <= m && p <= n; p++)); do
        truncPages=$((truncPages + 1))
        [ "$(page_text "$d" "$p" --repair)" = "$(page_text "$f" "$p" --repair)" ] && truncSame=$((truncSame + 1))
      done
      continue
    fi
    ok=1
    [ "$m" -ne "$n" ] && ok=0
    for ((p = 1; p <= n && ok; p++)); do
      [ "$(page_text "$d" "$p" --repair)" = "$(page_text "$f" "$p" --repair)" ] || ok=0
    done
    if [ $ok = 1 ]; then sameText[$k]=$((sameText[$k] + 1)); else echo "DIFFER $k $(basename "$f")"; fi
  done
done
for k in $kinds; do
  echo "$k: copies ${total[$k]}, load without --repair ${loadedBefore[$k]}, with --repair ${loadedAfter[$k]}, same text ${sameText[$k]}"
done
echo "truncate-10pc pages read (within the clean page count): $truncPages, same text $truncSame"
