#!/usr/bin/env bash
# Measures pellidor on synthetic boards of 20,000 and 200,000 records in one
# base against the floor that every listed record must cost: its entry
# template opened, read and closed, one positioned read per "@DESC@", and
# the page's 256-byte blocks, 3 + D + B/256 system calls per listed record.
#
# Builds pellidor and make_board in release mode (-O2) in build-bench/ (with
# BENCH_STATIC=1, pellidor linked statically, in build-bench-static/) and
# bench/floor.cc beside them, makes the boards in a temporary directory, and
# prints for each board: median wall and CPU time and peak resident memory
# of BENCH_RUNS runs (5), system calls per listed record against the floor
# (counted with strace apart from the timed runs), the median wall time of
# the floor program (floor.cc: the floor's system calls alone, for the same
# page; timed from outside as pellidor is, start and exit included, less
# what it spends learning the page it is to write), the median of our wall
# time over its in pairs of runs, and
# instructions per listed record (callgrind, when valgrind is there). Last,
# the same entries with the rendered tokens against the plain ones, in
# alternate runs: wall and CPU time, peak memory and instructions.
#
#   bash bench/run.sh                 # a minute or two
#   BENCH_RUNS=9 BENCH_SIZES=20000 bash bench/run.sh
#   BENCH_PROGRAM=/path/to/other/pellidor bash bench/run.sh
#   BENCH_STATIC=1 bash bench/run.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
static=${BENCH_STATIC:-0}
if [[ $static == 1 ]]; then
  build=${BENCH_BUILD_DIR:-$root/build-bench-static}
  link=ON
else
  build=${BENCH_BUILD_DIR:-$root/build-bench}
  link=OFF
fi
runs=${BENCH_RUNS:-5}
sizes=${BENCH_SIZES:-"20000 200000"}

# GNU time gives the peak resident memory and strace the system calls;
# callgrind's instruction counts are optional.
missing=()
[ -x /usr/bin/time ] || missing+=(time)
command -v strace >/dev/null || missing+=(strace)
if ((${#missing[@]} > 0)); then
  apt-get update -qq && apt-get install -y -qq "${missing[@]}" >/dev/null
fi
have_valgrind=0
command -v valgrind >/dev/null && have_valgrind=1

echo "== building in $build"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DPELLIDOR_STATIC="$link" \
  -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" >/dev/null
cmake --build "$build" -j2 --target pellidor make_board >/dev/null
make_board=$build/make_board
# The floor program is linked as pellidor is.
floor_link=()
[[ $link == ON ]] && floor_link=(-static)
c++ -std=c++20 -O2 -Wall -Wextra -Werror "${floor_link[@]}" -o "$build/floor" \
  bench/floor.cc
pellidor=${BENCH_PROGRAM:-$build/pellidor}
floor=$build/floor

work=$(mktemp -d "${TMPDIR:-/tmp}/pellidor-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The page: three lines, the list, two lines. Both entry templates have three
# lines and use the six plain tokens "@PATH@", "@LNAME@", "@UNAME@",
# "@SIZEK@", "@SIZEB@" and "@DESC@", "@DESC@" once.
header_lines=3
printf '%s\n' '<html><head><title>Files</title></head><body>' \
  '<h1>Every file</h1>' '<table>' '<!--PELLIDOR:big,/files/big/-->' \
  '</table>' '</body></html>' >"$work/page.tpl"
printf '%s\n' \
  '<tr class="odd"><td><a href="@PATH@@LNAME@">@UNAME@</a></td>' \
  '<td class="size">@SIZEK@k</td><td class="bytes">@SIZEB@ bytes</td>' \
  '<td class="desc">@DESC@</td></tr>' >"$work/entry.tpl"
printf '%s\n' \
  '<tr class="even"><td><a href="@path@@lname@">@uname@</a></td>' \
  '<td class="desc">@Desc@</td>' \
  '<td class="size">@sizek@k / @sizeb@ bytes</td></tr>' >"$work/alt.tpl"
# The same entries with the rendered tokens, timed against the plain ones in
# alternate runs: each file's name and description drawn on the screen.
printf '%s\n' \
  '<tr class="odd"><td><a href="@PATH@@URLNAME@">@TNAME@</a></td>' \
  '<td class="bytes">@BYTES@ bytes</td><td class="desc">@TDESC@</td></tr>' \
  >"$work/rentry.tpl"
printf '%s\n' \
  '<tr class="even"><td><a href="@path@@urlname@">@tname@</a></td>' \
  '<td class="desc">@TDesc@</td><td class="bytes">@bytes@ bytes</td></tr>' \
  >"$work/ralt.tpl"
desc_lines() { grep -ci '@desc@' "$1" || true; }
d_entry=$(desc_lines "$work/entry.tpl")
d_alt=$(desc_lines "$work/alt.tpl")

median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
# Field $2 of each line of file $1, medianed.
median_of() { awk -v f="$2" '{print $f}' "$1" | median; }

# The "calls" column of strace's summary for the call $2 ("total" for all).
strace_calls() {
  awk -v name="$2" '$NF == name {s += $4} END {print s + 0}' "$1"
}

# One timed run of pellidor on the board in "${args[@]}", its page checked.
run_ours() {
  python3 bench/measure.py "$pellidor" "${args[@]}" "$work/out.html" \
    >>"$work/ours"
  cmp -s "$work/out.html" "$work/ref.html" || { echo "page differs"; exit 1; }
}

: >"$work/summary"
for n in $sizes; do
  board=$work/b$n
  mkdir -p "$board"
  echo "== board of $n records"
  python3 bench/make_description.py "$n" 1 "$board/" >"$board.txt"
  "$make_board" "$board.txt" "$board" >/dev/null
  args=("$board" "$work/page.tpl" "$work/entry.tpl" "$work/alt.tpl")
  listed=$(awk '$1 == "file" && int($3 / 4) % 2 == 0' "$board.txt" | wc -l)
  rm "$board.txt"

  # The reference page, for the floor program and to check every run.
  "$pellidor" "${args[@]}" "$work/ref.html" >/dev/null
  page_bytes=$(stat -c %s "$work/ref.html")

  # Runs of pellidor and of the floor program alternate, and each pair gives
  # a ratio: a machine busy with other work slows both sides of a pair alike.
  # Which of the two goes first alternates too.
  : >"$work/ours" && : >"$work/floor" && : >"$work/ratio"
  : >"$work/rendered" && : >"$work/rendered_ratio"
  # Each run creates its page anew: emptying the last one is no part of it
  # (on ext4, a page emptied is written out to the disk at its close).
  for ((i = 0; i < runs; i++)); do
    rm -f "$work/out.html" "$work/floor.html"
    ((i % 2 == 0)) && run_ours
    # The floor is timed from outside too, less what it spends learning
    # what only the benchmark knows (which it tells on standard error).
    python3 bench/measure.py "$floor" "$board/big.dir" "$board/big.des" \
      "$work/entry.tpl" "$work/alt.tpl" "$work/ref.html" "$header_lines" \
      "$work/floor.html" 2>"$work/known" | paste -d' ' - "$work/known" |
      awk '{print $1 - $4, $2 - $5}' >>"$work/floor"
    cmp -s "$work/floor.html" "$work/ref.html" ||
      { echo "floor page differs"; exit 1; }
    ((i % 2 == 1)) && run_ours
    paste -d' ' <(tail -1 "$work/ours") <(tail -1 "$work/floor") |
      awk '{print $1 / $4}' >>"$work/ratio"
    rm "$work/out.html"
    python3 bench/measure.py "$pellidor" "$board" "$work/page.tpl" \
      "$work/rentry.tpl" "$work/ralt.tpl" "$work/out.html" >>"$work/rendered"
    paste -d' ' <(tail -1 "$work/rendered") <(tail -1 "$work/ours") |
      awk '{print $1 / $4, $2 / $5}' >>"$work/rendered_ratio"
  done
  wall=$(median_of "$work/ours" 1)
  cpu=$(median_of "$work/ours" 2)
  rss=$(median_of "$work/ours" 3)
  floor_wall=$(median_of "$work/floor" 1)
  ratio=$(median <"$work/ratio")

  rm "$work/out.html"
  strace -f -c -o "$work/strace" "$pellidor" "${args[@]}" "$work/out.html" \
    >/dev/null
  calls=$(strace_calls "$work/strace" total)
  # Entries alternate, the entry template first; writes are whole blocks
  # but the last.
  floor_calls=$(awk -v n="$listed" -v de="$d_entry" -v da="$d_alt" \
    -v b="$page_bytes" 'BEGIN {
      e = int((n + 1) / 2); a = n - e
      print 3 * n + de * e + da * a + int((b + 255) / 256) }')

  ir=0 rendered_ir=
  if ((have_valgrind)); then
    valgrind --tool=callgrind --callgrind-out-file="$work/callgrind" \
      "$pellidor" "${args[@]}" "$work/out.html" >/dev/null 2>&1
    ir=$(awk '$1 == "summary:" {print $2}' "$work/callgrind")
    valgrind --tool=callgrind --callgrind-out-file="$work/callgrind" \
      "$pellidor" "$board" "$work/page.tpl" "$work/rentry.tpl" \
      "$work/ralt.tpl" "$work/out.html" >/dev/null 2>&1
    rendered_ir=$(awk '$1 == "summary:" {print $2}' "$work/callgrind")
  fi

  echo "$listed listed, page of $page_bytes bytes; system calls per listed record:"
  for call in openat read close pread64 write total; do
    awk -v c="$(strace_calls "$work/strace" "$call")" -v n="$listed" \
      -v name="$call" 'BEGIN { printf "  %-8s %.4f\n", name, c / n }'
  done
  echo "$n $listed $wall $cpu $rss $calls $floor_calls $floor_wall $ratio $ir" \
    >>"$work/summary"
  instructions=
  if [[ -n $rendered_ir ]]; then
    instructions=$(awk -v r="$rendered_ir" -v p="$ir" \
      'BEGIN { printf ", instructions %.3f times", r / p }')
  fi
  echo "$n records, rendered tokens against the plain ones:" \
    "wall $(median_of "$work/rendered_ratio" 1) times," \
    "CPU $(median_of "$work/rendered_ratio" 2) times$instructions;" \
    "peak RSS $(median_of "$work/rendered" 3) KiB against $rss" \
    >>"$work/rendered_summary"
  rm -rf "$board"
done

echo "== summary (medians of $runs runs)"
awk '
  BEGIN {
    printf "%8s %8s %8s %8s %9s %8s %8s %9s %7s %9s\n", "records", "listed",
      "wall s", "CPU s", "RSS KiB", "calls/l", "floor/l", "floor s",
      "ratio", "instr/l"
  }
  {
    printf "%8d %8d %8.3f %8.3f %9d %8.4f %8.4f %9.3f %7.3f %9.0f\n", $1, $2,
      $3, $4, $5, $6 / $2, $7 / $2, $8, $9, $10 / $2
    n[NR] = $1; above[NR] = ($6 - $7) / $2; rss[NR] = $5
    cpu[NR] = 1e6 * $4 / $2; ir[NR] = $10 / $2; ratio[NR] = $9
  }
  END {
    print "(calls/l, floor/l: system calls per listed record, counted and at"
    print " the floor; floor s: the floor program; ratio: wall time over the"
    print " floor program'"'"'s, median of the pairs of runs)"
    for (i = 1; i <= NR; i++) {
      printf "%d records: %.4f system calls per listed record above the floor; ",
        n[i], above[i]
      printf "wall %.3f times the floor'"'"'s\n", ratio[i]
      printf "  CPU %.2f us per listed record", cpu[i]
      if (ir[i] > 0) printf ", %.0f instructions", ir[i]
      printf "\n"
    }
    if (NR > 1)
      printf "peak resident memory, %d against %d records: %+d KiB\n",
        n[NR], n[1], rss[NR] - rss[1]
  }' "$work/summary"
cat "$work/rendered_summary"
