#!/bin/sh
# Times dravik's standard tier over a 1 GiB locked block beside one loop of
# memtester over 1024M, one after the other, and prints both in one table.
# memtester only serves as a timing peer; its output is discarded.
#
# Usage: perf/compare_memtester.sh [BUILD_DIR]    (default ./build)
# Needs the perf_engine_bench target built in BUILD_DIR, and root (both lock
# 1 GiB; memtester is installed from the Debian package when missing).
set -u

build=${1:-./build}
bench="$build/perf_engine_bench"
if [ ! -x "$bench" ]; then
  echo "no $bench: build the perf_engine_bench target first" >&2
  exit 1
fi
if ! command -v memtester >/dev/null 2>&1; then
  echo "memtester is missing: installing the Debian package" >&2
  apt-get install -y memtester >/dev/null || { echo "cannot install memtester" >&2; exit 1; }
fi

now() { date +%s.%N; }

if ! ours=$("$bench" 1024 --tier-only); then
  echo "the standard tier reported mismatches or could not map 1 GiB" >&2
  exit 1
fi

start=$(now)
memtester 1024M 1 >/dev/null 2>&1
status=$?
theirs=$(awk -v a="$start" -v b="$(now)" 'BEGIN { printf "%.2f", b - a }')
if [ "$status" -ne 0 ]; then
  echo "memtester exited with status $status; its time is not comparable" >&2
fi

printf '%-36s %10s\n' "run over 1 GiB" "seconds"
printf '%-36s %10.2f\n' "dravik standard tier" "$ours"
printf '%-36s %10.2f\n' "memtester 1024M 1 (one loop)" "$theirs"
awk -v a="$ours" -v b="$theirs" 'BEGIN {
  printf "%-36s %10.2f  (target: 0.25 or less)\n", "dravik / memtester", a / b
}'
