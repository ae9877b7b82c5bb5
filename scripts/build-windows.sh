#!/usr/bin/env bash
# Cross-builds the engine and the command line for 64-bit Windows with MinGW-w64, in
# build-windows/: installs the Debian packages it needs (libgcrypt and libgpg-error come
# built for MinGW), builds Expat (from Debian's source
# package) and GoogleTest (from libgtest-dev) for Windows into build-windows/prefix, then
# builds Vellumcast with zlib and without the windows. Keeps going past files that fail to
# compile and lists them at the end, with a non-zero exit. Then makes the zip to hand to
# Windows users, build-windows/vellumcast-VERSION-windows-x64.zip (package_zip).
# Usage: scripts/build-windows.sh [--tests] [--check] [--no-install]
#   --tests       build the tests too
#   --check       run the tests under Wine through ctest (with --tests), compare what
#                 the command line writes under Wine with the Linux build's, byte for byte
#                 (scripts/compare-windows-output.sh; the Linux one is built in build/),
#                 and check the zip
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
# What the zip for Windows users is made with: the icon of the executable and the archive.
packaging_packages=(icoutils zip unzip)

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
  for package in "${packages[@]}" "${packaging_packages[@]}"; do
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

# RE2 (the command line's worksheet patterns): Debian's source, as a static library with
# its CMake package. Debian's source leaves out the Unicode and Perl tables, which its
# build makes from unicode-data; they are made the same way here.
build_re2() {
  [ -f "$prefix/lib/libre2.a" ] && return
  local package
  for package in unicode-data python3 perl; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' && continue
    [ $install = yes ] && "${apt[@]}" install -y -qq --no-install-recommends "$package"
  done
  local work=$deps/re2-source
  if [ ! -d "$work" ]; then
    rm -rf "$deps/re2-download" && mkdir -p "$deps/re2-download"
    (cd "$deps/re2-download" && apt-get source -qq re2 >/dev/null)
    mv "$(find "$deps/re2-download" -mindepth 1 -maxdepth 1 -type d -name 're2-*' | head -n1)" "$work"
  fi
  (cd "$work" && perl re2/make_perl_groups.pl >re2/perl_groups.cc &&
    python3 re2/make_unicode_casefold.py >re2/unicode_casefold.cc &&
    python3 re2/make_unicode_groups.py >re2/unicode_groups.cc)
  cross_build "$work" "$deps/re2-build" -DRE2_BUILD_TESTING=OFF
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

# Text files in the zip end their lines in CR LF, as Notepad shows them on any Windows.
windows_text() {
  sed 's/\r*$/\r/'
}

# The notice of each component the command line may link, by its library's name in the
# link command (libNAME.a or -lNAME). The MinGW-w64 runtime, its import libraries of
# Windows and GCC's runtime libraries are linked into every program and noticed always.
declare -A notice_of=(
  [expat]="Expat (an XML parser; MIT licence)|$deps/expat-source/COPYING"
  [z]="zlib (deflate and inflate; zlib licence)|/usr/share/doc/libz-mingw-w64-dev/copyright"
  [re2]="RE2 (worksheet name patterns; BSD 3-clause licence)|$deps/re2-source/LICENSE"
  [gcrypt]="Libgcrypt (decryption; LGPL 2.1 or later)|/usr/share/doc/libgcrypt-mingw-w64-dev/copyright"
  [gpg-error]="Libgpg-error (Libgcrypt's errors; LGPL 2.1 or later)|/usr/share/doc/libgpg-error-mingw-w64-dev/copyright"
)
# Licence texts the notices above refer to without holding them, by library.
declare -A licence_text_of=([gcrypt]=/usr/share/common-licenses/LGPL-2.1 [gpg-error]=/usr/share/common-licenses/LGPL-2.1)

notice() {
  local title=$1 file=$2
  printf '\n%s\n%s\n\n' "$title" "$(printf '%*s' "${#title}" '' | tr ' ' =)"
  cat "$file"
}

# THIRD-PARTY-NOTICES.txt: every library the link command of vellumcast-cli.exe names,
# each with its notice. A library with none known fails the build, so nothing is shipped
# without its notice.
third_party_notices() {
  local link library name found=() texts=() unknown=()
  link=$(ninja -C "$build" -t commands bin/vellumcast-cli.exe | tail -n 1)
  for library in $link; do
    case $library in
      -Wl,*) continue ;; # the import library of the executable itself, say
      -l*) name=${library#-l} ;;
      *.dll.a) name=$(basename "$library" .dll.a) name=${name#lib} ;; # a DLL's import library
      *.a) name=$(basename "$library" .a) name=${name#lib} ;;
      *) continue ;;
    esac
    case $name in vellumcast_*) continue ;; esac # Vellumcast's own
    if [ -n "${notice_of[$name]:-}" ]; then
      found+=("$name")
      [ -n "${licence_text_of[$name]:-}" ] && texts+=("${licence_text_of[$name]}")
    elif ! dpkg -S "/usr/x86_64-w64-mingw32/lib/lib$name.a" 2>/dev/null | grep -q '^mingw-w64-x86-64-dev:'; then
      unknown+=("$name")
    fi
  done
  if [ ${#unknown[@]} -gt 0 ]; then
    echo "No notice is known for the libraries linked as: ${unknown[*]} (add them to notice_of in $0)" >&2
    return 1
  fi
  echo "vellumcast-cli.exe holds code of the components below, each under its own licence,"
  echo "whose terms follow as the Debian packages they were built from give them."
  local entry
  for name in $(printf '%s\n' "${found[@]}" | sort -u); do
    entry=${notice_of[$name]}
    notice "${entry%%|*}" "${entry#*|}"
  done
  notice "The MinGW-w64 runtime and winpthreads" /usr/share/doc/mingw-w64-x86-64-dev/copyright
  notice "GCC's runtime libraries (libgcc, libstdc++), under the GCC Runtime Library Exception" \
    /usr/share/doc/gcc-mingw-w64-base/copyright
  for library in $(printf '%s\n' "${texts[@]}" | sort -u); do
    notice "$(basename "$library")" "$library"
  done
  dll_sources
}

# Libgcrypt and Libgpg-error, under the LGPL, are linked as DLLs that lie beside
# vellumcast-cli.exe, unchanged as Debian builds them; where their source is, and that
# they may be replaced.
dll_sources() {
  local package version
  notice "The DLLs in this folder" /dev/null
  echo "libgcrypt-20.dll and libgpg-error-0.dll are Libgcrypt and Libgpg-error, unchanged as"
  echo "Debian builds them for Windows. vellumcast-cli.exe loads them from its folder, so you"
  echo "may replace them with your own builds of the same libraries. Their source code:"
  for package in libgcrypt-mingw-w64-dev libgpg-error-mingw-w64-dev; do
    version=$(dpkg-query -W -f='${source:Package} ${source:Version}' "$package")
    echo "  https://sources.debian.org/src/${version% *}/${version#* }/"
  done
}

# The zip to hand to Windows users: the stripped command line, a README for them, the
# licence and the notices of everything linked in.
package_zip() {
  local version name stage
  version=$(sed -n 's/^project(Vellumcast VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
  name=vellumcast-$version-windows-x64
  stage=$top/package/$name
  zip_path=$top/$name.zip
  rm -rf "$top/package" "$zip_path"
  mkdir -p "$stage"
  x86_64-w64-mingw32-strip -o "$stage/vellumcast-cli.exe" "$build/bin/vellumcast-cli.exe"
  cp "$build"/bin/libgcrypt-20.dll "$build"/bin/libgpg-error-0.dll "$stage/"
  windows_text <packaging/windows/README.txt >"$stage/README.txt"
  windows_text <packaging/copyright >"$stage/LICENSE.txt"
  third_party_notices | windows_text >"$stage/THIRD-PARTY-NOTICES.txt"
  (cd "$top/package" && zip -q -X -r "$zip_path" "$name")
  echo "Windows zip: $zip_path" >&2
}

# The zip holds what it should, and its program starts on its own under Wine and carries
# its icon, version and manifest (read back by windres).
check_zip() {
  local listed unpacked=$top/package-check exe
  listed=$(unzip -Z1 "$zip_path" | sed -n 's|^[^/]*/\(.\)|\1|p' | LC_ALL=C sort | tr '\n' ' ')
  if [ "$listed" != "LICENSE.txt README.txt THIRD-PARTY-NOTICES.txt libgcrypt-20.dll libgpg-error-0.dll vellumcast-cli.exe " ]; then
    echo "The zip holds: $listed" >&2
    return 1
  fi
  rm -rf "$unpacked" && mkdir -p "$unpacked" && unzip -q "$zip_path" -d "$unpacked"
  exe=$(find "$unpacked" -name vellumcast-cli.exe)
  local resources
  resources=$(x86_64-w64-mingw32-windres -i "$exe" -O rc)
  if ! "$wine" "$exe" --version | grep -q '^vellumcast-cli ' || ! grep -q 'RT_GROUP_ICON' <<<"$resources" ||
    ! grep -q 'VALUE "FileVersion"' <<<"$resources" || ! grep -q 'supportedOS' <<<"$resources"; then
    echo "The zipped vellumcast-cli.exe does not start, or lacks its icon, version or manifest" >&2
    return 1
  fi
  rm -rf "$unpacked"
  echo "The zip holds its six files, and its program starts and carries its resources" >&2
}

wineserver=("$(command -v wineserver || echo /usr/lib/wine/wineserver)")

[ $install = yes ] && install_packages
check_wine
build_expat
build_re2
build_googletest
build_vellumcast
package_zip
if [ $check = yes ]; then
  [ $tests = ON ] && run_tests
  scripts/compare-windows-output.sh "$build/bin/vellumcast-cli.exe" "$(linux_cli)" "$top/compare"
  check_zip
fi
