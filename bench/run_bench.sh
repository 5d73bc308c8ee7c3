#!/usr/bin/env bash
# Benchmarks build/mapconv against baseline converters on a 1,000,000-point map.
#
#   bench/run_bench.sh [-n RUNS] [--no-build] [--callgrind]
#
# Builds the benchmark tools (build-bench/bench/) and the converter (build/mapconv),
# checks every converter on a two-point map whose output is known byte for byte, checks
# that the generator still reproduces examples/field.map, requires every baseline's
# output to equal mapconv's on generated maps of several shapes, seeds and line ends and
# on a map of negative zeros, then generates the 100 x 100 x 100 map into bench/out/ and
# times RUNS interleaved rounds (default 7) of all converters, one of each per round.
# Reported: each converter's median wall time, median CPU time (user + system) and peak
# memory (max RSS), and mapconv's ratio to baseline_stream (block reads, the yardstick),
# baseline_fast (the whole input mapped) and baseline_getline: the ratio of the wall
# medians, the median of the per-round wall ratios (which cancels slow drift of a shared
# machine) and the ratio of the CPU medians.
#
# --callgrind: instead of timing, counts instructions with valgrind's callgrind on a
# 100 x 100 x 10 map (100,010 input lines) and prints instructions per input line for
# each converter and mapconv's top functions (inclusive and self, per line). The counts
# are deterministic, unlike wall times on a shared machine.
#
# mapdump (build/mapdump) is timed paired with mapconv, in the same rounds: it turns
# mapconv's output of the benchmark map back into text (-o), which must convert to the
# same bytes again; reported are its median times, its peak memory and its ratio to
# mapconv's conversion of the same map (the aim: at most 1.5).
#
# Zeros: the baselines read a zero written without a significant digit ("-0.0") as
# +0.0, as mapconv does; std::from_chars alone would keep the sign. The checks include a
# map of such zeros, so all outputs are compared byte for byte.
#
# Environment: MAPCONV (default build/mapconv) and BENCH_TOOLS (default build-bench/bench)
# point at other binaries; BENCH_TIMER=time|bash picks the timing method (default: GNU
# /usr/bin/time, installed when missing and possible; bash's own timing has no memory
# figures).
set -euo pipefail

die() {
  printf 'run_bench: %s\n' "$*" >&2
  exit 1
}
note() { printf '== %s\n' "$*"; }

runs=7
build=1
callgrind=0
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
    --callgrind)
      callgrind=1
      shift
      ;;
    -h | --help)
      awk 'NR > 1 && !/^#/ { exit } NR > 1 { sub(/^# ?/, ""); print }' "$0"
      exit 0
      ;;
    *) die "unknown argument '$1' (try --help)" ;;
  esac
done

timer=${BENCH_TIMER:-time}
case $timer in
  time | bash) ;;
  *) die "BENCH_TIMER must be time or bash (the runs must interleave)" ;;
esac

# Work from the repository root with relative paths: the converter uses only the first
# 80 characters of a file name, so absolute paths in a deep checkout could be cut.
cd "$(dirname "${BASH_SOURCE[0]}")/.."

mapconv=${MAPCONV:-build/mapconv}
mapdump=${MAPDUMP:-build/mapdump}
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

names=(mapconv stream fast getline)
declare -A prog=([mapconv]=$mapconv [stream]=$tools/baseline_stream
  [fast]=$tools/baseline_fast [getline]=$tools/baseline_getline)
for exe in "$tools/gen_map" "$mapdump" "${prog[@]}"; do
  [[ -x $exe ]] || die "$exe is missing after the build step"
done
label() { if [[ $1 == mapconv || $1 == mapdump ]]; then echo "$1"; else echo "baseline_$1"; fi; }
mkdir -p "$out"

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

# Names a byte offset (from 1) of an output file of an $2 x $3 grid: which record it is in.
locate() {
  local off=$(($1 - 1)) size=$((12 * $2 * $3)) at
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

# Converts map $1 (an $2 x $3 grid) with every converter and requires mapconv's bytes.
same_as_mapconv() {
  local map=$1 base diff_at first name
  base=$out/$(basename "${map%.*}")
  for name in "${names[@]}"; do
    run_converter "$name" "$map" "$base.$name.unf"
    [[ $name == mapconv ]] && continue
    if ! diff_at=$(cmp "$base.mapconv.unf" "$base.$name.unf" 2>&1); then
      first=$(sed -n 's/.* byte \([0-9]*\).*/\1/p' <<<"$diff_at")
      die "$name and mapconv disagree on $map: $diff_at${first:+ (in $(locate "$first" "$2" "$3"))}"
    fi
  done
}

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
same_as_mapconv examples/field.map 16 12
same_as_mapconv "$out/field_crlf.map" 16 12
cmp "$out/field.mapconv.unf" "$out/field_crlf.mapconv.unf" ||
  die "mapconv converts the CR LF copy of examples/field.map differently"

# --- Check 3: other shapes and seeds, empty grids, negative zeros ---------------------
note "checking every baseline against mapconv on generated maps and negative zeros"
for shape in "1 1 1" "0 5 3" "7 5 0" "13 11 7 --seed 3" "250 3 2 --seed 9 --crlf"; do
  read -r gx gy _ <<<"$shape"
  # shellcheck disable=SC2086 # the shape is several arguments
  "$tools/gen_map" $shape >"$out/shape.map"
  same_as_mapconv "$out/shape.map" "$gx" "$gy"
done
# A zero without a significant digit reads as +0.0 in any spelling; an underflow keeps
# its sign.
printf '%s\n' 'Zeros' 'D' 'X Y Z' '-0.0' '-0.0, -0., -.0E5' '0 0 0' '0 0 0' '0 0 0' \
  '-0.0E+00 0.5 -0' '2 1 1' '-0.0 -0.0000000E+00 -0E-3' ' -1e-50 0.0 -.0' >"$out/zeros.map"
same_as_mapconv "$out/zeros.map" 2 1

if ((callgrind)); then
  command -v valgrind >/dev/null || die "valgrind is not installed"
  cx=100 cy=100 cz=10
  cmap=$out/map_${cx}x${cy}x${cz}.txt
  lines=$((10 + cx * cy * cz))
  "$tools/gen_map" $cx $cy $cz >"$cmap"
  note "counting instructions with callgrind on $cmap ($lines input lines)"
  printf '\n%-18s %16s %10s\n' converter instructions 'per line'
  for name in mapconv stream fast; do
    cg=$out/callgrind.$name.out
    valgrind --tool=callgrind --callgrind-out-file="$cg" "${prog[$name]}" "$cmap" \
      "$out/cg.$name.unf" >"$out/callgrind.$name.log" 2>&1 ||
      die "$name failed under callgrind (see $out/callgrind.$name.log)"
    total=$(sed -n 's/^summary: *//p' "$cg")
    [[ -n $total ]] || die "no instruction total in $cg"
    printf '%-18s %16s %10.1f\n' "$(label "$name")" "$total" "$(awk -v t="$total" -v n="$lines" 'BEGIN { print t / n }')"
    [[ $name == mapconv ]] || cmp "$out/cg.mapconv.unf" "$out/cg.$name.unf" ||
      die "$name and mapconv disagree on $cmap"
  done

  # Top functions of mapconv by inclusive count, with their self count; names lose
  # their file, binary and parameter list.
  printf '\nmapconv, top 15 functions, instructions per input line:\n'
  printf '%10s %10s  %s\n' inclusive self function
  table() {
    callgrind_annotate --threshold=100 "$@" "$out/callgrind.mapconv.out" |
      sed -n '/file:function/,$p' | sed -E -n 's/^ *([0-9,]+) \( *[0-9.]+%\)  (.*)$/\1\t\2/p' |
      tr -d ,
  }
  awk -F '\t' -v lines="$lines" '
    NR == FNR { self[$2] = $1; next }
    { name = $2
      if (name ~ /^[?]+:0x|[(]below main[)]|__libc_start_main|^[?]+:main |for_main|map_front_end/)
        next
      sub(/ \[[^]]*\]$/, "", name); sub(/^[^:]*:/, "", name)
      gsub(/\(anonymous namespace\)/, "{anon}", name); sub(/\(.*$/, "", name)
      printf "%10.1f %10.1f  %s\n", $1 / lines, self[$2] / lines, name
      if (++shown == 15) exit }' <(table) <(table --inclusive=yes)
  printf '\n(callgrind data: %s/callgrind.*.out; callgrind_annotate shows more)\n' "$out"
  exit 0
fi

# --- The benchmark map ----------------------------------------------------------------
map=$out/map_${nx}x${ny}x${nz}.txt
note "generating $map"
"$tools/gen_map" $nx $ny $nz >"$map"
note "converting it once with each converter and comparing the outputs"
same_as_mapconv "$map" $nx $ny
binary=$out/$(basename "${map%.*}").mapconv.unf
note "all outputs are identical ($(stat -c %s "$binary") bytes)"
note "checking that mapconv converts mapdump's text of it to the same bytes"
"$mapdump" -o "$out/dumped.txt" "$binary" || die "mapdump failed on $binary"
run_converter mapconv "$out/dumped.txt" "$out/dumped.unf"
cmp "$binary" "$out/dumped.unf" || die "mapdump's text does not convert back to $binary"

# --- Timing -------------------------------------------------------------------------
if [[ $timer == time && ! -x /usr/bin/time ]]; then
  if ((EUID == 0)) && command -v apt-get >/dev/null; then
    note "installing GNU time for memory figures"
    apt-get install -y -qq time >/dev/null 2>&1 || true
  fi
  if [[ ! -x /usr/bin/time ]]; then
    note "/usr/bin/time is not available: timing with bash, no memory figures"
    timer=bash
  fi
fi

scratch=$out/timing
rm -rf "$scratch"
mkdir -p "$scratch"

# Appends one run's "wall cpu maxrss" to $scratch/$name: seconds, user plus system
# seconds (bash's clock, to the millisecond; it includes /usr/bin/time's own small share)
# and KiB ("-" without /usr/bin/time). On a loaded machine the wall time is mostly
# waiting for a core; the CPU time is the steadier figure.
time_once() {
  local name=$1 TIMEFORMAT='%3R %3U %3S' wall user sys rss=-
  local cmd=("${prog[$name]}" "$map" "$scratch/$name.unf")
  [[ $name == mapdump ]] && cmd=("$mapdump" -o "$scratch/mapdump.txt" "$binary")
  [[ $timer == time ]] && cmd=(/usr/bin/time -o "$scratch/rss" -f %M "${cmd[@]}")
  { time "${cmd[@]}" >/dev/null 2>&1; } 2>"$scratch/t" || die "$name failed during timing"
  [[ $timer == time ]] && rss=$(<"$scratch/rss")
  read -r wall user sys <"$scratch/t"
  printf '%s %s %s\n' "$wall" "$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')" "$rss" \
    >>"$scratch/$name"
}

load=$(cut -d' ' -f1-3 /proc/loadavg 2>/dev/null || echo n/a)
# One round runs every converter once, starting one further along each round, so that
# no converter always follows the same one.
note "timing $runs interleaved rounds with $([[ $timer == time ]] && echo /usr/bin/time || echo bash)"
timed=("${names[@]}" mapdump)
prog[mapdump]=$mapdump
for ((r = 0; r < runs; r++)); do
  for ((i = 0; i < ${#timed[@]}; i++)); do
    time_once "${timed[(r + i) % ${#timed[@]}]}"
  done
done

median_of() {
  sort -g | awk '{ t[NR] = $1 }
    END { printf "%.4f", NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2 }'
}
declare -A median cpu peak
for name in "${timed[@]}"; do
  median[$name]=$(cut -d' ' -f1 "$scratch/$name" | median_of)
  cpu[$name]=$(cut -d' ' -f2 "$scratch/$name" | median_of)
  peak[$name]=$(awk '$3 != "-" && $3 > m { m = $3 } END { print m ? m : "-" }' "$scratch/$name")
done
# Median over the rounds of $2's wall time (default mapconv) divided by $1's in that round.
round_ratio() {
  paste -d' ' "$scratch/${2:-mapconv}" "$scratch/$1" | awk '{ print $1 / $4 }' | median_of |
    xargs printf '%.2f'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }

# --- Report -------------------------------------------------------------------------
printf '\n%d x %d x %d map (%d points, %s bytes), %d rounds, load average before: %s\n\n' \
  $nx $ny $nz $((nx * ny * nz)) "$(stat -c %s "$map")" "$runs" \
  "$load"
printf '%-18s %10s %10s %14s\n' converter 'wall (s)' 'cpu (s)' 'max RSS (MiB)'
for name in "${timed[@]}"; do
  mem=n/a
  [[ ${peak[$name]} == - ]] || mem=$(awk -v k="${peak[$name]}" 'BEGIN { printf "%.1f", k / 1024 }')
  printf '%-18s %10s %10s %14s\n' "$(label "$name")" "${median[$name]}" "${cpu[$name]}" "$mem"
done
# wall: of the wall medians; rounds: median of the per-round wall ratios; cpu: of the
# CPU medians.
printf '\n%-28s %6s %6s %6s\n' ratio wall rounds cpu
for name in stream fast getline; do
  printf '%-28s %6s %6s %6s\n' "mapconv / $(label "$name")" \
    "$(ratio "${median[mapconv]}" "${median[$name]}")" "$(round_ratio "$name")" \
    "$(ratio "${cpu[mapconv]}" "${cpu[$name]}")"
done
printf '%-28s %6s %6s %6s   (aim: at most 1.50)\n' "mapdump / mapconv" \
  "$(ratio "${median[mapdump]}" "${median[mapconv]}")" "$(round_ratio mapconv mapdump)" \
  "$(ratio "${cpu[mapdump]}" "${cpu[mapconv]}")"
