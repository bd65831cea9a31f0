#!/usr/bin/env bash
# Runs a command on an Xvfb display of its own and answers each of the
# certificate dialogs it shows with one key, as a user would: Escape chooses
# nothing, Return takes the row the dialog offers selected.
#
#   drive_dialogs.sh TITLE COUNT KEY [SCREENSHOT] -- COMMAND [ARGS...]
#
# Waits for COUNT windows named TITLE, one after the other, and presses KEY
# in each once it has the focus; SCREENSHOT, when given, is a PNG of the
# first. Fails when a dialog does not show within a minute, when one stays
# open after the key, when two are shown at once, or when the command fails.
set -uo pipefail

title=${1:?title}
count=${2:?count}
key=${3:?key}
shift 3
screenshot=
if [ "${1:-}" != -- ]; then
    screenshot=$1
    shift
fi
[ "${1:-}" = -- ] || { echo "usage: $0 TITLE COUNT KEY [SCREENSHOT] -- COMMAND..." >&2; exit 2; }
shift

scratch=$(mktemp -d)
xvfb=
command=
cleanup() {
    [ -n "$command" ] && kill "$command" 2>/dev/null
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT

# Xvfb picks a free display and writes its number to the given descriptor.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$scratch/display" >"$scratch/xvfb.log" 2>&1 &
xvfb=$!
for _ in $(seq 100); do
    [ -s "$scratch/display" ] && break
    sleep 0.1
done
if [ ! -s "$scratch/display" ]; then
    echo "Xvfb did not start:"
    cat "$scratch/xvfb.log"
    exit 1
fi
export DISPLAY=:$(cat "$scratch/display")
unset WAYLAND_DISPLAY
echo "display $DISPLAY"

"$@" >"$scratch/output" 2>&1 &
command=$!

# The dialogs visible now, in visible; together: the most seen at once.
look() {
    visible=$(xdotool search --onlyvisible --name "^${title}\$" 2>/dev/null || true)
    local now
    now=$(grep -c . <<<"$visible")
    [ "$now" -le "$together" ] || together=$now
}

failed=0
closed=0
for i in $(seq "$count"); do
    start=$(date +%s%N)
    window=$(timeout 60 xdotool search --sync --onlyvisible --name "^${title}\$" 2>/dev/null | head -1)
    if [ -z "$window" ]; then
        echo "dialog $i: no window named \"$title\" within 60 s"
        failed=1
        break
    fi
    shown=$(( ($(date +%s%N) - start) / 1000000 ))
    if [ "$i" = 1 ] && [ -n "$screenshot" ]; then
        import -window root "$screenshot" 2>/dev/null || echo "no screenshot taken"
    fi
    # Xvfb runs no window manager: the focus is given directly.
    xdotool windowfocus --sync "$window"
    together=1
    look
    # The dialog's close is seen as an X event on its window: the next dialog
    # may show at once under the same window id. xev listens once it reports
    # a property set on the window.
    : >"$scratch/events"
    xev -id "$window" -event structure -event property >"$scratch/events" 2>/dev/null &
    watcher=$!
    for _ in $(seq 50); do
        xprop -id "$window" -f KAVRO_DRIVER 8s -set KAVRO_DRIVER listening 2>/dev/null
        grep -q PropertyNotify "$scratch/events" && break
        sleep 0.1
    done
    xdotool key "$key"
    gone=0
    for _ in $(seq 100); do
        look
        if grep -qE 'UnmapNotify|DestroyNotify' "$scratch/events"; then
            gone=1
            break
        fi
        sleep 0.1
    done
    kill "$watcher" 2>/dev/null
    wait "$watcher" 2>/dev/null
    if [ "$together" -gt 1 ]; then
        echo "dialog $i: $together dialogs shown at once"
        failed=1
        break
    fi
    if [ "$gone" = 0 ]; then
        echo "dialog $i: still open 10 s after $key"
        failed=1
        break
    fi
    closed=$((closed + 1))
    echo "dialog $i: shown after $shown ms, closed with $key"
done

status=0
if [ "$failed" = 0 ]; then
    # The command ends by itself once its dialogs are closed.
    for _ in $(seq 600); do
        kill -0 "$command" 2>/dev/null || break
        sleep 0.1
    done
fi
if kill -0 "$command" 2>/dev/null; then
    echo "the command is still running; stopping it"
    kill "$command" 2>/dev/null
    failed=1
fi
wait "$command" || status=$?
command=
cat "$scratch/output"
echo "$closed of $count dialog(s) closed with $key; the command ended with status $status"
[ "$failed" = 0 ] && [ "$status" = 0 ]
