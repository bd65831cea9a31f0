#!/usr/bin/env bash
# Runs Windows programs under wine64 in the Wine prefix named by WINEPREFIX
# (one per build tree).
#   wine-run.sh init                                create or update the prefix
#   wine-run.sh run [--path DIR] PROGRAM [ARGS...]  run a program, DIR on its WINEPATH
#   wine-run.sh stop                                stop the prefix's wineserver
# KAVRO_WINE64 and KAVRO_WINESERVER name the programs (Debian keeps them in
# /usr/lib/wine). Every run here is without a display (DISPLAY and
# WAYLAND_DISPLAY cleared): a wineserver must not serve runs with and without
# one, so tests that show windows use a display on every run or stop the
# server first.
set -euo pipefail
: "${WINEPREFIX:?WINEPREFIX must name the prefix}"
wine64=${KAVRO_WINE64:-/usr/lib/wine/wine64}
wineserver=${KAVRO_WINESERVER:-/usr/lib/wine/wineserver}
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

# Wine's helper processes (services, explorer, ...) outlive the program and
# inherit its output: a caller reading it through a pipe (CTest) would wait
# for them. So the program writes to a file, copied to our output afterwards.
log=$(mktemp)
trap 'rm -f "$log"' EXIT
run_logged() {
    local status=0
    "$@" >"$log" 2>&1 || status=$?
    cat "$log"
    return $status
}

case "${1:-}" in
init)
    mkdir -p "$WINEPREFIX"
    # One server for the whole test run, so every program starts warm; it
    # ends a minute after its last client, or at stop.
    "$wineserver" -p60 </dev/null >/dev/null 2>&1 || true
    start=$(date +%s%N)
    run_logged "$wine64" wineboot --init
    end=$(date +%s%N)
    echo "wineboot --init: $(( (end - start) / 1000000 )) ms"
    ;;
run)
    shift
    if [ "${1:-}" = --path ]; then
        # Z: is the Unix root in every prefix.
        WINEPATH="Z:${2//\//\\}"
        export WINEPATH
        shift 2
    fi
    run_logged "$wine64" "$@"
    ;;
stop)
    "$wineserver" -k 2>/dev/null || true
    ;;
*)
    echo "usage: $0 init | run [--path DIR] PROGRAM [ARGS...] | stop" >&2
    exit 2
    ;;
esac
