#!/usr/bin/env bash
# Builds the program and its tests twice, plain and under AddressSanitizer
# and UndefinedBehaviorSanitizer, and runs the whole suite on both builds.
# The second build also runs each fuzz target over its seeds and for a few
# seconds. Any sanitizer report fails the run. The last lines are ctest's
# summary.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs" >/dev/null
ctest --test-dir build -j"$jobs" --output-on-failure

cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_COMPILER=clang++ -DPELLIDOR_SANITIZE=ON -DPELLIDOR_FUZZ=ON \
  >/dev/null
cmake --build build-sanitize -j"$jobs" >/dev/null
ASAN_OPTIONS=detect_leaks=1:exitcode=86 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:exitcode=86 \
  ctest --test-dir build-sanitize -j"$jobs" --output-on-failure
