#!/bin/sh
# Starts the program under Xvfb with its own session bus and accessibility bus, listing two
# sample workbooks, and reads both windows through AT-SPI (scripts/check-accessibility.py).
# Needs xvfb, dbus-daemon, at-spi2-core and python3-pyatspi (scripts/install-deps.sh).
#   scripts/check-accessibility.sh [program]   (default: build/bin/vellumcast)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
program=${1:-$root/build/bin/vellumcast}
if [ -z "${VELLUMCAST_INSIDE_SESSION:-}" ]; then
  for tool in xvfb-run dbus-run-session /usr/libexec/at-spi-bus-launcher; do
    command -v "$tool" >/dev/null || { echo "check-accessibility: $tool is missing (scripts/install-deps.sh)" >&2; exit 77; }
  done
  /usr/bin/python3 -c 'import pyatspi' 2>/dev/null \
    || { echo "check-accessibility: python3-pyatspi is missing (scripts/install-deps.sh)" >&2; exit 77; }
  VELLUMCAST_INSIDE_SESSION=1 exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
    dbus-run-session -- "$0" "$program"
fi
home=$(mktemp -d)
app=
cleanup() { [ -n "$app" ] && kill "$app" 2>/dev/null; rm -rf "$home"; }
trap cleanup EXIT
cat > "$home/Tamsworth.ini" <<INI
[Vellumcast]
Directions=Save each sheet to a text file
INI
# Qt speaks to the accessibility bus only when asked to or when a screen reader runs.
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME=$home HOME=$home \
  "$program" "$root/Samples/Sales.xlsx" "$root/Samples/Contacts.csv" &
app=$!
/usr/bin/python3 "$root/scripts/check-accessibility.py"
