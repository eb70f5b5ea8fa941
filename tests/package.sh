#!/usr/bin/env bash
# Checks the Debian package made in a build directory (default build/): it
# holds what a user needs, lintian finds no error in it, the program from the
# unpacked package writes the same example page as the build's own, and the
# manual page passes mandoc's lint without a warning and, as packaged,
# renders with man.
# The last line sums it up.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

mandoc -T lint -W warning pellidor.1

rm -f "$build"/pellidor_*.deb
(cd "$build" && cpack -G DEB)
debs=("$build"/pellidor_*_*.deb)
if [[ ${#debs[@]} != 1 || ! -f ${debs[0]} ]]; then
  echo "expected one pellidor_<version>_<arch>.deb, found: ${debs[*]}"
  exit 1
fi
deb=${debs[0]}

dpkg-deb -c "$deb" | awk '{print $6}' >"$scratch/contents"
doc=./usr/share/doc/pellidor
for path in ./usr/bin/pellidor ./usr/share/man/man1/pellidor.1.gz \
  $doc/copyright $doc/changelog.gz $doc/README.md $doc/examples/page.html \
  $doc/examples/entry.html $doc/examples/alternate.html \
  $doc/examples/board/korvel.dat; do
  grep -qxF "$path" "$scratch/contents" || { echo "missing: $path"; exit 1; }
done
if ! dpkg-deb -f "$deb" Depends | grep -q libc6; then
  echo "no C library in Depends: $(dpkg-deb -f "$deb" Depends)"
  exit 1
fi

lintian_flags=(--fail-on error)
if ((EUID == 0)); then lintian_flags+=(--allow-root); fi
lintian "${lintian_flags[@]}" "$deb" | tee "$scratch/lintian"

# The example runs from the installed documentation as from the source
# tree. Bounded: at most 1 MiB written and 20 seconds.
run_example() {
  (ulimit -f 1024 && cd "$1" && timeout 20 "$2" examples/board \
    examples/page.html examples/entry.html examples/alternate.html "$3") \
    >/dev/null
}
dpkg-deb -x "$deb" "$scratch/root"
page=$scratch/root/usr/share/man/man1/pellidor.1.gz
LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$page" >"$scratch/man.txt" 2>"$scratch/man.err"
if [[ -s $scratch/man.err ]] || ! grep -q '^NAME' "$scratch/man.txt"; then
  echo "man -l does not render the packaged manual page:"
  cat "$scratch/man.err"
  exit 1
fi
run_example "$scratch/root/$doc" "$scratch/root/usr/bin/pellidor" "$scratch/packaged.html"
run_example . "$build/pellidor" "$scratch/built.html"
cmp "$scratch/built.html" "$scratch/packaged.html"

echo "package ok: $(basename "$deb"), lintian: no error," \
  "$(grep -c '^W:' "$scratch/lintian" || true) warnings"
