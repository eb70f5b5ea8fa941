#!/bin/bash
# Builds the program and its tests with Debian's cross compilers, runs the
# tests under qemu-user and checks that the example page comes out
# byte-identical to this machine's.
#
#   bash tests/cross.sh [triple...]
#
# Each triple (default: all four below) builds in build-<triple>, configured
# with nothing but its compiler; PELLIDOR_CROSS_OPTIONS adds CMake options,
# for example -DPELLIDOR_STATIC=ON.
set -euo pipefail
cd "$(dirname "$0")/.."

triples=("$@")
if [ ${#triples[@]} -eq 0 ]; then
  triples=(i686-linux-gnu aarch64-linux-gnu arm-linux-gnueabihf
           s390x-linux-gnu)
fi
read -r -a options <<<"${PELLIDOR_CROSS_OPTIONS:-}"
example=(examples/board examples/page.html examples/entry.html
         examples/alternate.html)
work=$(mktemp -d /tmp/pellidor-cross-XXXXXX)
trap 'rm -rf "$work"' EXIT

# The page this machine writes is the one every other must write.
cmake -S . -B build-native -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$work/log" ||
  { cat "$work/log"; exit 1; }
cmake --build build-native -j2 --target pellidor >"$work/log" ||
  { cat "$work/log"; exit 1; }
build-native/pellidor "${example[@]}" "$work/native.html" >/dev/null

failed=0
for triple in "${triples[@]}"; do
  dir=build-$triple
  case $triple in
    i?86-*) qemu=qemu-i386 ;;
    arm-*) qemu=qemu-arm ;;
    *) qemu=qemu-${triple%%-*} ;;
  esac
  echo "== $triple"
  # A static build left in the directory by an earlier run is undone.
  if ! { cmake -S . -B "$dir" -DCMAKE_CXX_COMPILER="$triple-g++" \
           -DPELLIDOR_STATIC=OFF -DPELLIDOR_WERROR=ON "${options[@]}" &&
           cmake --build "$dir" -j2; } >"$work/log" 2>&1; then
    tail -n 30 "$work/log"
    failed=1
    continue
  fi
  ctest --test-dir "$dir" -j2 --output-on-failure >"$work/log" 2>&1 ||
    { cat "$work/log"; failed=1; }
  grep -E "tests passed|tests failed" "$work/log" || true
  "$qemu" -L "/usr/$triple" "$dir/pellidor" "${example[@]}" \
    "$work/$triple.html" >/dev/null || true
  if cmp -s "$work/native.html" "$work/$triple.html"; then
    echo "example page identical ($(file -b "$dir/pellidor" | grep -o \
      'dynamically linked\|statically linked'))"
  else
    echo "example page DIFFERS from the native one"
    failed=1
  fi
done
exit $failed
