#!/usr/bin/env bash
# Steps through the same files in Pixavant, Geeqie and qimgv the way a user sees it: a key press
# through XTest, then the screen polled until the picture has stopped changing. 20 CR2 files
# and 20 six-megapixel JPEGs, forward then back, a step a second; the programs take turns in
# every round, so that each round's ratios are measured under the same load. Also times
# starting each program on one CR2 until its picture is still on the screen.
#
# usage: bench/viewer/outside-step.sh [BUILD_FOLDER] [ROUNDS]  (default build/, 2 rounds)
# needs: PIXAVANT_PEER_DEPS=1 scripts/install-deps.sh, and a build with PIXAVANT_BENCH=ON
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
rounds=${2:-2}
steps=${PIXAVANT_OUTSIDE_STEPS:-40} interval=1000 quiet=300
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT

cc -O2 -o "$work/screen-poll" "$root/bench/viewer/screen-poll.c" -lX11 -lXext -lXtst
mkdir -p "$work/src"
"$build/bench/viewer/bench_viewer_step" --make "$work/src" 2>/dev/null
mkdir -p "$work/src/cr2" "$work/src/jpg"
mv "$work"/src/IMG_* "$work/src/cr2/"
mv "$work"/src/DSC_* "$work/src/jpg/"
for p in pixavant geeqie qimgv; do
    mkdir -p "$work/$p/home"
    cp -r "$work/src/cr2" "$work/src/jpg" "$work/$p/"
done

display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
export DISPLAY=$display
sleep 1

command_of() { # program file
    case $1 in
    pixavant) echo "$build/app/pixavant $2" ;;
    geeqie) echo "geeqie --fullscreen $2" ;;
    qimgv) echo "qimgv $2" ;;
    esac
}
keys_of() {
    case $1 in
    geeqie) echo "Page_Down Page_Up" ;;
    *) echo "Right Left" ;;
    esac
}

# Percentiles of the steps the screen showed; steps that changed nothing are counted apart.
figures() {
    sort -n "$1" | awk '$1 >= 0 { v[n++] = $1 } $1 < 0 { none++ }
        END { if (!n) { printf "cannot show these (%d steps, none changed the screen)", none; exit }
              printf "p50 %6.1f ms, p90 %6.1f ms", v[int(0.5 * (n - 1) + 0.5)], v[int(0.9 * (n - 1) + 0.5)]
              if (none) printf " (%d steps changed nothing)", none }'
}

run() { # program kind round
    local p=$1 kind=$2 first
    first=$(ls "$work/$p/$kind" | grep -v '\.CR2\.JPG$' | sort | head -1)
    export HOME="$work/$p/home" XDG_RUNTIME_DIR="$work/$p/home"
    $(command_of "$p" "$work/$p/$kind/$first") >/dev/null 2>&1 &
    local pid=$!
    sleep 8 # the window, the first picture, and for Pixavant the folder's RAW pass
    # Windowed viewers get the whole screen, as the full-screen one has.
    for w in $(xdotool search --pid $pid --onlyvisible --name . 2>/dev/null); do
        xdotool windowmove "$w" 0 0 windowsize "$w" 1920 1080 2>/dev/null || true
    done
    xdotool mousemove 960 540
    sleep 2
    read -r next prev <<<"$(keys_of "$p")"
    "$work/screen-poll" "$next" "$prev" $steps $interval $quiet >"$work/$p-$kind-$3.txt"
    kill $pid 2>/dev/null || true
    wait $pid 2>/dev/null || true
    unset HOME XDG_RUNTIME_DIR
    printf "round %d  %-8s next %-4s %s\n" "$3" "$p" "$kind" "$(figures "$work/$p-$kind-$3.txt")"
}

echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
for r in $(seq 1 "$rounds"); do
    for kind in cr2 jpg; do
        for p in pixavant geeqie qimgv; do
            run $p $kind "$r"
        done
    done
    for p in pixavant geeqie; do
        export HOME="$work/$p/home" XDG_RUNTIME_DIR="$work/$p/home"
        f="$work/$p/cr2/IMG_0005.CR2"
        ms=$("$work/screen-poll" --launch 500 $(command_of $p "$f") 2>/dev/null)
        pkill -f "$f" 2>/dev/null || true
        sleep 1
        unset HOME XDG_RUNTIME_DIR
        printf "round %d  %-8s start on a CR2 to its picture: %s ms\n" "$r" "$p" "$ms"
    done
done
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
