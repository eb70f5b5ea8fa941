#!/usr/bin/env bash
# Makes docs/example-page.png and docs/example-page-phone.png, pictures of
# the example page at 1,280 pixels (the README's) and at 390 (a phone):
# builds the program in build/ (or the build directory given), writes
# listing.html from the example board and photographs it with headless
# Chromium. Run it again whenever the example's templates or board change.
#
# Headless Chromium makes no window narrower than 500 pixels, so the phone
# picture is of the page in a frame 390 pixels wide, cut to the frame
# (ImageMagick's convert).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
browser=${CHROMIUM:-chromium}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

[[ -f $build/CMakeCache.txt ]] || cmake -S . -B "$build" >/dev/null
cmake --build "$build" --target pellidor >/dev/null
"$build/pellidor" examples/board examples/page.html examples/entry.html \
  examples/alternate.html "$scratch/listing.html" >/dev/null

# shot FILE WIDTH HEIGHT: the window's picture of file FILE in scratch.
# A fresh profile, no network and nothing in the background, so that the
# picture depends only on the page.
shot() {
  timeout 60 "$browser" --headless --no-sandbox --disable-gpu --disable-quic \
    --no-first-run --disable-background-networking \
    --disable-component-update --disable-sync --hide-scrollbars \
    --allow-file-access-from-files --user-data-dir="$scratch/profile" \
    --screenshot="$scratch/shot.png" --window-size="$2,$3" \
    "file://$scratch/$1" >"$scratch/browser.log" 2>&1 ||
    { cat "$scratch/browser.log"; exit 1; }
}

shot listing.html 1280 1440
mv "$scratch/shot.png" docs/example-page.png
echo "docs/example-page.png: 1280x1440"

cat >"$scratch/phone.html" <<'EOF'
<!DOCTYPE html>
<html><head><title>phone</title></head>
<body style="margin: 0"><iframe src="listing.html" title="page"
  style="width: 390px; height: 1600px; border: 0"></iframe></body></html>
EOF
shot phone.html 500 1600
convert "$scratch/shot.png" -crop 390x1600+0+0 +repage \
  docs/example-page-phone.png
echo "docs/example-page-phone.png: 390x1600"
