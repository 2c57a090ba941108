#!/usr/bin/env bash
# The cost of a whole call: telvara answers a simulated caller on a pseudo-terminal,
# plays the greeting, records a 20 s message, offers the menu and hangs up. Printed:
# the call's length, telvara's CPU over it as percent of one core, and its wake-ups
# per second (context switches of all its threads). Build first:
# cmake -S . -B build && cmake --build build --target telvara telvara-modemsim telvara_data
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${BUILD_DIR:-build}
work=$(mktemp -d /tmp/telvara-call-XXXXXX)
cleanup() {
  kill "${tel:-}" "${sim:-}" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

printf '[MODEM]\nRINGS=0\n[PORTS]\nCOM2=%s/modem\n' "$work" > "$work/telvara.ini"
cp -r "$build/system" "$work/system"
# The caller rings once the ring count has settled, keys 1 after the greeting, speaks for
# 20 s, ends the message with #, and leaves with 9 at the menu.
cat > "$work/call.scn" <<SCN
caller $PWD/sim/voices/caller.wav
after 15s ring 1
wait answer
after 12s key 1
wait record
after 20s key #
wait record-end
after 2s key 9
SCN
"$build/telvara-modemsim" --link "$work/modem" --scenario "$work/call.scn" > "$work/sim.out" 2>&1 &
sim=$!
for _ in $(seq 100); do [ -s "$work/sim.out" ] && break; sleep 0.1; done
"$build/telvara" --home "$work" --listen 127.0.0.1:0 > "$work/telvara.out" 2>&1 &
tel=$!

ticks=$(getconf CLK_TCK)
cpu() { awk '{print $14 + $15}' "/proc/$tel/stat"; }
switches() { cat /proc/"$tel"/task/*/status | awk '/ctxt_switches/ {n += $2} END {print n}'; }
# Wait for a status line to appear (at most `2` seconds).
await() {
  for _ in $(seq $(($2 * 20))); do grep -q "$1" "$work/telvara.out" 2>/dev/null && return 0; sleep 0.05; done
  echo "telvara did not show \"$1\"" >&2
  cat "$work/telvara.out" >&2
  exit 1
}
await "Phone ringing." 40
c0=$(cpu); s0=$(switches); t0=$(date +%s.%N)
await "Hang up modem" 120
c1=$(cpu); s1=$(switches); t1=$(date +%s.%N)
grep -q "Recording " "$work/telvara.out" || { echo "no message was recorded" >&2; exit 1; }

awk -v c0="$c0" -v c1="$c1" -v s0="$s0" -v s1="$s1" -v t0="$t0" -v t1="$t1" -v hz="$ticks" 'BEGIN {
  wall = t1 - t0
  printf "whole call of %.1f s (greeting, 20 s message, menu): CPU %.2f%% of one core, %.1f wake-ups per second\n",
         wall, 100 * (c1 - c0) / hz / wall, (s1 - s0) / wall
}'
