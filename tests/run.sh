#!/usr/bin/env bash
# The project's own checks, from a fresh Debian or Ubuntu machine:
#  1. the packages of tests/packages.txt that are missing are installed (as
#     root) or named in one apt-get line (otherwise, and the run stops);
#  2. g++ builds the program and its tests, warnings as errors, and the
#     suite runs;
#  3. the Debian package is built and checked (tests/package.sh);
#  4. tests/cross.sh builds and tests for the other platforms, linked
#     dynamically and then statically (only the program is linked again);
#  5. clang builds everything again under AddressSanitizer and
#     UndefinedBehaviorSanitizer with the fuzz targets, and the suite runs,
#     fuzzing each target for a few seconds. Any sanitizer report fails it.
# Build logs go to build-logs/ and are shown only when a step fails. The
# last lines are ctest's summary.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
logs=build-logs
mkdir -p "$logs"

# Runs a command with its output in a log, shown in full if it fails.
quietly() {
  local log=$logs/$1
  shift
  if ! "$@" >"$log" 2>&1; then
    echo "FAILED: $* (log: $log)"
    cat "$log"
    exit 1
  fi
}

# Runs ctest on a build directory with the given VAR=value settings; prints
# only the summary unless a test fails.
run_tests() {
  local log=$logs/$1-ctest.log dir=$2
  shift 2
  if ! env "$@" ctest --test-dir "$dir" -j"$jobs" --output-on-failure \
    >"$log" 2>&1; then
    cat "$log"
    exit 1
  fi
  sed -n '/tests passed/,$p' "$log"
}

# Only dpkg's own records are asked, so a machine that has everything never
# runs apt-get.
mapfile -t wanted < <(sed 's/#.*//' tests/packages.txt | tr -s ' \t' '\n' | grep .)
if command -v dpkg-query >/dev/null; then
  missing=()
  for package in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}\n' "$package" 2>/dev/null |
      grep -q ' installed$' || missing+=("$package")
  done
  if ((${#missing[@]})); then
    install=(apt-get install -y --no-install-recommends "${missing[@]}")
    if ((EUID != 0)); then
      echo "Missing packages; as root, run:"
      echo "  ${install[*]}"
      exit 1
    fi
    echo "== installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    # A mirror that is being updated can fail the index fetch for a while.
    for try in 1 2 3 4 5; do
      apt-get update -qq >"$logs/apt-update.log" 2>&1 && break
      ((try < 5)) || { cat "$logs/apt-update.log"; exit 1; }
      sleep 10
    done
    quietly apt-install.log "${install[@]}" -qq
  fi
else
  echo "No dpkg here: make sure these are installed: ${wanted[*]}"
fi

echo "== g++ build and tests"
quietly native-configure.log cmake -S . -B build \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELLIDOR_WERROR=ON
quietly native-build.log cmake --build build -j"$jobs"
run_tests native build

echo "== package and manual page"
quietly package.log bash tests/package.sh build
tail -n 1 "$logs/package.log"

if [[ -f tests/cross.sh ]]; then
  echo "== cross builds"
  bash tests/cross.sh
  echo "== cross builds, statically linked"
  PELLIDOR_CROSS_OPTIONS=-DPELLIDOR_STATIC=ON bash tests/cross.sh
fi

echo "== clang sanitizer and fuzz build and tests"
quietly sanitize-configure.log cmake -S . -B build-sanitize \
  -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
  -DPELLIDOR_SANITIZE=ON -DPELLIDOR_FUZZ=ON -DPELLIDOR_WERROR=ON
quietly sanitize-build.log cmake --build build-sanitize -j"$jobs"
run_tests sanitize build-sanitize ASAN_OPTIONS=detect_leaks=1:exitcode=86 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:exitcode=86
