#!/usr/bin/env bash
# Builds the Debian packages (vellumcast, python3-vellumcast) with CPack, validates the desktop entry and the AppStream data,
# checks that the package holds everything an installation needs, and runs the installed
# command line on the installed samples from an unpacked copy of the package.
#   scripts/check-package.sh [build-folder [cmake-option...]]   (default: build-package)
# for example scripts/check-package.sh build-package -DVELLUMCAST_HOMEPAGE=https://example.org
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-package}
shift || true
"$root/scripts/install-deps.sh"

# Built as the README tells, with no flags of the packager's: the hardening Debian asks
# for (fortified sources, stack protector, full RELRO with immediate binding) is the
# build's own, and lintian below proves it.
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DVELLUMCAST_BUILD_TESTS=OFF -DVELLUMCAST_BUILD_BENCH=OFF -DVELLUMCAST_PYTHON=ON "$@" >/dev/null
cmake --build "$build" -j2
# Every source is compiled fortified, beside what lintian can prove from the checked calls
# it finds.
commands=$(grep -c '"command":' "$build/compile_commands.json")
fortified=$(grep '"command":' "$build/compile_commands.json" | grep -c -- '-D_FORTIFY_SOURCE=[23]' || true)
[ "$commands" -eq "$fortified" ] || { echo "only $fortified of $commands sources are compiled fortified" >&2; exit 1; }

desktop-file-validate "$root/packaging/vellumcast.desktop"
appstreamcli validate --no-net "$build"/packaging/*.metainfo.xml

rm -f "$build"/vellumcast_*.deb "$build"/python3-vellumcast_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/vellumcast_*.deb)
echo "package: $deb"

contents=$(dpkg-deb -c "$deb")
for wanted in ./usr/bin/vellumcast ./usr/bin/vellumcast-cli \
  ./usr/share/vellumcast/Samples/Sales.xlsx ./usr/share/applications/vellumcast.desktop \
  ./usr/share/icons/hicolor/16x16/apps/vellumcast.png ./usr/share/icons/hicolor/256x256/apps/vellumcast.png \
  ./usr/share/metainfo/ ./usr/share/man/man1/vellumcast.1.gz ./usr/share/man/man1/vellumcast-cli.1.gz \
  ./usr/share/doc/vellumcast/copyright ./usr/share/doc/vellumcast/changelog.gz \
  ./usr/share/bash-completion/completions/vellumcast-cli; do
  grep -qF " $wanted" <<<"$contents" || { echo "missing from the package: $wanted" >&2; exit 1; }
done
dpkg-deb -f "$deb" Depends

# Debian's own checks of the package: no error and no warning may remain, nor the notes
# of a program built unhardened or stripped short of what Debian strips.
report=$(lintian --fail-on error,warning --display-info "$deb") || { echo "$report" >&2; exit 1; }
echo "$report"
unhardened=$(grep -E 'hardening-no-(bindnow|fortify-functions|relro|pie|stackprotector)|binary-has-unneeded-section' \
  <<<"$report" || true)
if [ -n "$unhardened" ]; then
  echo "the programs are not built as Debian hardens and strips them:" >&2
  echo "$unhardened" >&2
  exit 1
fi

# The installed programs find their samples beside them, under ../share/vellumcast.
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
mkdir "$unpacked/out"
"$unpacked/usr/bin/vellumcast-cli" --output "$unpacked/out" "$unpacked"/usr/share/vellumcast/Samples/*
ls "$unpacked/out"/*.txt >/dev/null

# The Python module's package, made by the same CPack run: Debian's checks, then the
# installed module reads an installed sample with the python3 it was built for.
pydeb=$(ls "$build"/python3-vellumcast_*.deb)
echo "package: $pydeb"
for wanted in ./usr/lib/python3/dist-packages/vellumcast/__init__.py ./usr/lib/python3/dist-packages/vellumcast/dask.py \
  ./usr/lib/python3/dist-packages/vellumcast/_vellumcast.pyi ./usr/share/doc/python3-vellumcast/copyright; do
  grep -qF " $wanted" <<<"$(dpkg-deb -c "$pydeb")" || { echo "missing from the package: $wanted" >&2; exit 1; }
done
dpkg-deb -f "$pydeb" Depends
lintian --fail-on error,warning "$pydeb"
dpkg-deb -x "$pydeb" "$unpacked"
PYTHONPATH="$unpacked/usr/lib/python3/dist-packages" /usr/bin/python3 -c '
import sys, vellumcast
with vellumcast.open(sys.argv[1]) as workbook:
    assert next(iter(workbook[0].rows())), "no rows"
' "$unpacked/usr/share/vellumcast/Samples/Sales.xlsx"

# As root, ask apt whether the packages would install with their dependencies.
if [ "$(id -u)" -eq 0 ]; then
  apt-get install --simulate -qq "$deb" "$pydeb" >/dev/null
fi
echo "package checked"
