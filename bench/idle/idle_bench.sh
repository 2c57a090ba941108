#!/usr/bin/env bash
# Idle cost: telvara watching a quiet simulated line for BENCH_SECONDS (60), measured
# from /proc: CPU as percent of one core, and wake-ups per second (context switches of
# all its threads), its threads and resident memory. BENCH_PAGE=1 keeps a page's event
# stream open meanwhile (as an open browser tab does); BENCH_UNPLUG=1 pulls the modem out
# first (the simulator's device vanishes), so that the cost of trying it again is measured.
# Build first:
# cmake -S . -B build && make -C build telvara telvara-modemsim
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${BENCH_SECONDS:-60}
source bench/common.sh
bench_home idle 1
start_sim --control "$work/control"
start_telvara
await "Stand by" 10 || { echo "telvara did not reach Stand by" >&2; cat "$work/telvara.out" >&2; exit 1; }
sleep 13   # past the first 12 s after start-up, when the ring count settles
if [ "${BENCH_UNPLUG:-0}" = 1 ]; then
  "$build/telvara-modemsim" --send "$work/control" unplug > /dev/null
  await "Modem lost" 5 || { echo "telvara did not notice the modem go" >&2; exit 1; }
fi
if [ "${BENCH_PAGE:-0}" = 1 ]; then
  # The printed address carries the token; the page would trade it for this cookie.
  url=$(head -n 1 "$work/telvara.out")
  port=${url#http://127.0.0.1:}
  port=${port%%/*}
  exec 3<>"/dev/tcp/127.0.0.1/$port"
  printf 'GET /api/events HTTP/1.1\r\nHost: 127.0.0.1:%s\r\nCookie: telvara%s=%s\r\n\r\n' \
    "$port" "$port" "${url#*token=}" >&3
  cat <&3 > "$work/events.txt" &
  sleep 1
  grep -q "event: state" "$work/events.txt" || { echo "the event stream did not open" >&2; exit 1; }
fi

ticks=$(getconf CLK_TCK)
cpu() { awk '{print $14 + $15}' "/proc/$tel/stat"; }
switches() {
  cat /proc/"$tel"/task/*/status | awk '/ctxt_switches/ {n += $2} END {print n}'
}
c0=$(cpu); s0=$(switches); t0=$(date +%s.%N)
sleep "$seconds"
c1=$(cpu); s1=$(switches); t1=$(date +%s.%N)

page=""; [ "${BENCH_PAGE:-0}" = 1 ] && page=" with an open page"
[ "${BENCH_UNPLUG:-0}" = 1 ] && page="$page, the modem unplugged"
awk -v page="$page" -v c0="$c0" -v c1="$c1" -v s0="$s0" -v s1="$s1" -v t0="$t0" -v t1="$t1" -v hz="$ticks" 'BEGIN {
  wall = t1 - t0
  printf "idle %.0f s%s: CPU %.3f%% of one core, %.2f wake-ups per second\n", wall, page, 100 * (c1 - c0) / hz / wall, (s1 - s0) / wall
}'
echo "threads $(ls /proc/$tel/task | wc -l), resident $(awk '/VmRSS/ {print $2, $3}' /proc/$tel/status)"
# Most of the resident set is shared library pages (libc, libstdc++, the TLS library
# the window's server links); the proportional and private sets tell our own share.
awk '/^Pss:/ {pss = $2} /^Private_(Clean|Dirty):/ {own += $2} END {print "proportional " pss " kB, private " own " kB"}' \
  "/proc/$tel/smaps_rollup"
if command -v strace >/dev/null 2>&1; then
  timeout 3 strace -f -c -p "$tel" -o "$work/strace.txt" 2>/dev/null || true
  echo "system calls in 3 s (strace -c):"
  head -n 12 "$work/strace.txt"
fi
