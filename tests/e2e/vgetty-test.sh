#!/usr/bin/env bash
# Debian's vgetty, an independent voice-modem program, takes a call on telvara-modemsim:
# it finds the modem, answers the ring, plays its greeting, records the caller and hangs
# up. Usage: vgetty-test.sh BUILD-DIR DIALECT (rockwell, is-101 or usr).
# vgetty reads its configuration from /etc/mgetty only, so it runs in a private mount
# namespace with a scratch folder in place of that, its log and its lock folders.
set -uo pipefail
build=$1 dialect=$2
src=$(cd "$(dirname "$0")/../.." && pwd)
skip() { echo "vgetty test skipped: $*"; exit 77; }
fail() { echo "FAIL ($dialect): $*"; [ -n "${work:-}" ] && tail -n 40 "$work"/log/* "$work/transcript.jsonl" 2>/dev/null; exit 1; }

[ "$(id -u)" -eq 0 ] || skip "needs root (a private mount namespace for vgetty's fixed configuration paths)"
if ! command -v /usr/sbin/vgetty >/dev/null || ! command -v pvftormd >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq mgetty-voice mgetty-pvftools >/dev/null 2>&1 ||
    skip "the packages mgetty-voice and mgetty-pvftools cannot be installed"
fi
unshare -m true 2>/dev/null || skip "cannot make a mount namespace here"
mkdir -p /etc/mgetty /var/log/mgetty /var/lock  # the mount points

case $dialect in
  rockwell) rmd="Rockwell 8" compression=8 rate=7200 ;;
  is-101) rmd="V253modem 8" compression=8 rate=7200 ;;
  usr) rmd="US_Robotics 4" compression=4 rate=8000 ;;
  *) echo "unknown dialect $dialect"; exit 2 ;;
esac

work=$(mktemp -d /tmp/telvara-vgetty.XXXXXX)
sim_pid="" vg_pid=""
cleanup() {
  [ -n "$vg_pid" ] && kill -KILL "$vg_pid" 2>/dev/null
  [ -n "$sim_pid" ] && kill -TERM "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  [ -n "${KEEP:-}" ] || rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work"/{etc,log,lock,heard,spool/incoming,spool/messages}

wavtopvf "$src/sim/voices/greeting.wav" | pvfspeed -s $rate | pvftormd $rmd >"$work/spool/messages/greeting.rmd" ||
  fail "pvftormd could not make the greeting"
echo greeting.rmd >"$work/spool/messages/Index"
cat >"$work/etc/voice.conf" <<CONF
part generic
voice_log_level 6
voice_dir $work/spool
voice_shell /bin/sh
port_timeout 10
rec_compression $compression
rec_max_len 20
rec_silence_len 30
beep_length 200
rec_always_keep true
program vgetty
rings 2
answer_mode voice
dtmf_program
CONF
printf 'speed 38400\nmodem-type data\n' >"$work/etc/mgetty.config"

cat >"$work/call.scn" <<SCN
caller $src/sim/voices/caller.wav
after 1s ring 4
wait record 40s
after 4s hangup
SCN
"$build/telvara-modemsim" --dialect "$dialect" --link "$work/modem" --scenario "$work/call.scn" \
  --transcript "$work/transcript.jsonl" --heard-dir "$work/heard" >"$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do [ -s "$work/sim.out" ] && break; sleep 0.1; done
device=$(readlink "$work/modem") || fail "the simulator did not start: $(cat "$work/sim.out")"

# vgetty takes the device's name under /dev; it leaves after one call.
unshare -m --propagation private sh -c "mount --bind '$work/etc' /etc/mgetty && mount --bind '$work/log' /var/log/mgetty &&
  mount --bind '$work/lock' /var/lock && exec /usr/sbin/vgetty -x 6 '${device#/dev/}'" &
vg_pid=$!
for _ in $(seq 600); do kill -0 "$vg_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$vg_pid" 2>/dev/null && fail "vgetty did not finish the call within 60 s"
vg_pid=""

grep -q '"kind":"answer"' "$work/transcript.jsonl" || fail "vgetty did not answer"
grep '"kind":"voice-tx-end"' "$work/transcript.jsonl" | grep -q '"endedBy":"etx"' || fail "no greeting was played"
grep -q '"kind":"hook","text":"on"' "$work/transcript.jsonl" || fail "vgetty did not hang up"
recording=$(ls "$work"/spool/incoming/*.rmd 2>/dev/null | head -1)
[ -n "$recording" ] || fail "no recording"
# What the line carried, decoded, against the source file at the same rate: the
# correlation of their first second (8-bit unsigned raw samples) is above 0.9.
similar() {  # RAW-FILE WAV-FILE RATE
  wavtopvf "$2" | pvfspeed -s "$3" | pvftolin -C -U >"$work/source.raw" || return 1
  paste <(od -An -v -tu1 -w1 -N "$3" "$1") <(od -An -v -tu1 -w1 -N "$3" "$work/source.raw") |
    awk '{ x = $1 - 128; y = $2 - 128; xy += x * y; xx += x * x; yy += y * y }
         END { c = xx && yy ? xy / sqrt(xx * yy) : 0; print "correlation: " c; exit !(c > 0.9) }'
}
# The caller heard the greeting (the simulator keeps it as a WAV file with a 44-byte header) ...
heard=$(ls "$work"/heard/*.wav 2>/dev/null | head -1)
tail -c +45 "$heard" >"$work/heard.raw" 2>/dev/null && similar "$work/heard.raw" "$src/sim/voices/greeting.wav" $rate ||
  fail "the line did not carry the greeting"
# ... and the recording, decoded by vgetty's own tools at its rate (from its header), holds the caller.
rec_rate=$(od -An -j22 -N2 -tu1 "$recording" | awk '{ print $1 * 256 + $2 }')
rmdtopvf "$recording" | pvftolin -C -U >"$work/recorded.raw" &&
  similar "$work/recorded.raw" "$src/sim/voices/caller.wav" "$rec_rate" || fail "the recording does not hold the caller's voice"
echo "vgetty ($dialect): answered, played its greeting, recorded the caller, hung up"
