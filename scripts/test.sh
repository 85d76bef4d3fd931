#!/usr/bin/env bash
# Builds glintbox and runs the whole test suite, including the Windows build
# (cross-compiled with mingw-w64, run under wine). GLINTBOX_WINDOWS=0 skips
# the Windows build and its tests.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
windows_exe=""
if [ "${GLINTBOX_WINDOWS:-1}" != 0 ]; then
  bash scripts/cross-windows.sh --wine
  windows_exe="$PWD/build-win/src/glintbox.exe"
fi
bash scripts/build.sh -DGLINTBOX_WINDOWS_EXE="$windows_exe" "$@"
ctest --test-dir build --output-on-failure -j2
