#!/usr/bin/env bash
# Compares two builds of `tolvane-text` byte for byte on every file of a corpus (listed in its
# MANIFEST.tsv, with the password column used when set): `info`, and `page-text --option K` for
# K in 0..4 over every page in one call, each with and without `--repair`. Outputs and exit
# statuses are recorded per run into a folder for each binary and compared; runs that time out
# (60 s) in either build are counted apart. Set OLD_OUT to a folder to keep the old build's
# recording there (and reuse it when it exists); NEW_BIN `-` only records it.
# Usage: bench/compare_builds.sh OLD_BIN NEW_BIN [CORPUS]   (default corpus ../shared/corpus)
set -u
cd "$(dirname "$0")/.."
old=$1 new=$2 corpus=${3:-../shared/corpus}
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT

# record BIN DIR: one output file per run, its exit status on the last line
record() {
  local bin=$1 out=$2 file password pages name args
  mkdir -p "$out"
  tail -n +2 "$corpus/MANIFEST.tsv" | while IFS=$'\t' read -r file _ _ _ _ _ _ password _; do
    [ -f "$corpus/$file" ] || continue
    args=(); [ -n "$password" ] && args=(--password "$password")
    pages=$(timeout 60 "$old" info "$corpus/$file" "${args[@]}" 2>/dev/null | sed -n 's/^PageCount: //p')
    pageArgs=(); for ((p = 1; p <= ${pages:-0}; p++)); do pageArgs+=(--page "$p"); done
    for repair in "" --repair; do
      name="$out/$file${repair:+.repair}"
      { timeout 60 "$bin" info "$corpus/$file" "${args[@]}" $repair 2>/dev/null; echo "rc=$?"; } >"$name.info"
      [ ${#pageArgs[@]} -gt 0 ] || continue
      for k in 0 1 2 3 4; do
        { timeout 60 "$bin" page-text "$corpus/$file" "${pageArgs[@]}" --option $k "${args[@]}" $repair 2>/dev/null
          echo "rc=$?"; } >"$name.$k"
      done
    done
  done
}

oldOut=${OLD_OUT:-$tmp/old}
[ -n "${OLD_OUT:-}" ] && [ -d "$OLD_OUT" ] || record "$old" "$oldOut"
[ "$new" = - ] && exit 0 # only recording the old build (into OLD_OUT)
record "$new" "$tmp/new"
runs=0 diffs=0 timeouts=0
for f in "$oldOut"/*; do
  n="$tmp/new/$(basename "$f")"
  runs=$((runs + 1))
  if tail -n 1 "$f" "$n" 2>/dev/null | grep -q 'rc=124'; then
    timeouts=$((timeouts + 1))
  elif ! cmp -s "$f" "$n"; then
    diffs=$((diffs + 1)); echo "differs: $(basename "$f")"
  fi
done
echo "runs compared: $runs, differences: $diffs, timed out: $timeouts"
[ "$diffs" -eq 0 ]
