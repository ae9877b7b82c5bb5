#!/bin/sh
# Takes the screenshots of both windows from the real program under Xvfb, with the
# platform's own style: the main window with the samples listed, then the results window
# after a run. Needs Xvfb, xdotool and ImageMagick's import.
#   scripts/screenshots.sh [build-folder]   (default: build)
set -eu
if ! command -v Xvfb >/dev/null || ! command -v xdotool >/dev/null || ! command -v import >/dev/null; then
  as_root=; [ "$(id -u)" -ne 0 ] && as_root=sudo
  $as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq xvfb xauth xdotool imagemagick >/dev/null
fi
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
program=$build/bin/vellumcast
out=$root/docs/screenshots
mkdir -p "$out"
display=:${VELLUMCAST_DISPLAY:-97}
config=$(mktemp -d)
Xvfb "$display" -screen 0 1280x900x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
cleanup() { kill "$app" 2>/dev/null || true; kill "$xvfb" 2>/dev/null || true; rm -rf "$config"; }
app=
trap cleanup EXIT
sleep 1
export DISPLAY=$display XDG_CONFIG_HOME=$config HOME=$config
# Options as a person might choose them: comma divider, each sheet to a text file.
cat > "$config/Tamsworth.ini" <<INI
[Vellumcast]
Directions=Save each sheet to a text file
Option1=False
Option2=True
Output%20Folder=/home/demo/Documents/Exports/
INI
"$program" "$root"/Samples/Sales.xlsx "$root"/Samples/Sales.xls "$root"/Samples/Sales.ods "$root"/Samples/Contacts.csv &
app=$!
window() { # the shown window titled Vellumcast
  for _ in $(seq 150); do
    id=$(xdotool search --onlyvisible --name '^Vellumcast$' 2>/dev/null | tail -1 || true)
    [ -n "$id" ] && { echo "$id"; return; }
    sleep 0.2
  done
  echo "no window" >&2; exit 1
}
main=$(window)
sleep 1
import -window "$main" "$out/main-window.png"
xdotool windowfocus --sync "$main" key space   # the focused start button
sleep 2
results=$(window)
[ "$results" != "$main" ] || { sleep 2; results=$(window); }
xdotool windowfocus --sync "$results" key Tab Down Down   # choose the second result for the preview
sleep 1
import -window "$results" "$out/results-window.png"
echo "screenshots in $out"
