#!/usr/bin/env bash
# Checks the Debian packages made in a build directory (default build/): the
# program's holds what a user needs, lintian finds no error in it nor in the
# debug-symbols package, the program from the unpacked package writes the
# same example page as the build's own, the debug-symbols package names the
# source lines of that program's fatal error report, and the manual page
# passes mandoc's lint without a warning and, as packaged, renders with man.
# The last line sums it up.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

mandoc -T lint -W warning pellidor.1

rm -f "$build"/pellidor_*.deb "$build"/pellidor-dbgsym_*.ddeb
(cd "$build" && cpack -G DEB)
debs=("$build"/pellidor_*_*.deb "$build"/pellidor-dbgsym_*_*.ddeb)
if [[ ${#debs[@]} != 2 || ! -f ${debs[0]} || ! -f ${debs[1]} ]]; then
  echo "expected pellidor_<version>_<arch>.deb and" \
    "pellidor-dbgsym_<version>_<arch>.ddeb, found: ${debs[*]}"
  exit 1
fi
deb=${debs[0]}
ddeb=${debs[1]}

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
lintian "${lintian_flags[@]}" "$deb" "$ddeb" | tee "$scratch/lintian"

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

# The packaged program is stripped and carries its build-id; the
# debug-symbols package files its information under that id, where
# addr2line reads the locations of a report (a page on a full disk).
dpkg-deb -x "$ddeb" "$scratch/root"
program=$scratch/root/usr/bin/pellidor
id=$(readelf -n "$program" | sed -n 's/.*Build ID: \([0-9a-f]*\)$/\1/p')
debug=$scratch/root/usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug
if [[ -z $id || ! -f $debug || $(readelf -S "$program") == *.symtab* ]]; then
  echo "the program is not stripped, has no build-id, or its .debug is missing"
  exit 1
fi
report=$(cd "$scratch/root/$doc" && timeout 20 "$program" examples/board \
  examples/page.html examples/entry.html examples/alternate.html /dev/full) ||
  true
location=$(sed -n 's/^Runtime error 101 at //p' <<<"$report")
where=$(addr2line -e "$debug" "$location")
if [[ $where != */listing/output_page.cc:* ]]; then
  echo "a full disk's report does not lead to the page's writer: $where"
  exit 1
fi

echo "package ok: $(basename "$deb") and $(basename "$ddeb"), lintian: no" \
  "error, $(grep -c '^W:' "$scratch/lintian" || true) warnings"
