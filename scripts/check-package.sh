#!/usr/bin/env bash
# Builds the Debian package with CPack, validates the desktop entry and the AppStream data,
# checks that the package holds everything an installation needs, and runs the installed
# command line on the installed samples from an unpacked copy of the package.
#   scripts/check-package.sh [build-folder]   (default: build-package)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-package}
"$root/scripts/install-deps.sh"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DVELLUMCAST_BUILD_TESTS=OFF -DVELLUMCAST_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j2

desktop-file-validate "$root/packaging/vellumcast.desktop"
appstreamcli validate --no-net "$build"/packaging/*.metainfo.xml

rm -f "$build"/vellumcast_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/vellumcast_*.deb)
echo "package: $deb"

contents=$(dpkg-deb -c "$deb")
for wanted in ./usr/bin/vellumcast ./usr/bin/vellumcast-cli \
  ./usr/share/vellumcast/Samples/Sales.xlsx ./usr/share/applications/vellumcast.desktop \
  ./usr/share/icons/hicolor/16x16/apps/vellumcast.png ./usr/share/icons/hicolor/256x256/apps/vellumcast.png \
  ./usr/share/metainfo/ ./usr/share/man/man1/vellumcast.1 ./usr/share/man/man1/vellumcast-cli.1 \
  ./usr/share/bash-completion/completions/vellumcast-cli; do
  grep -qF " $wanted" <<<"$contents" || { echo "missing from the package: $wanted" >&2; exit 1; }
done
dpkg-deb -f "$deb" Depends

# The installed programs find their samples beside them, under ../share/vellumcast.
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
mkdir "$unpacked/out"
"$unpacked/usr/bin/vellumcast-cli" --output "$unpacked/out" "$unpacked"/usr/share/vellumcast/Samples/*
ls "$unpacked/out"/*.txt >/dev/null

# As root, ask apt whether the package would install with its dependencies.
if [ "$(id -u)" -eq 0 ]; then
  apt-get install --simulate -qq "$deb" >/dev/null
fi
echo "package checked"
