#!/bin/sh
# The whole room's CPU per second, by library: tavolin-room with 16 players
# (or $1) for a few seconds ($2, default 6) under perf's CPU-clock sampler
# (a software event, so it works where the hardware counters do not), then
# the samples grouped into codec library, engine, GStreamer camera, voice
# codec, kernel, libc and demo: once for the whole run (starting, stopping
# and the demo's analysis at the end included), once for the timed run alone
# (the window tavolin-room writes to stats.json, on the monotonic clock perf
# samples with here). Run from the build directory:
#   ../bench/room_cpu.sh [PLAYERS] [SECONDS]
set -eu
players=${1:-16}
seconds=${2:-6}
room=tools/room/tavolin-room
library=$(ls "$PWD"/engine/libtavolin.so* 2>/dev/null | head -n1)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
frequency=999
start=$(date +%s.%N)
perf record -q -k CLOCK_MONOTONIC -e cpu-clock -F $frequency -o "$work/perf.data" -- \
    "$room" --players "$players" --seconds "$seconds" --out "$work/room" ${library:+--library "$library"} \
    >"$work/room.txt" 2>&1 || echo "tavolin-room failed (see its output below)"
end=$(date +%s.%N)
tail -n 3 "$work/room.txt"

# $1: extra perf report options; $2: the seconds the CPU is divided by; $3: the table's title.
table() {
  echo
  echo "$3"
  perf report -i "$work/perf.data" $1 --sort dso --stdio -F overhead,sample,dso 2>/dev/null | awk -v seconds="$2" -v hz=$frequency '
  /^#/ || NF < 3 { next }
  {
    samples = $2; dso = $3
    if (dso ~ /xvidcore/) group = "codec library (xvidcore)"
    else if (dso ~ /libtavolin/) group = "engine (libtavolin)"
    else if (dso ~ /orcexec|libgst|libglib|libgobject|libgmodule|liborc|libgio|libpango|libcairo|libpixman|libharfbuzz|libfreetype/) group = "GStreamer camera and GLib"
    else if (dso ~ /opus/) group = "voice codec (libopus)"
    else if (dso ~ /kernel/) group = "kernel"
    else if (dso ~ /libc\.so|libc-|ld-linux|libm\.so|libstdc\+\+|libgcc/) group = "libc, libm, libstdc++"
    else if (dso ~ /tavolin-room|libpng|libz\.so/) group = "demo (tavolin-room, its PNG)"
    else if (dso ~ /swscale|avutil/) group = "scaler (libswscale)"
    else group = "other libraries"
    by[group] += samples; total += samples
  }
  END {
    printf "%-32s %8s %12s %8s\n", "part", "CPU s", "CPU s/room s", "share"
    for (g in by) printf "%-32s %8.2f %12.3f %7.1f%%\n", g, by[g] / hz, by[g] / hz / seconds, 100 * by[g] / total
    printf "%-32s %8.2f %12.3f %7.1f%%\n", "all", total / hz, total / hz / seconds, 100
  }'
}

table "" "$seconds" "whole run ($(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", b - a }') s of wall time for a room of $seconds s)"
# "run_monotonic_s":{"start":S,"end":E} -> "S,E SECONDS"
window=$(sed -n 's/.*"run_monotonic_s":{"start":\([0-9.]*\),"end":\([0-9.]*\)}.*/\1 \2/p' "$work/room/stats.json" 2>/dev/null |
    awk '{ printf "%.6f,%.6f %.3f", $1, $2, $2 - $1 }')
if [ -n "$window" ]; then
  table "--time ${window% *}" "${window#* }" "while the room ran (${window#* } s)"
fi
