#!/usr/bin/env bash
# Builds Telvara and runs it on its simulated modem. Every few minutes a caller rings
# and leaves a message, and Telvara calls the owner back (the simulated owner keys in
# the security code and listens). The build is quiet; the first line Telvara prints is
# the window's address, with its access key: open it in a browser. Ctrl-C stops both
# programs.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
demo=${TELVARA_DEMO_DIR:-/tmp/telvara-demo}
listen=${TELVARA_LISTEN:-127.0.0.1:7200}

tools/install-deps.sh
mkdir -p "$demo"
echo "Building Telvara (output in $demo/build.log) ..." >&2
if ! { cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
       cmake --build build -j"$(nproc)" --target telvara telvara-modemsim telvara_data; } > "$demo/build.log" 2>&1; then
  tail -n 40 "$demo/build.log" >&2
  echo "The build failed; the whole output is in $demo/build.log" >&2
  exit 1
fi

# The demo's program directory: its own profile, log, inbox and a copy of the prompts
# (a greeting recorded in the demo is kept). PHONE is the owner's number, called back
# after a message (the simulated line answers any number). A profile already there is
# left as it is.
mkdir -p "$demo/system"
cp -n build/system/* "$demo/system/" 2>/dev/null || true
if [ ! -f "$demo/telvara.ini" ]; then
  cat > "$demo/telvara.ini" <<INI
[MODEM]
PORT=2
TYPE=0
RINGS=1
CALLERID=1
PHONE=5550123
[PORTS]
COM2=$demo/modem
INI
fi

"$repo/build/telvara-modemsim" --link "$demo/modem" --scenario "$repo/sim/scenarios/demo.scn" \
  --repeat --control "$demo/control" --transcript "$demo/modem.jsonl" \
  --heard-dir "$demo/heard" > "$demo/modemsim.out" 2> "$demo/modemsim.err" &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null || true' EXIT
for _ in $(seq 100); do
  [ -s "$demo/modemsim.out" ] && break
  kill -0 $sim 2>/dev/null || { cat "$demo/modemsim.err" >&2; exit 1; }
  sleep 0.1
done
echo "Simulated modem on $(head -n 1 "$demo/modemsim.out") (transcript: $demo/modem.jsonl)" >&2
echo "Open Telvara's window at the address below:" >&2

"$repo/build/telvara" --home "$demo" --listen "$listen"
