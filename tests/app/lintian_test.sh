#!/usr/bin/env bash
# Builds the Debian package from the build tree into a temporary folder and has lintian check
# it: no error and no warning may remain. Informational and pedantic tags are shown, not failed.
set -euo pipefail
cpack=$1
build=$2
if ! command -v lintian >/dev/null; then
    echo "lintian is not installed (scripts/install-deps.sh installs it); package not checked"
    exit 77
fi
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

if ! "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1; then
    cat "$out/cpack.log"
    exit 1
fi
shopt -s nullglob
debs=("$out"/pixavant_*.deb)
[ ${#debs[@]} -eq 1 ] || { echo "expected one pixavant .deb in $out"; ls "$out"; exit 1; }
# The debug symbols come in a .ddeb beside it, which lintian checks like any binary package.
ddebs=("$out"/pixavant-dbgsym_*.ddeb)
rc=0
report=$(lintian --fail-on error,warning --display-info --pedantic --show-overrides \
    "${debs[@]}" "${ddebs[@]}" 2>&1) || rc=$?
grep -v 'running with root privileges' <<<"$report" || true
if [ "$rc" -ne 0 ]; then
    echo "lintian found errors or warnings (exit status $rc)"
fi
exit "$rc"
