#!/usr/bin/env bash
# scripts/format.sh [--check]: formats the tree's C and C++ sources with
# clang-format (.clang-format); --check changes nothing and fails, naming each
# line, where a file is not formatted. Build folders (build*) are left out.
set -euo pipefail
cd "$(dirname "$0")/.."
mode=(-i)
[ "${1:-}" = --check ] && mode=(--dry-run --Werror)
find . \( -name 'build*' -o -name '.git' \) -prune -o \( -name '*.cpp' -o -name '*.c' -o -name '*.h' \) -print0 |
  xargs -0 clang-format "${mode[@]}"
