#!/bin/sh
# Takes the screenshots of both windows from the real program under Xvfb, with the
# platform's own style, at normal size and at 1.5 times (QT_SCALE_FACTOR): the main window
# with the samples listed, then the results window after a run. Needs Xvfb, xdotool and
# ImageMagick's import.
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
Xvfb "$display" -screen 0 1600x1200x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
app=
cleanup() { [ -n "$app" ] && kill "$app" 2>/dev/null || true; kill "$xvfb" 2>/dev/null || true; rm -rf "$config"; }
trap cleanup EXIT
sleep 1
export DISPLAY=$display XDG_CONFIG_HOME=$config HOME=$config

window() { # the shown window titled Vellumcast
  for _ in $(seq 150); do
    id=$(xdotool search --onlyvisible --name '^Vellumcast$' 2>/dev/null | tail -1 || true)
    [ -n "$id" ] && { echo "$id"; return; }
    sleep 0.2
  done
  echo "no window" >&2; exit 1
}

# capture SUFFIX SCALE: both windows at that scale, as main-window$SUFFIX.png and
# results-window$SUFFIX.png.
capture() {
  # Options as a person might choose them: comma divider, each sheet to a text file.
  cat > "$config/Tamsworth.ini" <<INI
[Vellumcast]
Directions=Save each sheet to a text file
Option1=False
Option2=True
Output%20Folder=/home/demo/Documents/Exports/
INI
  QT_SCALE_FACTOR=$2 "$program" "$root"/Samples/Sales.xlsx "$root"/Samples/Sales.xls "$root"/Samples/Sales.ods \
    "$root"/Samples/Contacts.csv &
  app=$!
  main=$(window)
  sleep 1
  import -window "$main" "$out/main-window$1.png"
  xdotool windowfocus --sync "$main" key Return   # Enter starts the export
  sleep 2
  results=$(window)
  [ "$results" != "$main" ] || { sleep 2; results=$(window); }
  xdotool windowfocus --sync "$results" key Down   # the list has the focus on the first result: the second one
  sleep 1
  import -window "$results" "$out/results-window$1.png"
  kill "$app"; wait "$app" 2>/dev/null || true; app=
}

capture "" 1
capture "-1.5x" 1.5
echo "screenshots in $out"
