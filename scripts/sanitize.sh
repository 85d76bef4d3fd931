#!/usr/bin/env bash
# Builds glintbox and its tests with AddressSanitizer (leak checking on) and
# UndefinedBehaviorSanitizer into build-asan/ and runs the whole suite there:
# the process tests then drive the instrumented binary. Sanitizer reports go
# to files in build-asan/sanitizer-logs/ (so the tests' exact stderr checks
# still hold) and any error among them fails the run.
# Extra arguments go to CMake, e.g. -DGLINTBOX_DEPS_DIR=/elsewhere/.deps.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build-asan -G Ninja -DGLINTBOX_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  "$@" >/dev/null
cmake --build build-asan

logs=$PWD/build-asan/sanitizer-logs
rm -rf "$logs"
mkdir -p "$logs"
# The program checks malloc for null itself (huge frame sizes), so the
# allocator must return null rather than abort.
export ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=1:log_path=$logs/asan"
export UBSAN_OPTIONS="print_stacktrace=1:log_path=$logs/ubsan"
status=0
ctest --test-dir build-asan --output-on-failure -j2 || status=$?

# A refused huge allocation is only a warning; everything else is a finding.
found=$(grep -lE 'ERROR: (Address|Leak|UndefinedBehavior)Sanitizer|runtime error:' \
  "$logs"/* 2>/dev/null || true)
if [ -n "$found" ]; then
  for f in $found; do cat "$f" >&2; done
  echo "sanitize: sanitizer errors above (logs in $logs)" >&2
  exit 1
fi
exit "$status"
