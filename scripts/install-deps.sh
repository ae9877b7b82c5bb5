#!/usr/bin/env bash
# Installs every Debian package that building, testing, fuzzing and running Vellumcast needs,
# its Python module (pybind11, Python's headers; pytest, pandas and Dask's distributed for
# its tests; build, setuptools and wheel for its wheel) included.
# Idempotent: packages already present are left alone. Runs apt-get as root, through
# sudo when started by another user.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools libgl-dev qt6-qpa-plugins
  libisal-dev libexpat1-dev zlib1g-dev libgcrypt20-dev libre2-dev fonts-dejavu-core
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth dbus-daemon at-spi2-core python3-pyatspi
  desktop-file-utils appstream dpkg-dev lintian
  ccache clang-format clang libclang-rt-dev
  bash-completion bsdutils
  python3 time
  pybind11-dev python3-dev python3-pytest python3-pandas python3-distributed
  python3-build python3-setuptools python3-wheel
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  as_root=(sudo)
fi
echo "Installing: ${missing[*]}" >&2
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
