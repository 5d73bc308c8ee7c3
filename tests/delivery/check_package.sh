#!/usr/bin/env bash
# Builds the Debian package, unpacks it into a scratch root and runs the
# installed program on the installed example: its output must equal, byte for
# byte, what the build's own program writes; the installed mapdump must turn
# it back into text that converts to the same bytes. lintian, where
# installed, must report no error and no warning.
# Usage: check_package.sh BUILD_DIR CPACK MAPCONV VERSION WORK_DIR
set -euo pipefail
build=$1 cpack=$2 mapconv=$3 version=$4 work=$5

for tool in "$cpack" dpkg-deb; do
  command -v "$tool" >/dev/null || { echo "SKIPPED: no $tool"; exit 77; }
done
rm -rf "$work" && mkdir -p "$work"
"$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" > "$work/cpack.log" ||
  { cat "$work/cpack.log"; exit 1; }
debs=("$work"/out/mapconv_"$version"_*.deb)
[[ -f ${debs[0]} ]] || { echo "no package in $work/out"; ls "$work/out"; exit 1; }
deb=${debs[0]}

fail=0
field() { dpkg-deb --field "$deb" "$1"; }
[[ $(field Package) == mapconv && $(field Version) == "$version" && $(field Section) == science ]] ||
  { echo "control fields:"; dpkg-deb --field "$deb"; fail=1; }
dpkg-deb -x "$deb" "$work/root"
root=$work/root/usr
for f in bin/mapconv bin/mapdump share/man/man1/mapconv.1.gz share/man/man1/mapdump.1.gz \
         share/doc/mapconv/copyright share/doc/mapconv/changelog.gz \
         share/doc/mapconv/format.md share/doc/mapconv/examples/field.map; do
  [[ -f $root/$f ]] || { echo "missing /usr/$f"; fail=1; }
done

[[ $("$root/bin/mapconv" --version) == "mapconv $version" ]] || { echo "wrong --version"; fail=1; }
# Relative names: a scratch path could be longer than a name may be.
example=root/usr/share/doc/mapconv/examples/field.map
(cd "$work" && root/usr/bin/mapconv $example installed.unf) > "$work/installed.out"
(cd "$work" && "$mapconv" $example built.unf) > "$work/built.out"
cmp "$work/installed.out" "$work/built.out" || fail=1
printf ' conversion done.\r\n' | cmp - "$work/installed.out" || fail=1
cmp "$work/installed.unf" "$work/built.unf" || fail=1
(cd "$work" && root/usr/bin/mapdump -o dumped.txt installed.unf && "$mapconv" dumped.txt again.unf) \
  > /dev/null || fail=1
cmp "$work/installed.unf" "$work/again.unf" || fail=1
if command -v lintian > /dev/null; then
  # Info tags (hardening notes) are not failures; errors and warnings are.
  lintian --fail-on error,warning "$deb" > "$work/lintian.log" 2>&1 ||
    { echo "lintian:"; cat "$work/lintian.log"; fail=1; }
else
  echo "lintian is not installed: the package is not checked by it (./setup.sh --ci installs it)"
fi
[[ $fail == 0 ]] && echo "$(basename "$deb") installs and converts the example"
exit $fail
