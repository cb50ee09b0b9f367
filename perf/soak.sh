#!/usr/bin/env bash
# A long soak: runs dravik without end for a set time and watches whether the
# process grows. PRODUCTION runs as `dravik --json --passes 0`, OFFLINE as
# `dravik --json --full --threads 2 --passes 0`, each for --minutes (120 by
# default); --mode both runs them one after the other. Two invocations (one
# per mode) may run at the same time: each keeps its files apart.
#
# Every --interval seconds (60) it reads the dravik process's VmRSS, VmLck and
# Threads from /proc/PID/status, counts /proc/PID/fd and reads the box's
# MemAvailable, and prints one line:
#   elapsed   H:MM:SS since dravik started
#   rss       VmRSS, MiB (holds the locked test regions while a pass has them)
#   lck       VmLck, MiB (the locked test regions; 0 when memory cannot be locked)
#   own       rss - lck, MiB: the program's own memory, apart from the regions
#             (off for one sample while a region is being locked or set up:
#             VmLck counts the locked range before all of it is resident)
#   fds       open descriptors
#   threads   threads of the process (OFFLINE starts its workers for each pass)
#   memavail  the box's MemAvailable, MiB
#   passes    passes completed so far (read from the JSON stream)
# At the end it gives the growth per hour of each figure, measured over the
# samples from the first one taken after the first pass completed to the last
# one (the first pass warms heaps and tables up; a leak shows after it). The
# figure is the median of the slopes between every two of those samples (a
# Theil-Sen line), so a sample caught while a region is being set up, or
# between two passes, does not tilt it; the least-squares slope and the
# first-to-last difference are printed beside it. A line per watched figure
# says PASS (growth within the tolerance) or GROWTH: own memory (rss - lck,
# since rss and lck rise and fall with every pass) within --rss-tol MiB/h (1),
# descriptors and threads within --count-tol per hour (0.5). Lines marked info
# (rss, lck, and memavail, which is the whole box's) are not judged.
# Then it sends SIGTERM, waits at most --stop-wait seconds (300), and checks
# that dravik exited 0 and that its JSON stream ends with the summary event,
# with the verdict PASS and the end reason of the stop.
#
# The JSON stream is kept (the path is printed): passes and faults are counted
# from it. The samples are kept beside it (MODE.samples, KiB); --samples FILE
# prints the growth figures of such a file again and exits. The last line
# says PASS or FAIL; the script exits 0 only when every mode passed, 1
# otherwise, 2 on a usage error. Bash reads a script as it runs it: to edit
# this file during a soak, run a copy.
#
# usage: perf/soak.sh [--minutes N] [--mode production|offline|both]
#                     [--mem SIZE] [--binary PATH] [--interval S] [--no-klog]
#                     [--out DIR] [--stop-wait S] [--rss-tol MIB]
#                     [--count-tol N] [-- more dravik options]
#        perf/soak.sh --samples FILE [--rss-tol MIB] [--count-tol N]
# Run it as root, as dravik runs in service: the regions are then locked and
# physical addresses read. Without --mem the run takes what dravik takes by
# default (OFFLINE: nearly all free memory).
set -euo pipefail

minutes=120
mode=both
mem=
binary=./build/dravik
interval=60
no_klog=0
out=
stop_wait=300
rss_tol=1
count_tol=0.5
extra=()
samples_file=

usage() {
  sed -n '/^# usage:/,/^#  *perf\/soak.sh --samples/p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit "${1:-2}"
}

need_value() {
  [[ $# -ge 2 && -n $2 ]] || { echo "soak: $1 needs a value" >&2; usage; }
}

# The growth per hour in a samples file (one line per sample: elapsed s, rss,
# lck, own KiB, fds, threads, memavail KiB, passes completed; the second
# argument starts the heading), measured from the first sample after the
# first pass to the last; 1 when a watched figure grew past its tolerance or
# too few samples followed the first pass.
growth() {
  echo "${2:-}growth per hour from the first sample after pass 1 to the last (median of the slopes between every two samples)"
  awk -v rss_tol="$rss_tol" -v count_tol="$count_tol" '
    function hms(s) { return sprintf("%d:%02d:%02d", s / 3600, s % 3600 / 60, s % 60) }
    # Least squares through the samples.
    function fit(c,   i, sx, sy, sxx, sxy, d) {
      for (i = 1; i <= n; i++) {
        sx += t[i]; sy += v[c, i]; sxx += t[i] * t[i]; sxy += t[i] * v[c, i]
      }
      d = n * sxx - sx * sx
      return d > 0 ? (n * sxy - sx * sy) / d : 0
    }
    # A heap sort of q[1..m]: no recursion, so no limit of the awk stack is met.
    function sift(i, m,   c, tmp) {
      while ((c = 2 * i) <= m) {
        if (c < m && q[c + 1] > q[c]) c++
        if (q[i] >= q[c]) return
        tmp = q[i]; q[i] = q[c]; q[c] = tmp
        i = c
      }
    }
    function heapsort(m,   i, tmp) {
      for (i = int(m / 2); i >= 1; i--) sift(i, m)
      for (i = m; i > 1; i--) { tmp = q[1]; q[1] = q[i]; q[i] = tmp; sift(1, i - 1) }
    }
    # The median of the slopes between every two samples (Theil-Sen): a
    # sample caught while a region is being set up does not tilt it.
    function median_slope(c,   i, j, m) {
      m = 0
      for (i = 1; i < n; i++)
        for (j = i + 1; j <= n; j++) q[++m] = (v[c, j] - v[c, i]) / (t[j] - t[i])
      heapsort(m)
      return m % 2 ? q[(m + 1) / 2] : (q[m / 2] + q[m / 2 + 1]) / 2
    }
    # One figure: its growth per hour, the least-squares slope and the
    # first-to-last difference, and, when it has a tolerance, PASS or GROWTH.
    function line(label, c, scale, unit, tol,   s, word, held) {
      s = median_slope(c) / scale
      held = tol == "" || s <= tol + 0
      word = tol == "" ? "info" : held ? "PASS" : "GROWTH"
      printf "  %-6s %-8s %+9.2f %s/h  (least squares %+.2f, first to last %+.1f)%s\n", word,
             label, s, unit, fit(c) / scale, (v[c, n] - v[c, 1]) / scale,
             tol == "" ? "" : sprintf("  tolerance %s %s/h", tol, unit)
      return held
    }
    $8 >= 1 { n++; secs[n] = $1; t[n] = $1 / 3600; for (c = 2; c <= 7; c++) v[c, n] = $c }
    END {
      if (n < 2) { print "  not measured: fewer than two samples after the first pass"; exit 1 }
      printf "  %d samples, %s to %s\n", n, hms(secs[1]), hms(secs[n])
      good = 1
      line("rss", 2, 1024, "MiB", "")
      line("lck", 3, 1024, "MiB", "")
      if (!line("own", 4, 1024, "MiB", rss_tol)) good = 0
      if (!line("fds", 5, 1, "", count_tol)) good = 0
      if (!line("threads", 6, 1, "", count_tol)) good = 0
      line("memavail", 7, 1024, "MiB", "")
      exit good ? 0 : 1
    }' "$1"
}

while [[ $# -gt 0 ]]; do
  case $1 in
    --minutes) need_value "$@"; minutes=$2; shift 2 ;;
    --mode) need_value "$@"; mode=$2; shift 2 ;;
    --mem) need_value "$@"; mem=$2; shift 2 ;;
    --binary) need_value "$@"; binary=$2; shift 2 ;;
    --interval) need_value "$@"; interval=$2; shift 2 ;;
    --out) need_value "$@"; out=$2; shift 2 ;;
    --stop-wait) need_value "$@"; stop_wait=$2; shift 2 ;;
    --rss-tol) need_value "$@"; rss_tol=$2; shift 2 ;;
    --count-tol) need_value "$@"; count_tol=$2; shift 2 ;;
    --samples) need_value "$@"; samples_file=$2; shift 2 ;;
    --no-klog) no_klog=1; shift ;;
    --) shift; extra=("$@"); break ;;
    -h|--help) usage 0 ;;
    -*) echo "soak: unknown option: $1" >&2; usage ;;
    *) binary=$1; shift ;;
  esac
done

is_count() { [[ $1 =~ ^[0-9]+$ && $1 -gt 0 ]]; }
is_number() { [[ $1 =~ ^[0-9]+([.][0-9]+)?$ ]]; }
is_count "$minutes" || { echo "soak: --minutes must be a whole number above 0" >&2; exit 2; }
is_count "$interval" || { echo "soak: --interval must be a whole number of seconds above 0" >&2; exit 2; }
is_count "$stop_wait" || { echo "soak: --stop-wait must be a whole number of seconds above 0" >&2; exit 2; }
is_number "$rss_tol" || { echo "soak: --rss-tol must be a number of MiB" >&2; exit 2; }
is_number "$count_tol" || { echo "soak: --count-tol must be a number" >&2; exit 2; }
if [[ -n $samples_file ]]; then
  [[ -r $samples_file ]] || { echo "soak: cannot read $samples_file" >&2; exit 2; }
  if growth "$samples_file"; then exit 0; else exit 1; fi
fi
case $mode in
  production|offline) modes=("$mode") ;;
  both) modes=(production offline) ;;
  *) echo "soak: --mode must be production, offline or both" >&2; exit 2 ;;
esac
if [[ ! -x $binary ]]; then
  echo "soak: $binary not found (build the dravik target, or give --binary PATH)" >&2
  exit 2
fi
if [[ -z $out ]]; then
  out=$(mktemp -d "${TMPDIR:-/tmp}/dravik-soak.XXXXXX")
else
  mkdir -p "$out"
fi
[[ $(id -u) -eq 0 ]] || echo "soak: not root: the regions may not be locked (lck stays 0, own = rss)" >&2

child=0

# Stops the running dravik when the script itself is interrupted.
# shellcheck disable=SC2317  # called by the trap
on_interrupt() {
  local i
  if [[ $child -gt 0 ]] && kill -0 "$child" 2>/dev/null; then
    echo "soak: interrupted: stopping dravik (pid $child)" >&2
    kill -TERM "$child" 2>/dev/null || true
    for ((i = 0; i < stop_wait; i++)); do
      kill -0 "$child" 2>/dev/null || break
      sleep 1
    done
  fi
  exit 130
}
trap on_interrupt INT TERM HUP

# A field of /proc/PID/status or /proc/meminfo, in its own unit; empty once gone.
status_field() {
  awk -v key="$2:" '$1 == key { print $2; found = 1; exit } END { if (!found) print "" }' \
    "$1" 2>/dev/null || true
}

# Passes completed: the pass the latest progress line names, less the one
# under way. Only the tail of the stream is read, so a long run costs nothing.
passes_done() {
  local pass
  pass=$(tail -c 262144 "$1" 2>/dev/null | grep -o '"event":"progress",[^}]*"pass":[0-9]*' |
    tail -n 1 | sed 's/.*"pass"://') || true
  if [[ -n $pass ]]; then echo $((pass - 1)); else echo "${2:-0}"; fi
}

hms() { printf '%d:%02d:%02d' $(($1 / 3600)) $(($1 % 3600 / 60)) $(($1 % 60)); }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

soak_mode() {
  local name=$1
  local -a args=(--json --passes 0)
  if [[ $name == offline ]]; then args+=(--full --threads 2); fi
  if [[ -n $mem ]]; then args+=(--mem "$mem"); fi
  if [[ $no_klog -eq 1 ]]; then args+=(--no-klog); fi
  args+=("${extra[@]}")
  local json="$out/$name.jsonl" err="$out/$name.stderr" samples="$out/$name.samples"
  : >"$samples"

  echo "soak $name: $binary ${args[*]}"
  echo "soak $name: $minutes min, a sample every $interval s; stream in $json"
  local started=$SECONDS
  "$binary" "${args[@]}" >"$json" 2>"$err" </dev/null &
  child=$!
  echo "soak $name: pid $child"
  printf '%9s %9s %9s %8s %5s %7s %10s %6s\n' \
    elapsed rss lck own fds threads memavail passes

  local ok=1 passes=0 deadline=$((started + minutes * 60))
  local next=$((started + interval))
  while :; do
    local now=$SECONDS
    if ((now < next)); then
      sleep $((next - now)) &
      wait $! || true
    fi
    if ! kill -0 "$child" 2>/dev/null; then
      echo "soak $name: dravik ended by itself after $(hms $((SECONDS - started)))"
      ok=0
      break
    fi
    local st=/proc/$child/status rss lck threads fds avail elapsed
    rss=$(status_field "$st" VmRSS)
    lck=$(status_field "$st" VmLck)
    threads=$(status_field "$st" Threads)
    fds=$(find "/proc/$child/fd" -mindepth 1 -maxdepth 1 2>/dev/null | wc -l) || true
    avail=$(status_field /proc/meminfo MemAvailable)
    passes=$(passes_done "$json" "$passes")
    elapsed=$((SECONDS - started))
    if [[ -n $rss && -n $threads ]]; then
      lck=${lck:-0}
      printf '%s %s %s %s %s %s %s %s\n' "$elapsed" "$rss" "$lck" "$((rss - lck))" \
        "$fds" "$threads" "$avail" "$passes" >>"$samples"
      printf '%9s %9s %9s %8s %5s %7s %10s %6s\n' "$(hms "$elapsed")" "$(mib "$rss")" \
        "$(mib "$lck")" "$(mib $((rss - lck)))" "$fds" "$threads" "$(mib "$avail")" "$passes"
    fi
    ((SECONDS < deadline)) || break
    next=$((next + interval))
    ((next <= deadline)) || next=$deadline
  done

  growth "$samples" "soak $name: " || ok=0

  # The end: SIGTERM, a bounded wait, the exit status and the summary event.
  local status=0 waited=0 killed=0
  if kill -0 "$child" 2>/dev/null; then
    kill -TERM "$child" 2>/dev/null || true
    while kill -0 "$child" 2>/dev/null && ((waited < stop_wait)); do
      sleep 1
      waited=$((waited + 1))
    done
    if kill -0 "$child" 2>/dev/null; then
      kill -KILL "$child" 2>/dev/null || true
      killed=1
      ok=0
    fi
  fi
  wait "$child" 2>/dev/null || status=$?
  child=0
  if [[ $killed -eq 1 ]]; then
    echo "soak $name: no exit within $stop_wait s of SIGTERM: killed (status $status)"
  else
    echo "soak $name: SIGTERM sent; exited within about $waited s, status $status"
  fi
  [[ $status -eq 0 ]] || ok=0

  local summary last faults
  summary=$(grep '"event":"summary"' "$json" | tail -n 1) || true
  last=$(grep -v '^$' "$json" | tail -n 1) || true
  faults=$(grep -c '"event":"fault"' "$json") || true
  echo "soak $name: passes completed $(passes_done "$json" "$passes"), fault events $faults"
  if [[ -z $summary ]]; then
    echo "soak $name: no summary event in the stream"
    ok=0
  else
    echo "soak $name: summary: $summary"
    if [[ $last != "$summary" ]]; then
      echo "soak $name: the stream does not end with its summary event"
      ok=0
    fi
    if [[ $summary != *'"end_reason":"stopped by user"'* ]]; then
      echo "soak $name: the summary's end reason is not the stop"
      ok=0
    fi
    [[ $summary == *'"verdict":"PASS"'* ]] || ok=0
  fi
  if [[ -s $err ]]; then
    echo "soak $name: standard error ($err):"
    tail -n 5 "$err" | sed 's/^/  /'
  fi
  if [[ $ok -eq 1 ]]; then
    echo "soak $name: PASS"
  else
    echo "soak $name: FAIL"
  fi
  [[ $ok -eq 1 ]]
}

result=0
for m in "${modes[@]}"; do
  soak_mode "$m" || result=1
  echo
done
if [[ $result -eq 0 ]]; then echo "soak: PASS (files in $out)"; else echo "soak: FAIL (files in $out)"; fi
exit "$result"
