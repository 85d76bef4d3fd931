#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) with clang into build-fuzz/ and runs
# each for FUZZ_SECONDS seconds (default 30), starting from its committed
# seeds in fuzz/corpus/<target>; what it learns stays in build-fuzz/corpus/.
# A finding stops the script and leaves the input in build-fuzz/artifacts/.
#   Longer by hand:  FUZZ_SECONDS=600 nice -n 19 bash scripts/fuzz.sh
#   Some targets:    FUZZ_TARGETS="detect frame_reader" bash scripts/fuzz.sh
#   Replay a file:   build-fuzz/fuzz/detect_fuzzer build-fuzz/artifacts/crash-...
# Extra arguments go to CMake, e.g. -DGLINTBOX_DEPS_DIR=/elsewhere/.deps.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
seconds=${FUZZ_SECONDS:-30}
targets=${FUZZ_TARGETS:-command_line frame_reader detect}

cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DGLINTBOX_BUILD_FUZZERS=ON \
  "$@" >/dev/null
cmake --build build-fuzz

mkdir -p build-fuzz/artifacts
for target in $targets; do
  corpus=build-fuzz/corpus/$target
  mkdir -p "$corpus"
  dict=()
  [ -f "fuzz/$target.dict" ] && dict=("-dict=fuzz/$target.dict")
  echo "fuzz: $target for ${seconds}s"
  "build-fuzz/fuzz/${target}_fuzzer" "${dict[@]}" -max_total_time="$seconds" -timeout=10 \
    -print_final_stats=1 -artifact_prefix=build-fuzz/artifacts/ \
    "$corpus" "fuzz/corpus/$target" 2>"build-fuzz/$target.log" || {
    tail -n 60 "build-fuzz/$target.log" >&2
    echo "fuzz: $target found a fault; the input is in build-fuzz/artifacts/" >&2
    exit 1
  }
  grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "build-fuzz/$target.log"
done
