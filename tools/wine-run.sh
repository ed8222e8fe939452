#!/usr/bin/env bash
# Runs a Windows program under Wine in the build's own prefix
# (build-windows/wine, made on first use), with Wine's messages off (but see
# --test).
#
#   tools/wine-run.sh PROGRAM.exe [ARGS...]
#   tools/wine-run.sh --test PROGRAM.exe [ARGS...]
#   tools/wine-run.sh --up | --down
#
# --test keeps Wine's error messages aside and prints them when the program
# fails, so that a program Wine could not start says why. --up makes the
# prefix and starts one server that lasts until --down; a test run brackets
# its programs with the two.
#
# WINEPREFIX may name another prefix.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$here/build-windows/wine}
export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# Debian's Wine comes without its preloader, which reserves the addresses a
# Windows process needs before anything else is mapped. With address
# randomisation the kernel now and then maps something there first, and the
# program dies before it prints anything ("failed to map the shared user
# data", c0000018). Without randomisation every start is laid out alike.
norandom=()
if setarch "$(uname -m)" -R true 2>/dev/null; then
  norandom=(setarch "$(uname -m)" -R)
fi

# Programs that start together on a missing prefix would each make it, and
# each start a server: the first of them to get here does it for all.
mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>"$WINEPREFIX.lock"
flock 9

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  # No Mono or Gecko prompts; the first boot takes some seconds.
  "${norandom[@]}" wineboot -i >/dev/null 2>&1 9>&-
  wineserver -w 9>&-
fi

# Wine's own services live as long as the server and keep the descriptors of
# the program that started them, so they are started here, away from the
# caller's pipes and the lock, which would otherwise stay open for the
# server's life.
start_services() {
  "${norandom[@]}" wine wineboot </dev/null >/dev/null 2>&1 9>&- || true
}

case ${1:-} in
  --up)
    # A server that quits a few seconds after its last program quits fails
    # the next program that connects just then ("recvmsg: Connection reset
    # by peer"), before it prints anything. The run's server stays.
    wineserver -k 2>/dev/null 9>&- || true
    wineserver -w 9>&-
    wineserver -p </dev/null >/dev/null 2>&1 9>&-
    start_services
    exit 0
    ;;
  --down)
    wineserver -k 2>/dev/null 9>&- || true
    wineserver -w 9>&-
    exit 0
    ;;
esac

# Without --up, one server for a while: a later call finds it running.
if wineserver -p60 </dev/null >/dev/null 2>&1 9>&-; then
  start_services
fi
flock -u 9
exec 9>&-

if [ "${1:-}" = --test ]; then
  shift
  said=$(mktemp)
  trap 'rm -f "$said"' EXIT
  status=0
  WINEDEBUG=-all,err+all "${norandom[@]}" wine "$@" 2>"$said" || status=$?
  [ "$status" = 0 ] || echo "wine-run: $1 exited with $status; its errors and Wine's:" >&2
  # Debian's wine script notes on every start that the 32-bit loader is missing.
  grep -v -e 'wine32' -e 'multiarch' -e 'dpkg --add' -e 'apt-get install' "$said" >&2 || true
  exit "$status"
fi
exec "${norandom[@]}" wine "$@"
