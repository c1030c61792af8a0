#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test three ways: a plain
# build (with the interoperability checks), AddressSanitizer with
# UndefinedBehaviorSanitizer (also LeakSanitizer), and ThreadSanitizer for the
# tests that run several threads; then a short run of each fuzz target, so
# that they keep building and pass their seeds.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

status=0
run() { # run NAME BUILD-DIR CTEST-ARGS...
  local name=$1 dir=$2
  shift 2
  echo "== $name (after ${SECONDS} s)"
  ctest --test-dir "$dir" --output-on-failure --timeout 300 "$@" || status=1
}

bash scripts/build.sh build
run "plain build" build -j2

# LeakSanitizer sees GLib and GStreamer objects only when GLib takes them
# from malloc one by one (G_SLICE=always-malloc); otherwise its slice
# allocator keeps every leaked object reachable. The suppressions file drops
# allocations made inside library constructors (GLib keeps one such block
# for good once GStreamer's plugins-bad set is installed); matching it needs
# the full unwinder, as the fast one stops inside GLib. Allocation stacks are
# kept 8 frames deep: deep enough for the suppression, and deeper unwinding
# slows allocation enough to fail the real-time camera tests.
# Rerun one test with malloc_context_size=30 to see a report's whole stack.
bash scripts/build.sh build-asan -DTAVOLIN_SANITIZE=address
G_SLICE=always-malloc \
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:fast_unwind_on_malloc=0:malloc_context_size=8 \
LSAN_OPTIONS=suppressions=$PWD/scripts/lsan-suppressions.txt \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run "AddressSanitizer + UndefinedBehaviorSanitizer" build-asan -j2 -LE no_sanitizer

TAVOLIN_BUILD_TARGET=threaded_tests bash scripts/build.sh build-tsan -DTAVOLIN_SANITIZE=thread
# GLib's and GStreamer's futex locks are invisible to the sanitizer: see the
# suppressions file.
G_SLICE=always-malloc \
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/scripts/tsan-suppressions.txt \
  run "ThreadSanitizer (threaded tests)" build-tsan -j2 -L threaded

CC=clang CXX=clang++ TAVOLIN_BUILD_TARGET=fuzz_targets bash scripts/build.sh build-fuzz -DTAVOLIN_FUZZ=ON
echo "== fuzz targets, 5 s each (after ${SECONDS} s)"
fuzz/run.sh 5 || status=1

echo "== done in ${SECONDS} s"
exit $status
