#!/usr/bin/env bash
# Runs the fuzz targets for a while: fuzz/run.sh [seconds] [target...]
# (default 60 seconds, all targets, one after the other). Each target starts
# from a scratch copy of its seeds in fuzz/corpus; nothing generated goes into
# the tree. Inputs that fail are kept in build-fuzz/artifacts with the log.
# Prints the executions per target; exits 1 when any target failed.
set -euo pipefail
cd "$(dirname "$0")/.."

all=(list_read numeric record_reader convert unformatted_reader)
seconds=${1:-60}
if (($# > 0)); then shift; fi
targets=("$@")
((${#targets[@]})) || targets=("${all[@]}")
[[ $seconds =~ ^[1-9][0-9]*$ ]] || { echo "usage: fuzz/run.sh [seconds] [target...]" >&2; exit 2; }
for t in "${targets[@]}"; do
  [[ " ${all[*]} " == *" $t "* ]] || { echo "unknown target $t (have: ${all[*]})" >&2; exit 2; }
done

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >/dev/null

scratch=$(mktemp -d "${TMPDIR:-/tmp}/mapconv-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
artifacts=build-fuzz/artifacts
mkdir -p "$artifacts"

failed=0
for t in "${targets[@]}"; do
  options=(-max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 -print_final_stats=1
           -artifact_prefix="$artifacts/$t-")
  case $t in
    convert) options+=(-max_len=4096 -dict=fuzz/list.dict) ;;
    list_read) options+=(-max_len=1024 -dict=fuzz/list.dict) ;;
    numeric) options+=(-max_len=1024 -dict=fuzz/numbers.dict) ;;
    record_reader | unformatted_reader) options+=(-max_len=4096) ;;
  esac
  mkdir -p "$scratch/corpus/$t" "$scratch/tmp"
  cp fuzz/corpus/"$t"/* "$scratch/corpus/$t/"
  log=$scratch/$t.log
  touch "$scratch/start"
  # Through a pipe: the conversion target limits the size of the files it
  # writes, which must not cut its own crash report short.
  set +e
  TMPDIR=$scratch/tmp build-fuzz/fuzz/fuzz_"$t" "${options[@]}" "$scratch/corpus/$t" 2>&1 | cat >"$log"
  status=${PIPESTATUS[0]}
  set -e
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  if ((status == 0)); then
    printf '%-14s %10s executions (%s/s), coverage %s: no failure\n' "$t" "${runs:-?}" "${rate:-?}" "${cov:-?}"
  else
    failed=1
    cp "$log" "$artifacts/$t.log"
    printf '%-14s %10s executions: FAILED (status %d), log in %s\n' "$t" "${runs:-?}" "$status" "$artifacts/$t.log"
    grep -E -m 5 'fuzz check failed|ERROR:|runtime error|SUMMARY' "$log" | sed 's/^/    /' || true
    find "$artifacts" -name "$t-*" -newer "$scratch/start" -printf "    reproduce: build-fuzz/fuzz/fuzz_$t %p\n"
  fi
done
exit $failed
