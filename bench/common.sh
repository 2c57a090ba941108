# Shared by the benchmark scripts (sourced, from the top of the source tree): a scratch
# program directory whose profile points COM2 at the simulator's link, the two programs
# started on it, and waiting for a status line. Removed again when the script exits.
build=${BUILD_DIR:-build}
tel="" sim=""

# bench_home NAME RINGS: the scratch directory $work, with the built prompts.
bench_home() {
  work=$(mktemp -d "/tmp/telvara-$1-XXXXXX")
  trap bench_cleanup EXIT
  printf '[MODEM]\nRINGS=%s\n[PORTS]\nCOM2=%s/modem\n' "$2" "$work" > "$work/telvara.ini"
  cp -r "$build/system" "$work/system"
}
bench_cleanup() {
  for p in $tel $sim; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
# start_sim [SIMULATOR OPTIONS...]: the simulated modem on $work/modem, once it is up.
start_sim() {
  "$build/telvara-modemsim" --link "$work/modem" "$@" > "$work/sim.out" 2>&1 &
  sim=$!
  for _ in $(seq 100); do [ -s "$work/sim.out" ] && break; sleep 0.1; done
}
start_telvara() {
  "$build/telvara" --home "$work" --listen 127.0.0.1:0 > "$work/telvara.out" 2>&1 &
  tel=$!
}
# await TEXT SECONDS: true once telvara has shown TEXT, false when the time is up.
await() {
  for _ in $(seq $(($2 * 20))); do grep -q "$1" "$work/telvara.out" 2>/dev/null && return 0; sleep 0.05; done
  return 1
}
