#!/usr/bin/env bash
# Crash safety: telvara answers simulated calls and is killed with SIGKILL at KILLS
# (default 20) random moments of a call (greeting, recording, menu, saving), then
# started again. After every restart: the log loads (nothing moved aside), no message
# listed before is lost, every recording cut short is listed again with a repaired
# header, and no temp file of a save is left. Printed: the counts. Build first:
# cmake --build build --target telvara telvara-modemsim telvara_data
set -euo pipefail
cd "$(dirname "$0")/../.."
source bench/common.sh
kills=${KILLS:-20}
bench_home kill 0
# A caller who keys 1 after the greeting, speaks for 8 s, ends with # and leaves with 9.
cat > "$work/call.scn" <<SCN
caller $PWD/sim/voices/caller.wav
after 14s ring 1
wait answer
after 1s key 1
wait record
after 8s key #
wait record-end
after 1s key 9
SCN

failures=0
fail() {
  echo "round $round: $*" >&2
  failures=$((failures + 1))
}
# The message file names the log holds, one a line, sorted.
logged() { grep -a -o 'P[A-Z]\{3\}[0-9]\{4\}\.WAV' "$work/orvanel.log" 2>/dev/null | sort -u || true; }
# The 32-bit data length of a WAV header, in decimal.
data_length() { od -An -tu4 -j40 -N4 "$1" | tr -d ' '; }
# Inbox recordings whose header counts no data though samples follow: cut short.
cut_files() {
  for f in "$work"/inbox/*.WAV; do
    [ -f "$f" ] || continue
    [ "$(stat -c %s "$f")" -gt 44 ] && [ "$(data_length "$f")" = 0 ] && basename "$f"
  done | sort
  true
}
start() {
  : > "$work/telvara.out"
  start_sim --scenario "$work/call.scn"
  start_telvara
}
stop_sim() {
  kill "$sim" 2>/dev/null || true
  wait "$sim" 2>/dev/null || true
  sim=""
}

before="" cut="" recovered_total=0 cut_total=0 saved_total=0 round=0
for round in $(seq 0 "$kills"); do
  start
  await "Stand by" 30 || { fail "telvara did not come up"; cat "$work/telvara.out" >&2; break; }
  # What the last kill left must be back, and nothing listed before may be gone.
  after=$(logged)
  lost=$(comm -23 <(printf '%s\n' $before) <(printf '%s\n' $after) | grep -c . || true)
  [ "$lost" = 0 ] || fail "$lost listed messages lost"
  for f in $cut; do
    grep -qx "$f" <<< "$after" || fail "cut recording $f not listed"
    [ "$(data_length "$work/inbox/$f")" != 0 ] || fail "cut recording $f not repaired"
  done
  n=$(printf '%s\n' $cut | grep -c . || true)
  if [ "$n" -gt 0 ]; then
    grep -q "Recovered $n message" "$work/telvara.out" || fail "no status for $n recovered"
    recovered_total=$((recovered_total + $(comm -12 <(printf '%s\n' $cut) <(printf '%s\n' $after) | grep -c . || true)))
  fi
  ls "$work"/orvanel.log.unreadable-* > /dev/null 2>&1 && fail "the log did not load"
  ls "$work"/orvanel.log.tmp-* > /dev/null 2>&1 && fail "a temp file of a save was left"
  [ "$round" = "$kills" ] && break

  # Kill at a random moment from the first counted ring to shortly after the call.
  await "Phone ringing." 40 || { fail "no call came"; break; }
  sleep "$((RANDOM % 20)).$((RANDOM % 10))"
  before=$(logged)
  kill -9 "$tel"
  wait "$tel" 2>/dev/null || true
  tel=""
  stop_sim
  cut=$(cut_files | comm -23 - <(printf '%s\n' $before))
  cut_total=$((cut_total + $(printf '%s\n' $cut | grep -c . || true)))
  saved_total=$(printf '%s\n' $before | grep -c . || true)
done
for p in $tel; do kill "$p" 2>/dev/null || true; done
wait "$tel" 2>/dev/null || true
tel=""
stop_sim

echo "kills: $kills; recordings cut short: $cut_total, listed again: $recovered_total;" \
  "messages in the log at the end: $(logged | grep -c . || true) (saved before the last kill: $saved_total); failures: $failures"
[ "$failures" = 0 ]
