#!/usr/bin/env bash
# Installs what is missing, builds, and runs the video chat room demo on this
# machine with synthetic cameras. Arguments go to tavolin-room.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
# Only the room and what it loads (the library, tavolin-addrd): no tests.
TAVOLIN_BUILD_TARGET=tavolin-room bash scripts/build.sh build
./build/tools/room/tavolin-room "$@"
