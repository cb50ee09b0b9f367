#!/usr/bin/env bash
# Boots Debian's own ARM kernel in a whole-system emulator and runs a shipped
# binary on it as root (a phase of tools/test.sh, and a command of its own):
#   tools/test_boot.sh arm64 [BINARY]   linux-image-arm64, qemu-system-aarch64
#                                       (default BINARY dist/dravik-aarch64)
#   tools/test_boot.sh armhf [BINARY]   linux-image-armmp, qemu-system-arm
#                                       (default BINARY dist/dravik-armhf)
# Unlike user-mode emulation, every system call reaches an ARM kernel: the
# page map, memory locking, the kernel log and the cache maintenance are that
# kernel's. The initramfs holds only the binary, tests/boot/init.cpp
# (cross-compiled static) and the list of runs below; the init prints each
# run between markers on the serial console, which is parsed here. Checks:
#   selftest   --selftest finds its planted flip at a non-zero physical address
#   quick      --quick ends PASS
#   offline    --full --threads 2 (two OFFLINE workers) ends PASS
#   bench      --bench reaches its summary
#   hcl        --hcl --tier quick reaches a verdict, patterns and errors clean
#   old-*      the self-test, a quick run and the qualification again with
#              every system call newer than Linux 3.10 failing with ENOSYS
#              (a seccomp filter: tests/boot/newer_syscalls.h)
# and every line of every --json run is one JSON object.
#
# The kernel is the one the archive's meta package depends on today, fetched
# with apt-get under a separate apt state for the ARM architecture (the host's
# dpkg architectures are left alone) and kept in $DRAVIK_KERNEL_CACHE
# (default /var/cache/dravik-test-kernels), one folder per package version;
# when the archive cannot be reached the newest kernel kept there is booted.
# The emulator is killed after $DRAVIK_BOOT_TIMEOUT seconds (default 1500):
# a hung guest fails the checks it did not finish. The console, the runs'
# output and the initramfs stay in build-boot/ARCH.
# A missing binary is an error (exit 1): tools/package.sh builds both.
set -uo pipefail
export LC_ALL=C
cd "$(dirname "$0")/.."

arch=${1:?usage: tools/test_boot.sh arm64|armhf [BINARY]}
case $arch in
  arm64)
    binary=${2:-dist/dravik-aarch64}
    meta=linux-image-arm64
    cross=aarch64-linux-gnu
    qemu=(qemu-system-aarch64 -M virt -cpu cortex-a57)
    ;;
  armhf)
    binary=${2:-dist/dravik-armhf}
    meta=linux-image-armmp
    cross=arm-linux-gnueabihf
    # The armmp kernel has no LPAE: the machine's devices stay below 4 GiB.
    qemu=(qemu-system-arm -M virt,highmem=off -cpu cortex-a15)
    ;;
  *)
    echo "usage: tools/test_boot.sh arm64|armhf [BINARY]" >&2
    exit 2
    ;;
esac
if [[ ! -f $binary ]]; then
  echo "boot $arch: no $binary (tools/package.sh builds it)" >&2
  exit 1
fi
started=$SECONDS

missing=()
for pkg in qemu-system-arm cpio gzip jq "g++-$cross"; do
  dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
done
if ((${#missing[@]})); then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# --- the kernel -------------------------------------------------------------
cache=${DRAVIK_KERNEL_CACHE:-/var/cache/dravik-test-kernels}
state=$cache/apt-$arch
mkdir -p "$state/lists/partial" "$state/archives/partial" || exit 1
touch "$state/status"
apt_opts=(-o "APT::Architecture=$arch" -o "APT::Architectures=$arch"
  -o "Dir::State=$state" -o "Dir::State::Lists=$state/lists" -o "Dir::State::status=$state/status"
  -o "Dir::Cache=$state" -o "Dir::Cache::Archives=$state/archives" -o "APT::Sandbox::User=root")
kernel_dir=
if apt-get "${apt_opts[@]}" -qq update >"$state/update.log" 2>&1; then
  # The meta package names the current image package (linux-image-6.1.0-N-arm64).
  image=$(apt-cache "${apt_opts[@]}" depends "$meta" 2>/dev/null | sed -n 's/^ *Depends: \(linux-image-[^ ]*\)$/\1/p' | head -1)
  version=$(apt-cache "${apt_opts[@]}" show "$image" 2>/dev/null | sed -n 's/^Version: //p' | head -1)
  if [[ -n $image && -n $version ]]; then
    kernel_dir=$cache/$arch/${image}_$version
    if [[ ! -f $kernel_dir/vmlinuz ]]; then
      fetch=$(mktemp -d)
      if (cd "$fetch" && apt-get "${apt_opts[@]}" -qq download "$image=$version") >"$state/download.log" 2>&1; then
        mkdir -p "$fetch/root" "$kernel_dir"
        dpkg-deb --fsys-tarfile "$fetch"/*.deb | tar -x -C "$fetch/root" --wildcards './boot/vmlinuz-*' './boot/config-*'
        cp "$fetch"/root/boot/config-* "$kernel_dir/config"
        cp "$fetch"/root/boot/vmlinuz-* "$kernel_dir/vmlinuz.part" && mv "$kernel_dir/vmlinuz.part" "$kernel_dir/vmlinuz"
      else
        cat "$state/download.log"
      fi
      rm -rf "$fetch"
    fi
  fi
else
  echo "boot $arch: the archive could not be read ($(tail -1 "$state/update.log")); booting a kept kernel"
fi
if [[ -z $kernel_dir || ! -f $kernel_dir/vmlinuz ]]; then
  kernel_dir=$(ls -d "$cache/$arch"/*/ 2>/dev/null | sort -V | tail -1)
  kernel_dir=${kernel_dir%/}
fi
if [[ -z $kernel_dir || ! -f $kernel_dir/vmlinuz ]]; then
  echo "boot $arch: FAIL: no $meta kernel could be fetched or found in $cache/$arch"
  exit 1
fi
# Older versions kept beside the one booted are dropped.
for old in "$cache/$arch"/*/; do
  [[ ${old%/} == "$kernel_dir" ]] || rm -rf "$old"
done
kernel=$(basename "$kernel_dir")
echo "boot $arch: kernel $kernel ($((SECONDS - started))s to fetch or find)"

# --- the initramfs ----------------------------------------------------------
work=build-boot/$arch
rm -rf "$work"
mkdir -p "$work/root"
if ! "$cross-g++" -std=c++20 -O2 -static -Wall -Wextra -Werror -o "$work/root/init" tests/boot/init.cpp; then
  echo "boot $arch: FAIL: the init does not build"
  exit 1
fi
cp "$binary" "$work/root/dravik"
chmod 0755 "$work/root/dravik" "$work/root/init"
# NAME SECONDS FILTER ARGUMENTS: the init kills a run after SECONDS; FILTER
# "old" refuses the system calls newer than Linux 3.10. Sizes are small: the
# emulator runs about 1/20th of native speed.
cat >"$work/root/runs" <<'EOF'
selftest 300 - --selftest
quick 600 - --quick --mem 64M --json
offline 600 - --full --quick --threads 2 --mem 64M --json
bench 600 - --bench --json
hcl 600 - --hcl --json --tier quick --duration 10 --mem 32M
old-selftest 300 old --selftest
old-quick 600 old --quick --mem 64M --json
old-hcl 600 old --hcl --json --tier quick --duration 10 --mem 32M
EOF
(cd "$work/root" && find . -print0 | sort -z | cpio --null -o -H newc -R 0:0 --quiet) | gzip -1 >"$work/initramfs.gz"

# --- the boot ---------------------------------------------------------------
bound=${DRAVIK_BOOT_TIMEOUT:-1500}
console=$work/console.log
boot_started=$SECONDS
timeout -k 10 "$bound" "${qemu[@]}" -smp 2 -m 1024M -display none -monitor none -no-reboot \
  -serial "file:$console" -kernel "$kernel_dir/vmlinuz" -initrd "$work/initramfs.gz" \
  -append "console=ttyAMA0 rdinit=/init panic=-1" </dev/null >"$work/qemu.log" 2>&1
status=$?
boot_seconds=$((SECONDS - boot_started))
if ((status == 124 || status == 137)); then
  echo "boot $arch: the emulator was killed after ${bound}s"
elif ! grep -q '^@@done' "$console"; then
  echo "boot $arch: the emulator ended (status $status) before the runs were done: $(tail -n 5 "$console" "$work/qemu.log")"
fi
tr -d '\r' <"$console" | grep -a -m1 '^Linux version' | sed "s/^/boot $arch: /"

# --- the checks -------------------------------------------------------------
# Each run's output into NAME.out / NAME.err, its end line into NAME.end.
tr -d '\r' <"$console" | awk -v dir="$work" '
  /^@@run / { name = $2; printf "" > (dir "/" name ".out"); printf "" > (dir "/" name ".err"); next }
  /^@@out / && name != "" { print substr($0, 7) > (dir "/" name ".out"); next }
  /^@@err / && name != "" { print substr($0, 7) > (dir "/" name ".err"); next }
  /^@@end / { print $0 > (dir "/" $2 ".end"); name = ""; next }
  /^@@note / { print "boot: " substr($0, 8) }'

passed=0
failed=0
pass() {
  echo "ok: $arch $1"
  passed=$((passed + 1))
}
fail() {
  echo "FAIL: $arch $1"
  failed=$((failed + 1))
}
# The run's exit status ("timeout", "signal9" or a number), or "missing".
exit_of() {
  [[ -f $work/$1.end ]] || {
    echo missing
    return
  }
  sed -n 's/.* exit=\([^ ]*\).*/\1/p' "$work/$1.end"
}
seconds_of() { sed -n 's/.* seconds=\([^ ]*\).*/\1/p' "$work/$1.end" 2>/dev/null; }
# Why a --json run's output is not all JSON objects (empty when it is).
json_problem() {
  local out=$work/$1.out bad
  [[ -s $out ]] || {
    echo "no output"
    return
  }
  bad=$(jq -R -n '[inputs | (try fromjson catch null) | select(type != "object")] | length' "$out")
  ((bad == 0)) || echo "$bad of $(wc -l <"$out") lines are not JSON objects"
}
event() { jq -R -c --arg event "$2" 'fromjson? | select(.event == $event)' "$work/$1.out" 2>/dev/null | tail -1; }
why() { tail -n 3 "$work/$1.err" "$work/$1.out" 2>/dev/null | tr '\n' ' '; }

check_selftest() {
  local name=$1 code paddr
  code=$(exit_of "$name")
  paddr=$(sed -n 's/^  detected: .* paddr=\(0x[0-9a-f]*\).*/\1/p' "$work/$name.out" 2>/dev/null)
  if [[ $code == 0 ]] && grep -qx '  result: PASS' "$work/$name.out" && [[ -n $paddr ]] && ((paddr != 0)); then
    pass "$name: the planted flip is found at paddr $paddr ($(seconds_of "$name")s)"
  else
    fail "$name: exit $code, paddr '${paddr:-none}': $(why "$name")"
  fi
}
check_verdict_pass() {
  local name=$1 code problem verdict
  code=$(exit_of "$name")
  problem=$(json_problem "$name")
  verdict=$(event "$name" summary | jq -r '.verdict' 2>/dev/null)
  if [[ $code == 0 && -z $problem && $verdict == PASS ]]; then
    pass "$name: PASS, every line JSON ($(seconds_of "$name")s)"
  else
    fail "$name: exit $code, verdict '$verdict'${problem:+, $problem}: $(why "$name")"
  fi
}
check_bench() {
  local name=$1 code problem
  code=$(exit_of "$name")
  problem=$(json_problem "$name")
  if [[ $code == 0 && -z $problem && -n $(event "$name" bench_summary) ]]; then
    pass "$name: reaches its summary, every line JSON ($(seconds_of "$name")s)"
  else
    fail "$name: exit $code${problem:+, $problem}, no bench_summary: $(why "$name")"
  fi
}
check_hcl() {
  local name=$1 code problem last said
  code=$(exit_of "$name")
  problem=$(json_problem "$name")
  last=$(tail -1 "$work/$name.out" 2>/dev/null)
  said=$(jq -r --arg code "$code" '
    [ (if .event != "hcl_verdict" then "the last line is no verdict" else empty end),
      (if (.exit | tostring) != $code then "its exit \(.exit) is not the program'"'"'s \($code)" else empty end),
      (.criteria[]? | select((.name == "patterns" or .name == "zero_errors") and .status != "pass")
         | "\(.name): \(.status)")
    ] | join("; ")' <<<"$last" 2>&1)
  [[ -z $(event "$name" hcl_abort) ]] || said+="${said:+; }aborted: $(event "$name" hcl_abort)"
  if [[ -z $problem && -z $said ]]; then
    pass "$name: verdict $(jq -r .verdict <<<"$last"), patterns and errors clean, every line JSON ($(seconds_of "$name")s)"
  else
    fail "$name: exit $code${problem:+, $problem}${said:+, $said}: $(why "$name")"
  fi
}

check_selftest selftest
check_verdict_pass quick
check_verdict_pass offline
check_bench bench
check_hcl hcl
check_selftest old-selftest
check_verdict_pass old-quick
check_hcl old-hcl

echo "boot $arch: $passed of $((passed + failed)) checks passed on $kernel; booted and ran in ${boot_seconds}s, $((SECONDS - started))s in all"
((failed == 0))
