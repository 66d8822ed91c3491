#!/usr/bin/env bash
# Walks through the program with the keyboard alone, under a virtual display with a window
# manager, and takes a screenshot after every step, once at scale 1 and once at scale 2:
# start, Tab to the tree, Tab to the grid, Return opens the picture, Ctrl+R turns it, Space
# shows the next one, F5 starts the slideshow, Escape ends it, Escape closes the viewer, F1
# shows the About window and Escape closes it.
#
# Usage: scripts/keyboard-walk.sh [BUILD_DIR] [OUT_DIR]
# Needs xvfb-run, xdotool, openbox and ImageMagick's import:
#   PIXAVANT_WALK_DEPS=1 scripts/install-deps.sh
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
out=${2:-/tmp/pixavant-walk}
samples=${PIXAVANT_SAMPLES:-$here/../../shared/samples}
program=$build/app/pixavant

for tool in xvfb-run xdotool openbox import; do
    command -v "$tool" >/dev/null || {
        echo "keyboard-walk: $tool is missing; run PIXAVANT_WALK_DEPS=1 scripts/install-deps.sh" >&2
        exit 1
    }
done
[ -x "$program" ] || { echo "keyboard-walk: build the program first ($program)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A folder of a few photographs; the samples themselves are read-only and stay as they are.
# (The sample RAW files are all cut short, so none is taken: each would raise a report box.)
mkdir -p "$work/Pictures" "$work/home" "$work/run"
chmod 700 "$work/run"
for f in fp_Landscape_2.jpg fp_Landscape_3.jpg fp_Portrait_6.jpg exiv2_DSC_3079.jpg \
         exiv2_exiv2-canon-eos-20d.jpg; do
    [ -f "$samples/jpg/$f" ] && cp "$samples/jpg/$f" "$work/Pictures/"
done
mkdir -p "$out"

# One walk on the display the caller's xvfb-run opened.
walk() {
    local scale=$1 shots=$2
    openbox >/dev/null 2>&1 &
    local wm=$!
    sleep 1
    HOME=$work/home XDG_RUNTIME_DIR=$work/run XDG_CACHE_HOME=$work/home/.cache \
        QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=$scale "$program" "$work/Pictures" &
    local app=$!
    xdotool search --sync --name '^Pixavant' >/dev/null
    sleep 4 # the RAW pass and the thumbnails
    shot() {
        sleep "${2:-1.5}"
        import -window root "$shots/$1.png"
    }
    shot 01-start 0
    xdotool key Tab && shot 02-tree
    xdotool key Tab && shot 03-grid
    xdotool key Return && shot 04-viewer 3
    xdotool key ctrl+r && shot 05-turned
    xdotool key space && shot 06-next 3
    xdotool key F5 && shot 07-slideshow 3
    xdotool key Escape && shot 08-slideshow-ended
    xdotool key Escape && shot 09-viewer-closed
    xdotool key F1 && shot 10-about
    xdotool key Escape && shot 11-about-closed
    xdotool key ctrl+q
    sleep 1
    kill "$app" 2>/dev/null || true
    kill "$wm" 2>/dev/null || true
    wait "$app" 2>/dev/null || true
}

for scale in 1 2; do
    mkdir -p "$out/scale$scale"
    xvfb-run -a -s "-screen 0 $((1600 * scale))x$((1000 * scale))x24" \
        env work="$work" program="$program" bash -c "$(declare -f walk); walk $scale '$out/scale$scale'"
done
echo "keyboard-walk: screenshots in $out"
