#!/usr/bin/env bash
# Runs a Windows program under Wine in the build's own prefix.
# HB_WINEPREFIX may name the prefix; otherwise it is <build>/wineprefix,
# found from the program's path.
set -euo pipefail
if [ -z "${HB_WINEPREFIX:-}" ]; then
  dir=$(cd "$(dirname "$1")" && pwd)
  while [ "$dir" != "/" ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
  [ -f "$dir/CMakeCache.txt" ] || { echo "wine-run: no build folder above $1" >&2; exit 2; }
  HB_WINEPREFIX="$dir/wineprefix"
fi
export WINEPREFIX="$HB_WINEPREFIX"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
exec wine "$@"
