#!/usr/bin/env bash
# Runs a shipped binary built for another processor (the first argument, e.g.
# dist/dravik-aarch64) under its user-mode emulator (the second, e.g.
# qemu-aarch64-static or qemu-arm-static) the way a box of that processor runs it:
#   --version, --help    what the x86-64 binary beside it says (the ARM
#                        package carries the man page made from those texts);
#   --selftest           the planted fault is found: PASS;
#   --quick --mem 64M --json   PASS, every line one JSON object;
#   --bench --json       every line one JSON object, the benchmark's summary;
#   --hcl --tier quick --json  the whole qualification: its last line is the
#                        verdict, whose exit is the program's, the integrity
#                        criteria pass and the vector kernels are the
#                        processor's own. The emulator is no processor: its
#                        timings make the verdict anything but a FAIL.
# Exits 77 (skipped) when there is no binary.
set -uo pipefail
export LC_ALL=C

binary=${1:?usage: emulated_binary_test.sh BINARY EMULATOR}
emulator=${2:?usage: emulated_binary_test.sh BINARY EMULATOR}
if [[ ! -f $binary ]]; then
  echo "SKIP: no $binary (run tools/package.sh first)"
  exit 77
fi
native=$(dirname "$binary")/dravik
# The vector kernels' name in hcl_info, by the binary's processor.
case $(readelf -h "$binary" | sed -n 's/^ *Machine: *//p') in
  AArch64) simd=neon-nt ;;
  ARM) simd=arm32-scalar ;;
  *) simd=sse2-nt ;;
esac

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
pass() { echo "ok: $*"; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Runs the binary under the emulator with the arguments; its output goes to
# $scratch/out, its errors to $scratch/err; returns its exit status.
emulate() {
  local started=$SECONDS status
  "$emulator" "$binary" "$@" >"$scratch/out" 2>"$scratch/err"
  status=$?
  echo "dravik $*: exit $status after $((SECONDS - started))s"
  return "$status"
}
# Prints how many lines of the file are not one JSON object each.
not_json() {
  jq -R -n '[inputs | (try fromjson catch null) | select(type != "object")] | length' "$1"
}
# Prints the file's line whose event is $2, as compact JSON.
event() {
  jq -R -c --arg event "$2" 'fromjson? | select(.event == $event)' "$1" | tail -1
}
json_run() {
  local what=$1 bad
  bad=$(not_json "$scratch/out")
  [[ -s $scratch/out && $bad == 0 ]] || fail "$what: $bad of $(wc -l <"$scratch/out") lines are not JSON objects"
}

emulate --version
version=$(cat "$scratch/out")
[[ $version =~ ^Dravik\ v[0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "--version says '$version'"
if [[ -x $native ]]; then
  [[ $version == "$("$native" --version)" ]] || fail "--version differs from the x86-64 binary's"
  emulate --help
  # The usage line names the program as it was started.
  if diff <(sed 's#^Usage: [^ ]*#Usage: dravik#' "$scratch/out") \
    <("$native" --help | sed 's#^Usage: [^ ]*#Usage: dravik#') >"$scratch/diff"; then
    pass "--version and --help read as the x86-64 binary's"
  else
    fail "--help differs from the x86-64 binary's:"$'\n'"$(cat "$scratch/diff")"
  fi
fi

if emulate --selftest && grep -qx '  result: PASS' "$scratch/out" && grep -q '^  detected: ' "$scratch/out"; then
  pass "--selftest finds its planted fault"
else
  fail "--selftest: $(tail -n 3 "$scratch/out" "$scratch/err")"
fi

emulate --quick --mem 64M --json
status=$?
json_run "--quick"
verdict=$(event "$scratch/out" summary | jq -r '.verdict')
if ((status == 0)) && [[ $verdict == PASS ]]; then
  pass "--quick --mem 64M --json: PASS"
else
  fail "--quick --mem 64M --json: exit $status, verdict '$verdict': $(tail -n 3 "$scratch/err")"
fi

emulate --bench --json
status=$?
json_run "--bench"
if ((status == 0)) && [[ -n $(event "$scratch/out" bench_summary) ]]; then
  pass "--bench --json ends with its summary"
else
  fail "--bench --json: exit $status: $(tail -n 3 "$scratch/err")"
fi

emulate --hcl --json --tier quick --duration 10 --mem 32M --no-klog
status=$?
json_run "--hcl"
last=$(tail -1 "$scratch/out")
said=$(jq -r --argjson status "$status" --arg simd "$simd" '
  [ (if .event != "hcl_verdict" then "the last line is no verdict" else empty end),
    (if .exit != $status then "its exit \(.exit) is not the program'"'"'s \($status)" else empty end),
    (if .verdict == "FAIL" then "FAIL" else empty end),
    (.criteria[]? | select((.name == "patterns" or .name == "zero_errors") and .status != "pass")
       | "\(.name): \(.status)")
  ] | join("; ")' <<<"$last" 2>&1)
info_simd=$(event "$scratch/out" hcl_info | jq -r '.simd')
[[ $info_simd == "$simd" ]] || said+="${said:+; }hcl_info simd is '$info_simd', not $simd"
[[ -z $(event "$scratch/out" hcl_abort) ]] || said+="${said:+; }aborted: $(event "$scratch/out" hcl_abort)"
if [[ -z $said ]]; then
  pass "--hcl --tier quick: $(jq -r .verdict <<<"$last"), patterns and errors clean, $simd"
else
  fail "--hcl --tier quick: $said"
fi

if ((failures)); then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all emulated runs passed"
