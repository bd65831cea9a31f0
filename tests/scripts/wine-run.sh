#!/usr/bin/env bash
# Runs Windows programs under Wine in the Wine prefix named by WINEPREFIX
# (one per build tree).
#   wine-run.sh probe                               exit 0 when the loader runs on this machine
#   wine-run.sh init                                create or update the prefix
#   wine-run.sh run [--path DIR] PROGRAM [ARGS...]  run a program, DIR on its WINEPATH
#   wine-run.sh display [--path DIR] PROGRAM [ARGS...]
#                                                   the same on the X display in DISPLAY
#   wine-run.sh stop                                stop the prefix's wineserver
# KAVRO_WINE names the loader: wine64 for 64-bit programs, wine (with
# WINEARCH=win32 for its prefix) for 32-bit ones; KAVRO_WINESERVER the
# server. Debian keeps them in /usr/lib/wine. Runs are without a display
# (DISPLAY and WAYLAND_DISPLAY cleared), except with display. A wineserver
# must not serve runs with and without one (a window asked for then never
# shows), so display runs on a server of its own: it stops the running one
# before and its own after.
set -euo pipefail
wine=${KAVRO_WINE:-/usr/lib/wine/wine64}
wineserver=${KAVRO_WINESERVER:-/usr/lib/wine/wineserver}

# A kernel without IA32 emulation refuses to execute the 32-bit loader
# (status 126, "Exec format error"): exit 77 with that reason on one line.
# Any other failure is a broken set-up, not a machine that cannot run it.
if [ "${1:-}" = probe ]; then
    status=0
    reason=$("$wine" --version 2>&1) || status=$?
    case $status in
    0) exit 0 ;;
    126) echo "this machine cannot run $wine (${reason##*: })"; exit 77 ;;
    *) echo "$wine --version failed with status $status: $reason"; exit 1 ;;
    esac
fi

: "${WINEPREFIX:?WINEPREFIX must name the prefix}"
# No Mono or Gecko prompts; no debugger on a crash, which then ends the
# program with a plain exit code.
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
display=${DISPLAY:-}
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

# Sets WINEPATH from --path DIR (Z: is the Unix root in every prefix);
# shift_by tells how many arguments it took.
take_path() {
    shift_by=0
    if [ "${1:-}" = --path ]; then
        WINEPATH="Z:${2//\//\\}"
        export WINEPATH
        shift_by=2
    fi
}

stop_server() {
    "$wineserver" -k 2>/dev/null || true
    "$wineserver" -w 2>/dev/null || true
}

case "${1:-}" in
init)
    mkdir -p "$WINEPREFIX"
    # One server for the whole test run, so every program starts warm; it
    # ends a minute after its last client, or at stop.
    "$wineserver" -p60 </dev/null >/dev/null 2>&1 || true
    start=$(date +%s%N)
    run_logged "$wine" wineboot --init
    end=$(date +%s%N)
    echo "wineboot --init: $(( (end - start) / 1000000 )) ms"
    ;;
run)
    shift
    take_path "$@"
    shift $shift_by
    run_logged "$wine" "$@"
    ;;
display)
    shift
    take_path "$@"
    shift $shift_by
    if [ -z "$display" ]; then
        echo "wine-run.sh display: DISPLAY is not set" >&2
        exit 2
    fi
    stop_server
    status=0
    DISPLAY=$display run_logged "$wine" "$@" || status=$?
    stop_server
    exit $status
    ;;
stop)
    stop_server
    ;;
*)
    echo "usage: $0 probe | init | run [--path DIR] PROGRAM [ARGS...] | display [--path DIR] PROGRAM [ARGS...] | stop" >&2
    exit 2
    ;;
esac
