#!/usr/bin/env bash
# Makes docs/example-page.png, the README's picture of the example page:
# builds the program in build/ (or the build directory given), writes
# listing.html from the example board and photographs it with headless
# Chromium. Run it again whenever the example's templates or board change.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
width=1100
height=1560
browser=${CHROMIUM:-chromium}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

[[ -f $build/CMakeCache.txt ]] || cmake -S . -B "$build" >/dev/null
cmake --build "$build" --target pellidor >/dev/null
"$build/pellidor" examples/board examples/page.html examples/entry.html \
  examples/alternate.html "$scratch/listing.html" >/dev/null

# A fresh profile, no network and nothing in the background, so that the
# picture depends only on the page.
timeout 60 "$browser" --headless --no-sandbox --disable-gpu --disable-quic \
  --no-first-run --disable-background-networking --disable-component-update \
  --disable-sync --hide-scrollbars --user-data-dir="$scratch/profile" \
  --screenshot="$scratch/page.png" --window-size="$width,$height" \
  "file://$scratch/listing.html" >"$scratch/browser.log" 2>&1 ||
  { cat "$scratch/browser.log"; exit 1; }
mv "$scratch/page.png" docs/example-page.png
echo "docs/example-page.png: ${width}x$height"
