#!/bin/sh
# Runs the script runner in a build's own Wine prefix (never ~/.wine):
#   tools/ztolvera-run.sh [options] script.vbs...
# ZTOLVERA_BUILD picks the build folder (default: build/ in the source tree).
# Script and journal paths may be relative or absolute Unix paths: Wine maps
# the Unix root to drive Z:, the current folder included.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${ZTOLVERA_BUILD:-$top/build}
case $build in
    /*) ;;
    *) build=$PWD/$build ;;
esac
runner=$build/bin/ztolvera-run.exe
if [ ! -x "$build/wine-run.sh" ] || [ ! -f "$runner" ]; then
    echo "ztolvera-run.sh: $runner is not built; run 'make build' first" >&2
    exit 2
fi
exec "$build/wine-run.sh" "$runner" "$@"
