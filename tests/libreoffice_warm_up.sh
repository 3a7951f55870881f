#!/bin/sh
# Starts LibreOffice once before the tests that use it: its first start on a new machine (font
# caches, first profile) is the slow and fragile one. Converts a one-line CSV to .xlsx on a profile
# of its own, tries up to three times, and prints what soffice said. Exit 77 (skipped) when
# LibreOffice is not installed, unless CI=true, where every test tool must be there.
if ! command -v soffice >/dev/null 2>&1; then
  echo "soffice is not installed"
  [ "${CI:-}" = true ] && exit 1
  exit 77
fi
dir=$(mktemp -d "${TMPDIR:-/tmp}/qm_lo_warm_up.XXXXXX") || exit 1
trap 'rm -rf "$dir"' EXIT
printf 'a,1\n' >"$dir/warm.csv"
for attempt in 1 2 3; do
  echo "--- attempt $attempt"
  rm -rf "$dir/profile" "$dir/out"
  (cd "$dir" && timeout 300 soffice --headless "-env:UserInstallation=file://$dir/profile" \
    --convert-to xlsx --outdir out warm.csv 2>&1)
  echo "exit status $?"
  if [ -s "$dir/out/warm.xlsx" ]; then
    echo "LibreOffice started"
    exit 0
  fi
done
echo "LibreOffice did not convert a one-line CSV in three attempts"
exit 1
