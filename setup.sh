#!/bin/sh
# Installs, from Debian 12's packages and only where missing, what building
# mapconv, reading its manual pages and running its tests need; it builds and
# runs nothing itself. Safe to run again. As root it uses apt-get directly,
# otherwise sudo; without either it lists the packages and fails.
#   ./setup.sh        installs what the README's commands need
#   ./setup.sh --ci   also what CI adds: the reader tests of docs/format.md, lintian
set -eu

packages="cmake g++ make libgtest-dev dpkg-dev file groff-base man-db"
for arg in "$@"; do
  case $arg in
    --ci) packages="$packages gfortran python3 python3-numpy python3-scipy lintian" ;;
    -h | --help)
      sed -n '2,8s/^# \{0,1\}//p' "$0"
      exit 0
      ;;
    *)
      echo "setup.sh: unknown option $arg (use --ci or --help)" >&2
      exit 2
      ;;
  esac
done

check_cmake() {
  version=$(cmake --version | sed -n '1s/[^0-9]*\([0-9][0-9]*\)\.\([0-9][0-9]*\).*/\1 \2/p')
  set -- $version
  if [ "${1:-0}" -lt 3 ] || { [ "${1:-0}" -eq 3 ] && [ "${2:-0}" -lt 25 ]; }; then
    echo "setup.sh: CMake $1.$2 is too old; the presets need 3.25 or later" >&2
    exit 1
  fi
}

if ! command -v dpkg-query >/dev/null 2>&1 || ! command -v apt-get >/dev/null 2>&1; then
  echo "setup.sh: not a Debian system; needed: CMake >= 3.25, g++ >= 12, make," \
    "GoogleTest; for the package test dpkg-deb, dpkg-shlibdeps and file; for the" \
    "manual test groff" >&2
  for tool in cmake g++ make; do
    command -v $tool >/dev/null 2>&1 || { echo "setup.sh: $tool is missing" >&2; exit 1; }
  done
  check_cmake
  exit 0
fi

missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q ' installed$' || missing="$missing $p"
done
if [ -n "$missing" ]; then
  if [ "$(id -u)" -eq 0 ]; then
    as_root=""
  elif command -v sudo >/dev/null 2>&1; then
    as_root="sudo"
  else
    echo "setup.sh: missing packages:$missing" >&2
    echo "setup.sh: as root, run: apt-get install --no-install-recommends$missing" >&2
    exit 1
  fi
  echo "setup.sh: installing$missing"
  $as_root apt-get update -qq
  $as_root env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq --no-install-recommends $missing
fi
check_cmake
