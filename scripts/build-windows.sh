#!/usr/bin/env bash
# Cross-builds the engine and the command line for 64-bit Windows with MinGW-w64, in
# build-windows/: installs the Debian packages it needs (libgcrypt and libgpg-error come
# built for MinGW), builds Expat (from Debian's source
# package) and GoogleTest (from libgtest-dev) for Windows into build-windows/prefix, then
# builds Vellumcast with zlib and without the windows. Keeps going past files that fail to
# compile and lists them at the end, with a non-zero exit.
# Usage: scripts/build-windows.sh [--tests] [--check] [--no-install]
#   --tests       build the tests too
#   --check       run the tests under Wine through ctest (with --tests), and compare what
#                 the command line writes under Wine with the Linux build's, byte for byte
#                 (scripts/compare-windows-output.sh; the Linux one is built in build/)
#   --no-install  do not call apt-get; the packages must be there already
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD

tests=OFF
check=no
install=yes
for argument in "$@"; do
  case $argument in
    --tests) tests=ON ;;
    --check) check=yes ;;
    --no-install) install=no ;;
    *) echo "build-windows.sh: unknown option $argument" >&2; exit 2 ;;
  esac
done

top=$source_dir/build-windows
deps=$top/deps
prefix=$top/prefix
build=$top/vellumcast
toolchain=$source_dir/cmake/toolchain-mingw64.cmake
export WINEPREFIX=$top/wine WINEDEBUG=-all
jobs=$(nproc)
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
mkdir -p "$deps" "$prefix"

as_root=()
[ "$(id -u)" -ne 0 ] && as_root=(sudo)
apt=("${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get)

# apt-get source needs a deb-src line; it is added beside the binary sources, on their mirror.
add_source_packages() {
  if grep -rqs '^\(deb-src\|Types:.*deb-src\)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    return
  fi
  local mirror
  mirror=$(grep -rhs '^URIs:' /etc/apt/sources.list.d/*.sources | awk '$2 ~ /\/debian\/?$/ {print $2; exit}')
  [ -n "$mirror" ] || mirror=$(awk '$1 == "deb" && $2 ~ /\/debian\/?$/ {print $2; exit}' \
    /etc/apt/sources.list 2>/dev/null || true)
  [ -n "$mirror" ] || mirror=http://deb.debian.org/debian
  echo "Adding source packages from $mirror" >&2
  printf 'Types: deb-src\nURIs: %s\nSuites: bookworm bookworm-updates\nComponents: main\nSigned-By: %s\n' \
    "$mirror" /usr/share/keyrings/debian-archive-keyring.gpg |
    "${as_root[@]}" tee /etc/apt/sources.list.d/vellumcast-deb-src.sources >/dev/null
  "${apt[@]}" update -qq
}

install_packages() {
  local packages=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    libz-mingw-w64-dev libgcrypt-mingw-w64-dev libgpg-error-mingw-w64-dev wine64 libgtest-dev dpkg-dev cmake
    ninja-build pkg-config)
  local missing=() package
  for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}" >&2
    "${apt[@]}" update -qq
    "${apt[@]}" install -y -qq --no-install-recommends "${missing[@]}"
  fi
  add_source_packages
}

# Configures, builds and installs a CMake project for Windows into the prefix.
cross_build() {
  local source=$1 binary=$2
  shift 2
  cmake -S "$source" -B "$binary" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DVELLUMCAST_WINDOWS_PREFIX="$prefix" -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
  nice cmake --build "$binary" -j"$jobs" >/dev/null
  cmake --install "$binary" >/dev/null
}

# A C++20 program with threads and zlib, built as the project's programs are and run
# headlessly under Wine: a broken toolchain or Wine shows here, before the long build.
check_wine() {
  local check=$top/check
  mkdir -p "$check" "$WINEPREFIX"
  cat >"$check/check.cpp" <<'PROGRAM'
#include <cstdio>
#include <thread>
#include <zlib.h>
int main() {
    unsigned long sum = 0;
    std::thread worker([&sum] { sum = adler32(1, reinterpret_cast<const Bytef*>("Wine"), 4); });
    worker.join();
    std::printf("%lx\n", sum);
    return sum == 0x03dc0194UL ? 0 : 1;
}
PROGRAM
  x86_64-w64-mingw32-g++-posix -std=c++20 -O1 -static -o "$check/check.exe" "$check/check.cpp" -lz
  if ! "$wine" "$check/check.exe" >"$check/check.out" 2>&1; then
    echo "A trivial Windows program does not run under Wine:" >&2
    cat "$check/check.out" >&2
    return 1
  fi
}

# Expat: Debian's source, with its patches, as a static library.
build_expat() {
  [ -f "$prefix/lib/libexpat.a" ] && return
  local work=$deps/expat-source
  if [ ! -d "$work" ]; then
    rm -rf "$deps/expat-download" && mkdir -p "$deps/expat-download"
    (cd "$deps/expat-download" && apt-get source -qq expat >/dev/null)
    mv "$(find "$deps/expat-download" -mindepth 1 -maxdepth 1 -type d -name 'expat-*' | head -n1)" "$work"
  fi
  # The CMake project is at the top of Expat's source, or in expat/ in a git-shaped tree.
  local project=$work
  [ -f "$project/CMakeLists.txt" ] || project=$work/expat
  # Debian's security patches test "#if XML_DTD == 1", which the autotools build defines as
  # 1 but Expat's CMake template defines as empty: the template is given the value.
  sed -i 's/^#cmakedefine XML_DTD$/#cmakedefine XML_DTD 1/' "$project/expat_config.h.cmake"
  cross_build "$project" "$deps/expat-build" -DEXPAT_SHARED_LIBS=OFF -DEXPAT_BUILD_TOOLS=OFF \
    -DEXPAT_BUILD_EXAMPLES=OFF -DEXPAT_BUILD_TESTS=OFF -DEXPAT_BUILD_DOCS=OFF -DEXPAT_BUILD_PKGCONFIG=ON
}

build_googletest() {
  [ -f "$prefix/lib/libgtest.a" ] && return
  cross_build /usr/src/googletest "$deps/googletest-build" -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON \
    -Dgtest_force_shared_crt=ON
}

# Builds Vellumcast, going on past failures, and prints the sources that did not compile.
build_vellumcast() {
  cmake -S "$source_dir" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DVELLUMCAST_WINDOWS_PREFIX="$prefix" -DVELLUMCAST_WINEPREFIX="$WINEPREFIX" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVELLUMCAST_ZLIB=ON -DVELLUMCAST_BUILD_GUI=OFF -DVELLUMCAST_BUILD_BENCH=OFF -DVELLUMCAST_BUILD_TESTS=$tests \
    -DCMAKE_PREFIX_PATH="$prefix"
  local log=$top/build.log status=0
  nice cmake --build "$build" -j"$jobs" -- -k 0 >"$log" 2>&1 || status=$?
  if [ $status -eq 0 ]; then
    echo "Windows build complete: $build/bin" >&2
    return 0
  fi
  echo "Sources that do not compile for Windows yet (details in $log):" >&2
  grep -o '^FAILED: .*\.obj' "$log" | sed 's/^FAILED: //; s|CMakeFiles/[^/]*\.dir/||; s/\.obj$//' | sort >&2 || true
  return $status
}

# The tests under Wine. A wineserver started beforehand (and its helper processes) serves
# every test; started by the first test instead, it would hold ctest's output pipes open.
run_tests() {
  "${wineserver[@]}" -p || true # fails when the check's server still runs, which serves as well
  "$wine" cmd /c exit
  local status=0
  (cd "$build" && ctest -j"$jobs" --timeout 300 --output-on-failure) || status=$?
  "${wineserver[@]}" -k || true
  return $status
}

# The Linux command line from build/, as the CI's test stage leaves it, brought up to date.
linux_cli() {
  [ -f build/CMakeCache.txt ] || cmake --preset dev >/dev/null
  nice cmake --build build --target vellumcast-cli >/dev/null
  echo "$source_dir/build/bin/vellumcast-cli"
}

wineserver=("$(command -v wineserver || echo /usr/lib/wine/wineserver)")

[ $install = yes ] && install_packages
check_wine
build_expat
build_googletest
build_vellumcast
if [ $check = yes ]; then
  [ $tests = ON ] && run_tests
  scripts/compare-windows-output.sh "$build/bin/vellumcast-cli.exe" "$(linux_cli)" "$top/compare"
fi
