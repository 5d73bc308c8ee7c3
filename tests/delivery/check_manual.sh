#!/usr/bin/env bash
# The manual page renders without a warning and names every result message
# of the conversion and every setting the run-time reads (FOR*, FORT*, the
# dump flags); the README's troubleshooting table has every message too.
# For mapdump's page: it renders cleanly and names every exit status and
# every message mapdump writes.
# Usage: check_manual.sh PAGE SOURCE_DIR [mapdump]
set -euo pipefail
page=$1 src=$2 program=${3:-mapconv}
status=0

if command -v groff >/dev/null; then
  out=$(groff -ww -z -man -Tutf8 "$page" 2>&1)
  [[ -z $out ]] || { echo "groff: $out"; status=1; }
else
  echo "SKIPPED: no groff (groff-base)"
  exit 77
fi
if command -v mandoc >/dev/null; then
  mandoc -Tlint "$page" || status=1
fi

if [[ $program == mapdump ]]; then
  text=$(groff -man -Tutf8 -P-cbou "$page" 2>/dev/null | tr -s ' \n' '  ')
  for phrase in "the file is empty: no map" "found a length field of" "found the end of the file" \
                "found the end of the file after" "of its length field and the end of the file" \
                "expected the trailing length field" "after the last record: expected the end" \
                "its first length field is" "the text cannot hold it" \
                "(the text written before this is incomplete)" "with its bytes reversed"; do
    grep -qF -- "$phrase" "$src/src/app/mapdump.cpp" "$src/src/app/map_text.cpp" ||
      { echo "mapdump no longer writes \"$phrase\""; status=1; }
    [[ $text == *"$phrase"* ]] || { echo "$page lacks \"$phrase\""; status=1; }
  done
  exit $status
fi

while IFS= read -r message; do
  for doc in "$page" "$src/README.md"; do
    grep -qF -- "$message" "$doc" || { echo "$doc lacks the message \"$message\""; status=1; }
  done
done < <(sed -n -e 's/.*fail([0-9]*, "\([^"]*\)").*/\1/p' \
                -e 's/.*kChange\[\] = "\([^"]*\)".*/\1/p' "$src/src/app/convert.cpp")

while IFS= read -r name; do
  grep -qF -- "$name" "$page" || { echo "$page lacks the variable $name"; status=1; }
done < <(grep -rhoE '(get_env|getenv|for_check_env_name)\("[A-Za-z0-9_]+"\)' "$src/src" |
           sed -E 's/.*\("([^"]*)"\)/\1/' | grep -E '^(FOR|f77_|qelfort_)' | sort -u)

exit $status
