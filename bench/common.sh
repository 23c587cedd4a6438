# Shared by the corpus benchmarks (sourced): the corpus files tagged `speed` in MANIFEST.tsv,
# and the page arguments of one call over every page.

# Prints the paths of the corpus files tagged `speed`, one a line. Empty columns must not
# collapse: the tags are the ninth column, separated by commas.
speed_files() { # CORPUS
  awk -F'\t' -v dir="$1" 'NR > 1 && ("," $9 ",") ~ /,speed,/ { print dir "/" $1 }' \
    "$1/MANIFEST.tsv"
}

pageArgs() { # --page 1 ... --page N, an argument a line
  local n=$1 p
  for ((p = 1; p <= n; p++)); do printf -- '--page\n%d\n' "$p"; done
}
