#!/usr/bin/env bash
# Encryption round trip against qpdf: every corpus file that `qpdf --check` accepts is encrypted
# by `qpdf --encrypt` in each mode (RC4 40 and 128, AES-128, AES-256 R6; empty and non-empty
# user password; with and without --cleartext-metadata where qpdf allows it) and its
# `page-text --option 0` text, every page, must equal that of the unencrypted file (as qpdf
# writes it).
# Prints one line per mismatch and a summary.
# Usage: bench/compare_encrypted.sh [BUILD_DIR] [MAX_BYTES]   (needs qpdf)
set -u
cd "$(dirname "$0")/.."
bin=${1:-build}/bin/tolvane-text
max=${2:-3000000}
corpus=${CORPUS:-../shared/corpus}
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT

modes=(
  "rc4-40|40|"
  "rc4-128|128|--use-aes=n"
  "aes-128|128|--use-aes=y"
  "aes-128-clearmeta|128|--use-aes=y --cleartext-metadata"
  "aes-256|256|"
  "aes-256-clearmeta|256|--cleartext-metadata"
)

# all pages' text of a file: "page-text" with every page, the password when given
text_of() {
  local file=$1 pw=$2 n args=()
  n=$("$bin" info "$file" ${pw:+--password "$pw"} 2>/dev/null | sed -n 's/^PageCount: //p')
  [ -z "$n" ] && { echo "<no load>"; return; }
  for ((p = 1; p <= n; p++)); do args+=(--page "$p"); done
  [ "$n" -eq 0 ] && { echo "<no pages>"; return; }
  timeout 120 "$bin" page-text "$file" --option 0 "${args[@]}" ${pw:+--password "$pw"} 2>/dev/null |
    md5sum
}

files=0; runs=0; same=0; differ=0; skipped=0
for f in "$corpus"/*.pdf; do
  size=$(stat -c %s "$f")
  [ "$size" -gt "$max" ] && continue
  qpdf --check "$f" >/dev/null 2>&1 || continue
  files=$((files + 1))
  # The base is qpdf's unencrypted rewrite of the file: the same objects as the encrypted one
  # (qpdf mends damaged files as it writes them).
  qpdf --allow-weak-crypto "$f" "$tmp/plain.pdf" >/dev/null 2>&1
  [ -s "$tmp/plain.pdf" ] || continue
  base=$(text_of "$tmp/plain.pdf" "")
  for mode in "${modes[@]}"; do
    IFS='|' read -r name bits extra <<<"$mode"
    for user in "" "user"; do
      out="$tmp/enc.pdf"
      # shellcheck disable=SC2086
      if ! qpdf --allow-weak-crypto "$f" --encrypt "$user" owner "$bits" $extra -- "$out" >/dev/null 2>&1; then
        [ -s "$out" ] || { skipped=$((skipped + 1)); continue; }
      fi
      runs=$((runs + 1))
      got=$(text_of "$out" "$user")
      if [ "$got" = "$base" ]; then
        same=$((same + 1))
      else
        differ=$((differ + 1))
        echo "DIFFER $(basename "$f") $name user='${user}'"
      fi
      rm -f "$out"
    done
  done
done
echo "files $files, encrypted copies $runs: same text $same, different $differ, qpdf refused $skipped"
