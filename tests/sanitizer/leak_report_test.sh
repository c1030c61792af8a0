#!/usr/bin/env bash
# leak_report_test.sh PROGRAM SUPPRESSIONS: runs the deliberately leaking
# PROGRAM with LeakSanitizer set as scripts/test.sh sets it, and passes when
# the report holds exactly the program's own two leaks: the suppressions hide
# what libraries keep while they load, and nothing of ours.
set -u
report=$(G_SLICE=always-malloc \
  ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=0:malloc_context_size=8 \
  LSAN_OPTIONS=suppressions=$2 "$1" 2>&1)
status=$?
fail() { printf '%s\n%s\n' "$1" "$report"; exit 1; }
[ $status -ne 0 ] || fail "the leaks were not reported (exit 0)"
for leak in LeakWithNew LeakThroughGlib; do
  grep -Eq " in ([^ ]*::)?$leak[ (]" <<<"$report" || fail "$leak is not in the report"
done
grep -q "leaked in 2 allocation(s)" <<<"$report" || fail "the report holds more or fewer than our two leaks"
echo "both deliberate leaks reported, nothing else"
