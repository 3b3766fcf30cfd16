#!/usr/bin/env bash
# Freezes an independent reader's view (openpyxl, Debian's python3-openpyxl) of the first
# worksheet of every workbook in corpus/ into expected/NAME.txt, so that the tests need no
# Python. Run from anywhere: tests/data/xlsx/make_expected.sh
#   - a workbook openpyxl cannot open, or one this program refuses on purpose (README),
#     gets the single line "refused";
#   - strict workbooks are viewed after their strict namespaces are renamed to the
#     transitional ones, which openpyxl knows;
#   - 60289.xlsx: openpyxl leaves the escape "_x000d_" of a rich-text run as it stands;
#     the expectation has it decoded to a carriage return (the escape's hex digits are
#     not case-sensitive).
set -euo pipefail
cd "$(dirname "$0")"
refused_on_purpose=(duplicate-filename.xlsx sample-beta.xlsx)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for book in corpus/*.xlsx; do
  name=$(basename "$book")
  out="expected/${name%.xlsx}.txt"
  if [[ " ${refused_on_purpose[*]} " == *" $name "* ]]; then
    echo refused > "$out"
    continue
  fi
  source=$book
  if [[ $name == *strict* ]]; then
    source="$tmp/$name"
    /usr/bin/python3 - "$book" "$source" <<'PY'
import sys, zipfile
renames = {b"http://purl.oclc.org/ooxml/spreadsheetml/main": b"http://schemas.openxmlformats.org/spreadsheetml/2006/main",
           b"http://purl.oclc.org/ooxml/officeDocument/relationships": b"http://schemas.openxmlformats.org/officeDocument/2006/relationships"}
with zipfile.ZipFile(sys.argv[1]) as zin, zipfile.ZipFile(sys.argv[2], "w") as zout:
    for info in zin.infolist():
        data = zin.read(info.filename)
        for old, new in renames.items():
            data = data.replace(old, new)
        zout.writestr(info, data)
PY
  fi
  if ! /usr/bin/python3 openpyxl_view.py "$source" > "$out" 2> /dev/null; then
    echo refused > "$out"
  fi
  if [[ $name == 60289.xlsx ]]; then sed -i 's/_x000d_/\\r/g' "$out"; fi
done
