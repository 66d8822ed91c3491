#!/usr/bin/env bash
# Installs the Debian packages Pixavant builds, tests and benchmarks with. Idempotent: only
# what is missing is installed, so running it again is cheap.
set -euo pipefail

packages=(
    g++ cmake make pkg-config clang-format
    qt6-base-dev qt6-base-dev-tools qt6-image-formats-plugins libqt6svg6
    libjpeg62-turbo-dev libturbojpeg0-dev libjpeg-turbo-progs
    libraw-dev libraw-bin
    libmagick++-6.q16-dev libmagickcore-6.q16-6-extra
    libexiv2-dev exiv2 libseccomp-dev
    fonts-urw-base35
    libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth imagemagick
    hicolor-icon-theme adwaita-icon-theme
    desktop-file-utils appstream
    dpkg-dev file lintian
)
if [ "${PIXAVANT_BENCH_DEPS:-0}" = 1 ]; then
    packages+=(libvips-tools)
fi
# The fuzz target needs clang, its libFuzzer runtime and the OpenMP runtime that LibRaw's
# pkg-config flags (-fopenmp) make clang link (CI and benchmarks).
if [ "${PIXAVANT_BENCH_DEPS:-0}" = 1 ] || [ "${PIXAVANT_CI_DEPS:-0}" = 1 ]; then
    packages+=(clang libclang-rt-14-dev libomp-dev)
fi
# The mutation runner (scripts/mutate) is a Python script.
if [ "${PIXAVANT_MUTATE_DEPS:-0}" = 1 ]; then
    packages+=(python3)
fi
# The outside stepping benchmark (bench/viewer/outside-step.sh): the peers it times, a virtual
# screen and the X libraries of its screen poller.
if [ "${PIXAVANT_PEER_DEPS:-0}" = 1 ]; then
    packages+=(geeqie qimgv xvfb xdotool gcc libx11-dev libxext-dev libxtst-dev)
fi
# The keyboard walk of scripts/keyboard-walk.sh; no test needs these.
if [ "${PIXAVANT_WALK_DEPS:-0}" = 1 ]; then
    packages+=(xdotool openbox)
fi

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [ "$status" = "install ok installed" ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
