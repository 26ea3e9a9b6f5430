#!/usr/bin/env bash
# Runs a Windows program of the build in the project's Wine prefix (CTest's
# emulator for the x86-64 build). Wine's own chatter is switched off.
root=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
export WINEPREFIX="${WINEPREFIX:-$root/build/wine}"
export WINEARCH=win64 WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="mscoree,mshtml="
export LC_ALL=C.UTF-8
exec /usr/lib/wine/wine64 "$@"
