#!/usr/bin/env bash
# Holds `dravik --bench` against independent tools on the same machine:
#   write, read  vs  sysbench memory (1 GiB block, local scope)
#   copy         vs  mbw (memcpy of two 512 MiB arrays, the same volume as
#                    dravik's 1 GiB copy of one half onto the other)
#   latency      vs  perf_random_chase (a random single-cycle pointer chase)
# dravik's copy figure counts bytes read plus bytes written; it is halved here
# to compare with a memcpy rate. Every tool runs ROUNDS times, interleaved,
# and the best figure of each is kept, so a busy machine hurts all alike.
#
# usage: perf/compare_bench.sh [build-dir]   (default ./build; ROUNDS=3)
set -euo pipefail

build=${1:-./build}
rounds=${ROUNDS:-3}
dravik="$build/dravik"
chase="$build/perf_random_chase"
for program in "$dravik" "$chase"; do
  if [[ ! -x $program ]]; then
    echo "compare_bench: $program not found (build the dravik and perf_random_chase targets)" >&2
    exit 2
  fi
done

# The peers come from the distribution, installed only when missing.
need() {
  command -v "$1" >/dev/null 2>&1 && return 0
  echo "compare_bench: installing $1" >&2
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$1" >/dev/null 2>&1 ||
    { apt-get update -q >/dev/null 2>&1 &&
      DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$1" >/dev/null 2>&1; }
}
need sysbench
need mbw

# max/min of a column of numbers (empty input prints nothing)
best_max() { sort -g | tail -n 1; }
best_min() { sort -g | head -n 1; }
# MiB/s to GB/s
mib_to_gb() { awk '{ printf "%.3f\n", $1 * 1048576 / 1e9 }'; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

for ((round = 1; round <= rounds; round++)); do
  echo "round $round of $rounds" >&2
  "$dravik" --bench --mem 1G >"$tmp/dravik.$round" 2>&1 || true
  # dravik rows: "  <op> <size> <value> <unit>"
  awk '$2 == "1.00GiB" && $1 == "write" { print $3 }' "$tmp/dravik.$round" >>"$tmp/d_write"
  awk '$2 == "1.00GiB" && $1 == "read" { print $3 }' "$tmp/dravik.$round" >>"$tmp/d_read"
  awk '$2 == "1.00GiB" && $1 == "copy" { printf "%.3f\n", $3 / 2 }' "$tmp/dravik.$round" >>"$tmp/d_copy"
  awk '$2 == "256.00MiB" && $1 == "latency" { print $3 }' "$tmp/dravik.$round" >>"$tmp/d_lat"

  for op in write read; do
    sysbench memory --memory-block-size=1G --memory-total-size=8G --memory-scope=local \
      --memory-oper="$op" run 2>/dev/null |
      sed -n 's/.*transferred (\([0-9.]*\) MiB\/sec).*/\1/p' | mib_to_gb >>"$tmp/s_$op"
  done

  # Debian's mbw 1.2.2 labels its memcpy test "DUMB" and the plain loop
  # "MEMCPY". dravik copies with memcpy, so the DUMB line is its peer; the
  # plain loop is printed beside it for reference.
  mbw -n 5 -t0 -t1 512 2>/dev/null >"$tmp/mbw.$round"
  awk '$1 == "AVG" && $3 == "DUMB" { print $9 }' "$tmp/mbw.$round" | mib_to_gb >>"$tmp/m_dumb"
  awk '$1 == "AVG" && $3 == "MEMCPY" { print $9 }' "$tmp/mbw.$round" | mib_to_gb >>"$tmp/m_memcpy"

  "$chase" 256M | sed -n 's/.*: \([0-9.]*\) ns\/load.*/\1/p' >>"$tmp/c_lat"
done

get() { [[ -s $tmp/$1 ]] && "$2" <"$tmp/$1" || echo "n/a"; }
d_write=$(get d_write best_max)
d_read=$(get d_read best_max)
d_copy=$(get d_copy best_max)
d_lat=$(get d_lat best_min)
s_write=$(get s_write best_max)
s_read=$(get s_read best_max)
m_dumb=$(get m_dumb best_max)
m_memcpy=$(get m_memcpy best_max)
c_lat=$(get c_lat best_min)

row() {  # name dravik peer peer-source kind(bw|lat)
  awk -v name="$1" -v d="$2" -v p="$3" -v src="$4" -v kind="$5" 'BEGIN {
    if (d == "n/a" || p == "n/a" || d == "" || p == "" || p + 0 == 0) {
      printf "%-16s %10s %10s  %-26s %7s  %s\n", name, d, p, src, "n/a", "no figure"; exit
    }
    r = d / p
    if (kind == "bw") verdict = (r >= 0.95) ? "ok (>= 0.95)" : "below 0.95"
    else verdict = (r >= 0.85 && r <= 1.15) ? "ok (within 15%)" : "outside 15%"
    printf "%-16s %10.2f %10.2f  %-26s %7.2f  %s\n", name, d, p, src, r, verdict
  }'
}

echo
echo "best of $rounds rounds"
printf "%-16s %10s %10s  %-26s %7s  %s\n" "figure" "dravik" "peer" "peer source" "ratio" "target"
row "write GB/s" "$d_write" "$s_write" "sysbench memory write" bw
row "read GB/s" "$d_read" "$s_read" "sysbench memory read" bw
row "copy GB/s (1/2)" "$d_copy" "$m_dumb" "mbw memcpy (DUMB line)" bw
row "latency ns" "$d_lat" "$c_lat" "random chase 256 MiB" lat
echo
echo "mbw lines: DUMB (memcpy) $m_dumb GB/s, MEMCPY (plain loop) $m_memcpy GB/s"
echo "dravik: write/read/copy at 1.00GiB, latency at 256.00MiB"
