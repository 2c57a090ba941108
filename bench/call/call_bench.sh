#!/usr/bin/env bash
# The cost of a whole call: telvara answers a simulated caller on a pseudo-terminal,
# plays the greeting, records a 20 s message, offers the menu and hangs up. Printed:
# the call's length, telvara's CPU over it as percent of one core, and its wake-ups
# per second (context switches of all its threads). Build first:
# cmake -S . -B build && cmake --build build --target telvara telvara-modemsim telvara_data
set -euo pipefail
cd "$(dirname "$0")/../.."
source bench/common.sh
bench_home call 0
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
start_sim --scenario "$work/call.scn"
start_telvara

ticks=$(getconf CLK_TCK)
cpu() { awk '{print $14 + $15}' "/proc/$tel/stat"; }
switches() { cat /proc/"$tel"/task/*/status | awk '/ctxt_switches/ {n += $2} END {print n}'; }
shown() { await "$@" || { echo "telvara did not show \"$1\"" >&2; cat "$work/telvara.out" >&2; exit 1; }; }
shown "Phone ringing." 40
c0=$(cpu); s0=$(switches); t0=$(date +%s.%N)
shown "Hang up modem" 120
c1=$(cpu); s1=$(switches); t1=$(date +%s.%N)
grep -q "Recording " "$work/telvara.out" || { echo "no message was recorded" >&2; exit 1; }

awk -v c0="$c0" -v c1="$c1" -v s0="$s0" -v s1="$s1" -v t0="$t0" -v t1="$t1" -v hz="$ticks" 'BEGIN {
  wall = t1 - t0
  printf "whole call of %.1f s (greeting, 20 s message, menu): CPU %.2f%% of one core, %.1f wake-ups per second\n",
         wall, 100 * (c1 - c0) / hz / wall, (s1 - s0) / wall
}'
