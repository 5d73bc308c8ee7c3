#!/usr/bin/env bash
# Benchmarks build/mapconv against two baseline converters on a 1,000,000-point map.
#
#   bench/run_bench.sh [-n RUNS] [--no-build]
#
# Builds the benchmark tools (build-bench/bench/) and the converter (build/mapconv),
# checks all three converters on a two-point map whose output is known byte for byte,
# checks that the generator still reproduces examples/field.map, generates the
# 100 x 100 x 100 map into bench/out/, converts it with each converter, requires the
# three outputs to be identical, and prints the median wall time and peak memory of
# each over RUNS runs (default 7).
#
# Environment: MAPCONV (default build/mapconv) and BENCH_TOOLS (default build-bench/bench)
# point at other binaries; BENCH_TIMER=hyperfine|time|bash forces a timing method
# (default: hyperfine if installed, else /usr/bin/time, else bash's own timing without
# memory figures).
set -euo pipefail

die() {
  printf 'run_bench: %s\n' "$*" >&2
  exit 1
}
note() { printf '== %s\n' "$*"; }

runs=7
build=1
while (($# > 0)); do
  case $1 in
    -n)
      [[ $# -ge 2 && $2 =~ ^[1-9][0-9]*$ ]] || die "-n needs a positive number of runs"
      runs=$2
      shift 2
      ;;
    --no-build)
      build=0
      shift
      ;;
    -h | --help)
      sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'
      exit 0
      ;;
    *) die "unknown argument '$1' (try --help)" ;;
  esac
done

# Work from the repository root with relative paths: the converter uses only the first
# 80 characters of a file name, so absolute paths in a deep checkout could be cut.
cd "$(dirname "${BASH_SOURCE[0]}")/.."

mapconv=${MAPCONV:-build/mapconv}
tools=${BENCH_TOOLS:-build-bench/bench}
out=bench/out
nx=100 ny=100 nz=100

if ((build)); then
  command -v cmake >/dev/null || die "cmake is not installed"
  note "building the benchmark tools (build-bench/)"
  if ! { cmake --preset bench >/dev/null && cmake --build --preset bench; }; then
    die "building the benchmark tools failed"
  fi
  note "building the converter (build/)"
  cmake --workflow --preset build >/dev/null || die "building the converter failed"
fi

for exe in "$tools/gen_map" "$tools/baseline_getline" "$tools/baseline_fast" "$mapconv"; do
  [[ -x $exe ]] || die "$exe is missing after the build step"
done

mkdir -p "$out"
names=(mapconv fast getline)
declare -A prog=([mapconv]=$mapconv [fast]=$tools/baseline_fast [getline]=$tools/baseline_getline)

# Runs converter $1 on $2 -> $3 and insists on its success text: a converter that fails
# may still leave an output file behind.
run_converter() {
  local name=$1 in=$2 result=$3 said
  rm -f "$result"
  said=$("${prog[$name]}" "$in" "$result" 2>&1) ||
    die "$name failed on $in (exit status $?): $said"
  [[ $said == *"conversion done."* ]] || die "$name did not convert $in: $said"
  [[ -f $result ]] || die "$name reported success but wrote no $result"
}

# Hex digits of a text blank-padded to $2 characters.
text_hex() { printf '%-*s' "$2" "$1" | od -An -v -tx1 | tr -d ' \n'; }
file_hex() { od -An -v -tx1 "$1" | tr -d ' \n'; }

# --- Check 1: the two-point map, byte for byte --------------------------------------
# Each record is its data length (4 bytes, little-endian), the data, the length again.
expected=$(
  printf '%s' 50000000 "$(text_hex 'Example field' 80)" 50000000
  printf '%s' 12000000 "$(text_hex '08-Dec-2026' 18)" 12000000
  printf '%s' 1c000000 "$(text_hex X 8)$(text_hex Y 8)$(text_hex Z 8)" 0000b442 1c000000
  printf '%s' 30000000 000000000000000000000000 \
    000000000000000000000000 010000000000000000000000 020000000100000001000000 30000000
  printf '%s' 18000000 0000003f0000003f0000003f 020000000100000001000000 18000000
  printf '%s' 18000000 0000803f0000000000000000 000000000000803f00000000 18000000
)
((${#expected} == 2 * 270)) || die "internal error: expected two-point output is not 270 bytes"
note "checking the two-point map (bench/testdata/two_points.map)"
for name in "${names[@]}"; do
  run_converter "$name" bench/testdata/two_points.map "$out/two_points.$name.unf"
  actual=$(file_hex "$out/two_points.$name.unf")
  if [[ $actual != "$expected" ]]; then
    printf 'expected vs %s (hex, 16 bytes a line):\n' "$name" >&2
    diff <(fold -w32 <<<"$expected") <(fold -w32 <<<"$actual") >&2 || true
    die "$name converts the two-point map wrongly"
  fi
done

# --- Check 2: the generator is deterministic and CR LF reads like LF ---------------------
note "checking the generator against examples/field.map and CR LF line ends"
"$tools/gen_map" 16 12 10 >"$out/field.map"
cmp "$out/field.map" examples/field.map ||
  die "gen_map 16 12 10 no longer reproduces examples/field.map; if the generator was changed on purpose, regenerate the example"
"$tools/gen_map" 16 12 10 --crlf >"$out/field_crlf.map"
for name in "${names[@]}"; do
  run_converter "$name" examples/field.map "$out/field.$name.unf"
  run_converter "$name" "$out/field_crlf.map" "$out/field_crlf.$name.unf"
  cmp "$out/field.$name.unf" "$out/field_crlf.$name.unf" ||
    die "$name converts the CR LF copy of examples/field.map differently"
  cmp "$out/field.$name.unf" "$out/field.mapconv.unf" ||
    die "$name and mapconv disagree on examples/field.map"
done

# --- The benchmark map ----------------------------------------------------------------
map=$out/map_${nx}x${ny}x${nz}.txt
note "generating $map"
"$tools/gen_map" $nx $ny $nz >"$map"

# Names a byte offset (from 1) of an output file: which record it falls in.
locate() {
  local off=$(($1 - 1)) size=$((12 * nx * ny)) at
  if ((off < 238)); then
    printf 'the header records, byte offset %d' "$off"
    return
  fi
  at=$(((off - 238) % (size + 8) - 4))
  printf 'plane record %d, ' $(((off - 238) / (size + 8) + 1))
  if ((at < 0 || at >= size)); then
    printf 'a length field'
  else
    printf 'grid point %d of the plane, component %d' $((at / 12 + 1)) $((at % 12 / 4 + 1))
  fi
}

note "converting it once with each converter and comparing the outputs"
for name in "${names[@]}"; do
  run_converter "$name" "$map" "$out/bench.$name.unf"
done
for name in fast getline; do
  if ! diff_at=$(cmp "$out/bench.mapconv.unf" "$out/bench.$name.unf" 2>&1); then
    first=$(sed -n 's/.* byte \([0-9]*\).*/\1/p' <<<"$diff_at")
    die "outputs differ: $diff_at${first:+ (in $(locate "$first"))}"
  fi
done
note "all three outputs are identical ($(stat -c %s "$out/bench.mapconv.unf") bytes)"

# --- Timing -------------------------------------------------------------------------
timer=${BENCH_TIMER:-}
if [[ -z $timer ]]; then
  if command -v hyperfine >/dev/null; then
    timer=hyperfine
  else
    timer="time"
  fi
fi
if [[ $timer != bash && ! -x /usr/bin/time ]]; then
  if ((EUID == 0)) && command -v apt-get >/dev/null; then
    note "installing GNU time for memory figures"
    apt-get install -y -qq time >/dev/null 2>&1 || true
  fi
  if [[ ! -x /usr/bin/time ]]; then
    note "/usr/bin/time is not available: timing with bash, no memory figures"
    [[ $timer == hyperfine ]] || timer=bash
  fi
fi
case $timer in hyperfine | time | bash) ;; *) die "BENCH_TIMER must be hyperfine, time or bash" ;; esac

declare -A median peak
scratch=$out/timing
rm -rf "$scratch"
mkdir -p "$scratch"

# Appends one run's "seconds maxrss_kib" (maxrss "-" when unknown) to $scratch/$name.
time_once() {
  local name=$1 t0 t1 elapsed stats
  if [[ $timer == bash ]]; then
    local TIMEFORMAT=%3R
    { time "${prog[$name]}" "$map" "$scratch/$name.unf" >/dev/null 2>&1; } 2>"$scratch/t" ||
      die "$name failed during timing"
    printf '%s -\n' "$(<"$scratch/t")" >>"$scratch/$name"
    return
  fi
  # /usr/bin/time prints elapsed time in hundredths only; bash's clock around it gives
  # microseconds and costs the same for every converter.
  t0=$EPOCHREALTIME
  /usr/bin/time -o "$scratch/t" -f '%e %M' "${prog[$name]}" "$map" "$scratch/$name.unf" \
    >/dev/null 2>&1 || die "$name failed during timing"
  t1=$EPOCHREALTIME
  read -r elapsed stats <"$scratch/t"
  if [[ -n $t0 && -n $t1 ]]; then
    elapsed=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.4f", b - a }')
  fi
  printf '%s %s\n' "$elapsed" "$stats" >>"$scratch/$name"
}

if [[ $timer == hyperfine ]]; then
  note "timing $runs runs each with hyperfine"
  cmds=()
  for name in "${names[@]}"; do
    cmds+=("${prog[$name]} $map $scratch/$name.unf")
  done
  hyperfine -N --warmup 1 --runs "$runs" --export-json "$scratch/hyperfine.json" \
    "${cmds[@]}" >/dev/null || die "hyperfine failed"
  mapfile -t medians < <(grep -o '"median": *[0-9.eE+-]*' "$scratch/hyperfine.json" |
    sed 's/.*: *//')
  ((${#medians[@]} == ${#names[@]})) || die "cannot read the medians from hyperfine's report"
  for i in "${!names[@]}"; do
    median[${names[$i]}]=$(awk -v m="${medians[$i]}" 'BEGIN { printf "%.4f", m }')
    peak[${names[$i]}]=-
  done
  # Peak memory from one more run each, when GNU time is there.
  if [[ -x /usr/bin/time ]]; then
    for name in "${names[@]}"; do
      /usr/bin/time -o "$scratch/t" -f '%M' "${prog[$name]}" "$map" "$scratch/$name.unf" \
        >/dev/null 2>&1 || die "$name failed during timing"
      peak[$name]=$(<"$scratch/t")
    done
  fi
else
  note "timing $runs runs each (interleaved) with $([[ $timer == time ]] && echo /usr/bin/time || echo bash)"
  for ((r = 0; r < runs; r++)); do
    for name in "${names[@]}"; do
      time_once "$name"
    done
  done
  for name in "${names[@]}"; do
    median[$name]=$(sort -g -k1,1 "$scratch/$name" | awk '{ t[NR] = $1 }
      END { printf "%.4f", NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2 }')
    peak[$name]=$(awk '$2 != "-" && $2 > m { m = $2 } END { print m ? m : "-" }' "$scratch/$name")
  done
fi

# --- Report -------------------------------------------------------------------------
printf '\n%d x %d x %d map (%d points, %s bytes), %d runs each\n\n' \
  $nx $ny $nz $((nx * ny * nz)) "$(stat -c %s "$map")" "$runs"
printf '%-18s %12s %14s\n' converter 'median (s)' 'max RSS (MiB)'
for name in "${names[@]}"; do
  label=$name
  [[ $name == mapconv ]] || label=baseline_$name
  if [[ ${peak[$name]} == - ]]; then
    mem=n/a
  else
    mem=$(awk -v k="${peak[$name]}" 'BEGIN { printf "%.1f", k / 1024 }')
  fi
  printf '%-18s %12s %14s\n' "$label" "${median[$name]}" "$mem"
done
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
printf '\nmapconv / baseline_fast:    %s\n' "$(ratio "${median[mapconv]}" "${median[fast]}")"
printf 'baseline_getline / mapconv: %s\n' "$(ratio "${median[getline]}" "${median[mapconv]}")"
