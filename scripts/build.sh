#!/usr/bin/env bash
# Configures and builds glintbox (and its tests) into build/. Extra arguments
# go to CMake, e.g. -DGLINTBOX_SHARED_DIR=/elsewhere/shared.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja "$@" >/dev/null
cmake --build build
