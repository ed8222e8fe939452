#!/usr/bin/env bash
# Runs a Windows program under Wine in the build's own prefix
# (build-windows/wine, made on first use), with Wine's messages off.
#
#   tools/wine-run.sh PROGRAM.exe [ARGS...]
#
# WINEPREFIX may name another prefix.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$here/build-windows/wine}
export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  # No Mono or Gecko prompts; the first boot takes some seconds.
  wineboot -i >/dev/null 2>&1
  wineserver -w
fi
# One server for a whole test run: with Wine's default of a few seconds, a
# server that quits just as the next program connects fails that program
# ("recvmsg: Connection reset by peer"). A later call finds it running. Wine's
# own services live as long as the server and keep the descriptors of the
# program that started them, so they are started here, away from the caller's
# pipes, which would otherwise stay open for the server's life.
if wineserver -p60 </dev/null >/dev/null 2>&1; then
  wine wineboot </dev/null >/dev/null 2>&1 || true
fi
exec wine "$@"
