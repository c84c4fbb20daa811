#!/bin/sh
# Idle cost of the window application: CPU time used over SECONDS (default
# 60) of idling after start-up (the pass's 0.1 s timer runs only while a
# pass has work; the 30-minute poll and the wall-clock timer of hour 1
# wait), and resident memory at the end. Runs on its own Xvfb display with
# a temporary home folder. Goals: under 0.02 % of one core over ten
# minutes (bench/idle_cost.sh 600) and under 60 MB.
#   bench/idle_cost.sh [SECONDS]
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-60}
app=build/release/Quillaby.app/Contents/MacOS/Quillaby
[ -x "$app" ] || { echo "build first: scripts/build release" >&2; exit 1; }
work=$(mktemp -d)
xvfb=""
pid=""
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp >"$work/display" 2>/dev/null &
xvfb=$!
until [ -s "$work/display" ]; do sleep 0.1; done
# The home folder's name is the user's short name to the administrator check.
home=$work/$(id -un)
mkdir -p "$home"
DISPLAY=:$(head -n 1 "$work/display") HOME=$home XDG_DATA_HOME=$work/data XDG_STATE_HOME=$work/state \
    QT_QPA_PLATFORM=xcb "$app" 2>/dev/null &
pid=$!
sleep 5 # start-up and the first passes

ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
# Each time the program goes to sleep waiting for an event counts as a
# voluntary context switch: the wake-ups, summed over its threads.
wakes() { cat /proc/"$pid"/task/*/status | awk '/^voluntary_ctxt_switches:/ {n += $2} END {print n}'; }
hz=$(getconf CLK_TCK)
before=$(ticks)
woken=$(wakes)
sleep "$seconds"
after=$(ticks)
woken=$(($(wakes) - woken))
rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status")
awk -v used=$((after - before)) -v hz="$hz" -v s="$seconds" -v rss="$rss" -v woken="$woken" 'BEGIN {
    printf "CPU over %d s idle: %.2f s = %.3f %% of one core\n", s, used / hz, 100 * used / hz / s
    printf "wake-ups: %d (%.2f a second)\n", woken, woken / s
    printf "resident memory: %.1f MB\n", rss / 1024
}'
