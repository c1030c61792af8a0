#!/bin/sh
# Runs libFuzzer targets of build-fuzz for SECONDS each, one after the other.
#   fuzz/run.sh SECONDS [target...]     (default: every *_fuzz in build-fuzz)
# Corpora grow in build-fuzz/corpus/<target>; seeds are read from
# fuzz/seeds/<target> when that folder exists. Findings (crash-*, leak-*,
# timeout-*) land in build-fuzz/findings/<target>. Exits non-zero when a
# target found something.
set -u
if [ $# -lt 1 ]; then
  echo "usage: $0 SECONDS [target...]" >&2
  exit 2
fi
seconds=$1
shift
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TAVOLIN_FUZZ_BUILD:-$root/build-fuzz}
if [ $# -eq 0 ]; then
  set -- $(find "$build" -maxdepth 2 -type f -perm -u+x -name '*_fuzz' -printf '%f\n' | sort)
fi
[ $# -gt 0 ] || { echo "no *_fuzz targets in $build" >&2; exit 2; }

status=0
for target in "$@"; do
  binary=$(find "$build" -maxdepth 2 -type f -perm -u+x -name "$target" | head -n 1)
  if [ -z "$binary" ]; then
    echo "$target: not built in $build" >&2
    status=1
    continue
  fi
  corpus=$build/corpus/$target
  findings=$build/findings/$target
  log=$build/logs/$target.log
  mkdir -p "$corpus" "$findings" "$(dirname "$log")"
  seeds=
  [ -d "$root/fuzz/seeds/$target" ] && seeds=$root/fuzz/seeds/$target
  "$binary" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$findings/" \
    "$corpus" $seeds >"$log" 2>&1
  result=$?
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -n 1)
  found=$(find "$findings" -type f | wc -l)
  echo "$target: exit $result, ${runs:-?} executions, $found finding(s), log $log"
  [ "$result" -eq 0 ] && [ "$found" -eq 0 ] || status=1
done
exit $status
