#!/bin/sh
# A long room and what it holds: tavolin-room with 3 players (or $1) for 20
# minutes ($2 seconds, default 1200), its resident memory, open descriptors
# and threads sampled every minute ($3 seconds), then the growth of each
# after the first sample past the first minute. The room runs every engine in
# this one process, so its figures are the engines' with the demo's own.
# Run from the build directory:
#   ../bench/room_soak.sh [PLAYERS] [SECONDS] [PERIOD]
set -eu
players=${1:-3}
seconds=${2:-1200}
period=${3:-60}
library=$(ls "$PWD"/engine/libtavolin.so* 2>/dev/null | head -n1)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tools/room/tavolin-room --players "$players" --seconds "$seconds" --out "$work/room" ${library:+--library "$library"} \
    >"$work/room.txt" 2>&1 &
room=$!
echo "  s  resident KiB  descriptors  threads"
elapsed=0
while [ -r /proc/$room/status ] && [ "$elapsed" -lt "$seconds" ]; do
  rss=$(awk '/^VmRSS/ { print $2 }' /proc/$room/status)
  threads=$(awk '/^Threads/ { print $2 }' /proc/$room/status)
  descriptors=$(ls /proc/$room/fd | wc -l)
  [ -n "$rss" ] && printf '%4d %13s %12s %8s\n' "$elapsed" "$rss" "$descriptors" "$threads" | tee -a "$work/samples"
  sleep "$period"
  elapsed=$((elapsed + period))
done
status=0
wait $room || status=$?
tail -n 1 "$work/room.txt"
awk -v first=60 '$1 >= first && !seen { seen = 1; rss = $2; fds = $3; threads = $4 }
  END { if (seen) printf "after %d s: resident %+d KiB, descriptors %+d, threads %+d\n", first, $2 - rss, $3 - fds, $4 - threads }' \
    "$work/samples"
echo "tavolin-room exit status $status"
exit $status
