#!/usr/bin/env bash
# Line and branch coverage of src/ by the test suite: builds the coverage
# preset (gcc --coverage, build-coverage), runs every test, and prints one
# row per file of src/ with its line and branch coverage.
# Needs gcovr (Debian package gcovr; installed here when missing and
# running as root).
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v gcovr >/dev/null 2>&1; then
  if [[ $(id -u) -eq 0 ]] && command -v apt-get >/dev/null 2>&1; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq gcovr
  else
    echo "coverage.sh: gcovr is missing (apt-get install gcovr)" >&2
    exit 1
  fi
fi

# A fresh tree each time: counters of an earlier run would add up with this
# one, and objects of sources since moved or removed would be counted too.
rm -rf build-coverage
cmake --preset coverage >/dev/null
cmake --build --preset coverage >/dev/null
# A failing test still leaves the coverage of everything that ran; the
# table is printed either way and the failures are named after it.
tests_ok=1
ctest --preset coverage >build-coverage/ctest.log 2>&1 || tests_ok=0

# Branches the compiler adds for exceptions are not decisions of the code.
common=(--root . --filter 'src/' --object-directory build-coverage --exclude-throw-branches
        --exclude-unreachable-branches)
lines=$(mktemp)
branches=$(mktemp)
trap 'rm -f "$lines" "$branches"' EXIT
gcovr "${common[@]}" --txt "$lines"
gcovr "${common[@]}" --txt "$branches" --branches
# One table: file, lines (total, covered, %), branches (total, covered, %).
awk '
  FNR == 1 { part++ }
  /^src\// || /^TOTAL/ {
    if (part == 1) { lt[$1] = $2; le[$1] = $3; lp[$1] = $4; order[++n] = $1 }
    else { bt[$1] = $2; be[$1] = $3; bp[$1] = $4 }
  }
  END {
    printf "%-32s %17s %19s\n", "File", "Lines", "Branches"
    for (i = 1; i <= n; i++) {
      f = order[i]
      printf "%-32s %5s/%-5s %5s %6s/%-6s %5s\n", f, le[f], lt[f], lp[f], be[f], bt[f], bp[f]
    }
  }' "$lines" "$branches"
if ((!tests_ok)); then
  echo "coverage.sh: some tests failed (log in build-coverage/ctest.log):" >&2
  sed -n '/tests FAILED:/,$p' build-coverage/ctest.log | grep -E '^\s+[0-9]+ - ' >&2 || true
  exit 1
fi
