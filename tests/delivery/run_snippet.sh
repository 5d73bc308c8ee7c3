#!/usr/bin/env bash
# Runs one reader of docs/format.md on the converted example map and checks
# what it prints against the text map. The reader is taken from the document
# itself: the fenced block after the line "<!-- snippet: NAME -->".
# Usage: run_snippet.sh NAME FORMAT_MD MAPCONV TEXT_MAP CHECKER WORK_DIR [--big-endian-too]
# Exit status 77 (skipped) when the reader's language is not installed.
set -euo pipefail
name=$1 doc=$2 mapconv=$3 map=$4 checker=$5 work=$6 big=${7:-}

rm -rf "$work" && mkdir -p "$work"
awk -v marker="<!-- snippet: $name -->" '
  $0 == marker { found = 1; next }
  found == 1 && /^```/ { found = 2; next }
  found == 2 && /^```/ { exit }
  found == 2 { print }' "$doc" > "$work/$name"
if [[ ! -s "$work/$name" ]]; then
  echo "no snippet $name in $doc" >&2
  exit 1
fi

skip() {
  echo "SKIPPED: $*"
  exit 77
}
python_with() {
  for p in python3 /usr/bin/python3; do
    if command -v "$p" >/dev/null && "$p" -c "import $1" 2>/dev/null; then
      echo "$p"
      return
    fi
  done
}

case $name in
  *scipy*.py)
    py=$(python_with "numpy, scipy") || true
    [[ -n $py ]] || skip "no python3 with numpy and scipy (python3-numpy, python3-scipy)"
    reader=("$py" "$work/$name")
    ;;
  *.py)
    py=$(python_with "struct") || true
    [[ -n $py ]] || skip "no python3"
    reader=("$py" "$work/$name")
    ;;
  *.c)
    cc=${CC:-cc}
    command -v "$cc" >/dev/null || skip "no C compiler ($cc)"
    "$cc" -std=c11 -O2 -Wall -Wextra -pedantic -Werror -o "$work/reader" "$work/$name"
    reader=("$work/reader")
    ;;
  *.f90)
    command -v gfortran >/dev/null || skip "no gfortran"
    gfortran -std=f2008 -O2 -Wall -Werror -o "$work/reader" "$work/$name"
    reader=("$work/reader")
    ;;
  *)
    echo "no way to run $name" >&2
    exit 1
    ;;
esac

check() {  # the environment setting of the conversion, or nothing
  local unf="$work/field.unf" done
  done=$(env "$@" "$mapconv" "$map" "$unf")
  [[ $done == $' conversion done.\r' ]] || { echo "conversion failed: $done" >&2; exit 1; }
  "${reader[@]}" "$unf" > "$work/printed.txt"
  "$checker" "$map" "$work/printed.txt"
}
check LC_ALL=C
[[ $big != --big-endian-too ]] || check LC_ALL=C FORT_CONVERT21=BIG_ENDIAN
echo "$name reads the example map"
