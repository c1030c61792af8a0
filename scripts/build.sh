#!/usr/bin/env bash
# scripts/build.sh DIR [cmake options...]: configures and builds into DIR
# (only the target TAVOLIN_BUILD_TARGET when that is set). Compiles through
# ccache when it is installed, with paths taken relative to the checkout, so
# that another checkout or build folder reuses what one has compiled.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1
shift
launcher=()
if command -v ccache >/dev/null && [ -z "${CMAKE_CXX_COMPILER_LAUNCHER:-}" ]; then
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" "$@" >/dev/null
cmake --build "$dir" -j"$(nproc)" ${TAVOLIN_BUILD_TARGET:+--target "$TAVOLIN_BUILD_TARGET"}
