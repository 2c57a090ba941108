#!/usr/bin/env bash
# Serves the real telvara on a simulated modem for the browser test: prints the
# window's address first, as telvara does; a caller rings now and then.
set -u
build=$1
home=$(mktemp -d /tmp/telvara-browser-XXXXXX)
printf '[MODEM]\nRINGS=1\n[PORTS]\nCOM2=%s/modem\n' "$home" > "$home/telvara.ini"
printf 'after 3s ring 3\nafter 20s\nrepeat\n' > "$home/line.scn"
"$build/telvara-modemsim" --link "$home/modem" --scenario "$home/line.scn" > "$home/sim.out" 2>&1 &
sim=$!
for _ in $(seq 100); do [ -s "$home/sim.out" ] && break; sleep 0.1; done
"$build/telvara" --home "$home" --listen 127.0.0.1:0 &
tel=$!
stop() { kill "$tel" "$sim" 2>/dev/null; wait "$tel" "$sim" 2>/dev/null; rm -rf "$home"; exit 0; }
trap stop TERM INT EXIT
wait "$tel"
