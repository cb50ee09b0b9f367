#!/usr/bin/env bash
# OFFLINE with one worker against two, on the real binary, as a user runs it:
#   dravik --full --standard --mem 512M --chunk 64 --reserve 0 --seed 7 --json --threads 1|2
# beside the reference write+verify cycle on one and on two threads
# (perf_offline_bench --reference), in three situations:
#   quiet   nothing of ours besides the runs
#   busy1   one processor kept busy by a spinner at normal priority
#   nice19  every processor busy with memory work at nice 19 (256 MiB each)
# dravik runs at idle priority by its own choice, so in busy1 and nice19 it
# only gets what the load leaves. Each round goes through every situation;
# within a situation the reference comes first, then one worker and two, in
# the order 1, 2 in odd rounds and 2, 1 in even ones, so that a drift of the
# host weighs on both. A run that did not test the whole budget is flagged.
#
# Ratio is one worker's seconds over two workers'. Targets: quiet, a ratio of
# at least 0.9 times the reference's gain; busy1 and nice19, at least 0.95.
# The load average at the start of each line is printed: on a shared host the
# figures move with it.
#
# usage: perf/offline_workers.sh [build-dir]   (default ./build)
#   ROUNDS=3  SITUATIONS="quiet busy1 nice19"  MEM=512M  CHUNK=64  TIER=standard
#   TIMEOUT=0   seconds after which a run is stopped (0: never); a stopped run
#               is flagged, its time is then only a lower bound
set -euo pipefail

build=${1:-./build}
rounds=${ROUNDS:-3}
situations=${SITUATIONS:-"quiet busy1 nice19"}
mem=${MEM:-512M}
chunk=${CHUNK:-64}
tier=${TIER:-standard}
limit=${TIMEOUT:-0}
dravik="$build/dravik"
bench="$build/perf_offline_bench"
load="$build/perf_busy_load"
for program in "$dravik" "$bench" "$load"; do
  if [[ ! -x $program ]]; then
    echo "offline_workers: $program not found (build dravik, perf_offline_bench and perf_busy_load)" >&2
    exit 2
  fi
done

case $mem in
  *G) mib=$((${mem%G} * 1024)) ;;
  *M) mib=${mem%M} ;;
  *) echo "offline_workers: MEM is a size like 512M or 1G" >&2; exit 2 ;;
esac
bytes=$((mib * 1048576))
cpus=$(nproc)

tmp=$(mktemp -d)
loads=()
stop_load() {
  local pid
  for pid in "${loads[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${loads[@]}"; do wait "$pid" 2>/dev/null || true; done
  loads=()
}
trap 'stop_load; rm -rf "$tmp"' EXIT

start_load() {
  case $1 in
    quiet) ;;
    busy1)
      "$load" &
      loads+=($!)
      ;;
    nice19)
      for ((c = 0; c < cpus; c++)); do
        nice -n 19 "$load" 256 &
        loads+=($!)
      done
      ;;
    *) echo "offline_workers: unknown situation $1" >&2; exit 2 ;;
  esac
  sleep 1  # the load settles on its processors
}

# Wall seconds of one run; "!" appended when it did not complete the budget.
run_dravik() {
  local threads=$1 out="$tmp/run.json" t0 t1 mark=""
  t0=$(date +%s.%N)
  timeout --signal=TERM --kill-after=30 "$limit" \
    "$dravik" --full "--$tier" --mem "$mem" --chunk "$chunk" --reserve 0 --seed 7 --json \
    --threads "$threads" >"$out" 2>/dev/null || true
  t1=$(date +%s.%N)
  if ! grep -q "\"event\":\"summary\".*\"covered_total\":$bytes,.*\"end_reason\":\"completed\"" "$out"; then
    mark="!"
  fi
  awk -v a="$t0" -v b="$t1" -v m="$mark" 'BEGIN { printf "%.2f%s\n", b - a, m }'
}

printf "%5s %-6s %5s %7s %7s %5s %8s %8s %6s %6s %s\n" round where load "ref1 s" "ref2 s" gain \
  "1 wkr s" "2 wkr s" ratio target ""
for ((round = 1; round <= rounds; round++)); do
  for where in $situations; do
    start_load "$where"
    loadavg=$(cut -d' ' -f1 /proc/loadavg)
    read -r ref1 ref2 < <("$bench" "$mib" --reference --repeat 5)
    if ((round % 2)); then
      one=$(run_dravik 1)
      two=$(run_dravik 2)
    else
      two=$(run_dravik 2)
      one=$(run_dravik 1)
    fi
    stop_load
    awk -v r="$round" -v w="$where" -v l="$loadavg" -v r1="$ref1" -v r2="$ref2" \
      -v o="$one" -v t="$two" 'BEGIN {
        gain = r1 / r2; ratio = (o + 0) / (t + 0)
        target = (w == "quiet") ? 0.9 * gain : 0.95
        printf "%5d %-6s %5.2f %7.4f %7.4f %5.2f %8s %8s %6.2f %6.2f %s\n", r, w, l, r1, r2, gain,
          o, t, ratio, target, (ratio >= target ? "ok" : "BELOW")
      }'
  done
done
echo "(! after a time: that run did not test the whole budget to completion)"
