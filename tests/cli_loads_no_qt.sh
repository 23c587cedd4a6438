#!/bin/sh
# Fails when the command-line program needs Qt: linked against it, or loading it (or ICU,
# which only sorting rows, numbers and dates may open) while it answers info and page-text.
# Usage: cli_loads_no_qt.sh TOLVANE_TEXT SAMPLE_PDF
cli=$1
pdf=$2
status=0
needed=$(readelf -d "$cli" | grep NEEDED)
if echo "$needed" | grep -E 'libQt|libicu'; then
  echo "tolvane-text is linked against Qt or ICU"; status=1
fi
for command in "--version" "info $pdf" "page-text $pdf --page 1 --option 0" \
                "page-text $pdf --page 1 --option 3" "text $pdf -o /dev/null"; do
  # shellcheck disable=SC2086
  loaded=$(LD_DEBUG=libs "$cli" $command 2>&1 >/dev/null | grep -E 'calling init: .*(libQt|libicu)')
  if [ -n "$loaded" ]; then
    echo "tolvane-text $command loads:"; echo "$loaded"; status=1
  fi
done
exit $status
