#!/usr/bin/env bash
# Installs the build into a temporary prefix, then starts the installed program headless from
# another folder: it must find its private decoder library through its RUNPATH and show its
# window.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
home=$(mktemp -d)
trap 'rm -rf "$prefix" "$home"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null
test -x "$prefix/bin/pixavant"
test -f "$prefix/share/applications/org.pixavant.Pixavant.desktop"
test -f "$prefix/share/metainfo/org.pixavant.Pixavant.metainfo.xml"
test -f "$prefix/share/icons/hicolor/scalable/apps/pixavant.svg"
test -f "$prefix/share/icons/hicolor/48x48/apps/pixavant.png"
test -f "$prefix/share/icons/hicolor/256x256/apps/pixavant.png"
test -f "$prefix/share/man/man1/pixavant.1.gz"
test -f "$prefix/share/doc/pixavant/copyright"
test -f "$prefix/share/doc/pixavant/changelog.gz"
# The decoder library is private to the program: in its own folder, not where ldconfig and the
# dynamic linker look.
private=$(find "$prefix/lib" -name 'libmervante.so*' -printf '%h\n' | sort -u)
[ "$(basename "$private")" = pixavant ] || { echo "libmervante.so in: $private"; exit 1; }
# Captured first: grep -q stopping early must not fail the pipeline.
libs=$(ldd "$prefix/bin/pixavant")
if grep -q 'not found' <<<"$libs"; then
    echo "$libs"
    exit 1
fi
found=$(awk '$1 == "libmervante.so" { print $3 }' <<<"$libs")
[ -n "$found" ] && [ "$(realpath "$found")" = "$private/libmervante.so" ] ||
    { echo "libmervante.so loaded from: ${found:-nowhere}"; exit 1; }

cd /
out=$(HOME="$home" XDG_RUNTIME_DIR="$home" QT_QPA_PLATFORM=offscreen PIXAVANT_SMOKE_TEST=1 \
      timeout 60 "$prefix/bin/pixavant" 2>/dev/null)
echo "$out"
grep -q "main window shown: 1, caption: Pixavant" <<<"$out"
