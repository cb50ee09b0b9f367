#!/usr/bin/env bash
# Checks what tools/package.sh left in dist/ (the first argument):
#   - dist/dravik (x86-64), dist/dravik-aarch64 (AArch64) and dist/dravik-armhf
#     (32-bit ARM) are fully static
#     (no interpreter, no NEEDED entry) and SHA256SUMS covers every file of
#     dist/ and matches;
#   - the .deb unpacks into a scratch root with exactly the expected files,
#     and its control area holds packaging/'s maintainer scripts (0755, valid
#     sh) beside conffiles;
#   - the arm64 and armhf .debs hold the same files, byte for byte, but their
#     binary;
#   - man -l renders its page without warnings, with every option and the
#     hand-written sections;
#   - its bash completion offers every option of --help, the options for
#     `--t<TAB>` and the values of --tier and --setup-override;
#   - the scheduled scan: /etc/default/dravik is a conffile whose options run,
#     the service and timer pass `systemd-analyze verify`, the metrics of a
#     run pass `promtool check metrics` and the example alerting rules pass
#     `promtool check rules` and their own `promtool test rules` (each check
#     is skipped when its tool is missing);
#   - as root, the package installs, upgrades, is removed and purged by dpkg
#     in a scratch root (its maintainer scripts run there, DPKG_ROOT set, so
#     systemd and the host are left alone): an enabled timer stays enabled
#     across an upgrade, removal disables it and keeps the history, purge
#     takes the history, the metrics and the options file;
#   - as root, the binary runs in an empty root (nothing but itself, with
#     /proc, /sys and /dev bound in) as it does on the host.
# Exits 77 (skipped) when dist/ holds no package.
set -uo pipefail
export LC_ALL=C

dist=${1:?usage: packaging_test.sh DIST_DIR}
binary=$dist/dravik
debs=("$dist"/dravik_*_amd64.deb)
if [[ ! -x $binary || ! -f ${debs[0]} ]]; then
  echo "SKIP: no package in $dist (run tools/package.sh first)"
  exit 77
fi
deb=${debs[0]}

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
pass() { echo "ok: $*"; }

scratch=$(mktemp -d)
cleanup() {
  # Never remove a tree that still has something mounted inside it.
  if grep -qF " $scratch/" /proc/self/mountinfo; then
    echo "left $scratch in place: something is still mounted in it" >&2
  else
    rm -rf --one-file-system "$scratch"
  fi
}
trap cleanup EXIT

# --- the static binaries -----------------------------------------------------
# Debian's architecture of each ARM package, with its binary in dist/.
declare -A arm_binaries=([arm64]=$dist/dravik-aarch64 [armhf]=$dist/dravik-armhf)
for arch in arm64 armhf; do
  arm_debs=("$dist"/dravik_*_"$arch".deb)
  [[ -f ${arm_debs[0]} ]] || fail "no $arch package in $dist"
done
for pair in "$binary:Advanced Micro Devices X86-64" "${arm_binaries[arm64]}:AArch64" "${arm_binaries[armhf]}:ARM"; do
  file=${pair%%:*} machine=${pair#*:}
  said=$(readelf -h "$file" 2>&1 | sed -n 's/^ *Machine: *//p')
  if [[ $said != "$machine" ]]; then
    fail "$file is not an $machine program: '$said'"
  elif readelf -lW "$file" | grep -q INTERP; then
    fail "$file asks for a program interpreter"
  elif readelf -dW "$file" | grep -q NEEDED; then
    fail "$file needs shared libraries: $(readelf -dW "$file" | grep NEEDED)"
  else
    pass "$(basename "$file") is $machine with no interpreter and no NEEDED entry"
  fi
done
listed=$(awk '{print $2}' "$dist/SHA256SUMS" | sort)
present=$(cd "$dist" && find . -maxdepth 1 -type f ! -name SHA256SUMS -printf '%P\n' | sort)
if [[ $listed != "$present" ]]; then
  fail "SHA256SUMS lists other files than dist/ holds:"$'\n'"$(diff <(echo "$listed") <(echo "$present"))"
elif (cd "$dist" && sha256sum --quiet -c SHA256SUMS); then
  pass "SHA256SUMS covers every file and matches"
else
  fail "SHA256SUMS do not match dist/"
fi

# --- the Debian package ------------------------------------------------------
version=$(dpkg-deb -f "$deb" Version)
[[ $(dpkg-deb -f "$deb" Package) == dravik && $(dpkg-deb -f "$deb" Architecture) == amd64 ]] ||
  fail "control fields: $(dpkg-deb -f "$deb" Package Architecture | tr '\n' ' ')"
[[ $("$binary" --version) == "Dravik v$version" ]] ||
  fail "dravik --version says '$("$binary" --version)', the package is $version"

root=$scratch/deb
dpkg-deb -x "$deb" "$root"
expected="./etc/default/dravik 0644
./usr/bin/dravik 0755
./usr/lib/systemd/system/dravik-scan.service 0644
./usr/lib/systemd/system/dravik-scan.timer 0644
./usr/share/bash-completion/completions/dravik 0644
./usr/share/doc/dravik/README.md 0644
./usr/share/doc/dravik/changelog.gz 0644
./usr/share/doc/dravik/copyright 0644
./usr/share/doc/dravik/examples/dravik-alerts.yml 0644
./usr/share/lintian/overrides/dravik 0644
./usr/share/man/man1/dravik.1.gz 0644"
found=$(cd "$root" && find . -type f -printf '%p %#m\n' | sort)
if [[ $found == "$expected" ]]; then
  pass "the .deb holds the expected files"
else
  fail "the .deb holds other files than expected:"$'\n'"$(diff <(echo "$expected") <(echo "$found"))"
fi
cmp -s "$root/usr/bin/dravik" "$binary" || fail "usr/bin/dravik in the .deb is not dist/dravik"
# The control area: conffiles and the maintainer scripts of packaging/.
packaging=$(cd "$(dirname "$0")/../../packaging" && pwd)
control=$scratch/control
dpkg-deb -e "$deb" "$control"
expected="conffiles 0644
control 0644
md5sums 0644
postinst 0755
postrm 0755
prerm 0755"
found=$(cd "$control" && find . -type f -printf '%P %#m\n' | sort)
before=$failures
[[ $found == "$expected" ]] ||
  fail "the control area holds other files than expected:"$'\n'"$(diff <(echo "$expected") <(echo "$found"))"
for script in postinst prerm postrm; do
  cmp -s "$control/$script" "$packaging/$script" || fail "$script in the .deb is not packaging/$script"
  said=$(sh -n "$control/$script" 2>&1) || fail "sh -n $script: $said"
done
((failures == before)) && pass "the control area holds conffiles and the maintainer scripts, 0755, valid sh"
grep -q '^License: Expat' "$root/usr/share/doc/dravik/copyright" || fail "copyright names no licence"

# Each ARM package: its control fields, and the amd64 package's files and
# folders but the binary, which is its dist/ binary.
modes() { (cd "$1" && find . -printf '%p %y %#m\n' | sort); }
for arch in arm64 armhf; do
  arm_debs=("$dist"/dravik_*_"$arch".deb)
  arm_deb=${arm_debs[0]} arm_binary=${arm_binaries[$arch]}
  [[ -f $arm_deb ]] || continue
  before=$failures
  fields="$(dpkg-deb -f "$arm_deb" Package) $(dpkg-deb -f "$arm_deb" Version) $(dpkg-deb -f "$arm_deb" Architecture)"
  [[ $fields == "dravik $version $arch" ]] || fail "$arch package, version, architecture: $fields"
  [[ $(dpkg-deb -I "$arm_deb" conffiles) == /etc/default/dravik ]] || fail "the $arch conffiles are not /etc/default/dravik"
  arm_root=$scratch/$arch
  dpkg-deb -x "$arm_deb" "$arm_root"
  said=$(diff -r --no-dereference "$root" "$arm_root" 2>&1 | grep -vx "Binary files $root/usr/bin/dravik and $arm_root/usr/bin/dravik differ")
  [[ -z $said ]] || fail "the $arch package differs from the amd64 one in more than its binary:"$'\n'"$said"
  cmp -s "$arm_root/usr/bin/dravik" "$arm_binary" || fail "usr/bin/dravik in the $arch .deb is not $arm_binary"
  dpkg-deb -e "$arm_deb" "$scratch/$arch-control"
  for script in conffiles postinst prerm postrm; do
    cmp -s "$scratch/$arch-control/$script" "$control/$script" || fail "the $arch package's $script differs"
  done
  [[ $(modes "$arm_root") == "$(modes "$root")" ]] ||
    fail "the $arch package's modes differ:"$'\n'"$(diff <(modes "$root") <(modes "$arm_root"))"
  ((failures == before)) && pass "the $arch .deb holds the amd64 one's files with $arm_binary as its binary"
done

# Every option --help names (in its table or its text).
mapfile -t options < <("$binary" --help | grep -oE -- '--[a-z][a-z0-9-]*' | sort -u)
((${#options[@]} > 20)) || fail "--help names only ${#options[@]} options"

# --- the man page ------------------------------------------------------------
page=$root/usr/share/man/man1/dravik.1.gz
rendered=$(MANWIDTH=100 man --warnings -l "$page" 2>"$scratch/man.err")
if [[ -s $scratch/man.err ]]; then
  fail "man warns: $(cat "$scratch/man.err")"
fi
missing=()
for heading in NAME SYNOPSIS DESCRIPTION MODES "EXIT STATUS" EXAMPLES FILES; do
  grep -qx "$heading" <<<"$rendered" || missing+=("$heading")
done
for option in "${options[@]}"; do
  grep -qF -- "$option" <<<"$rendered" || missing+=("$option")
done
grep -qF "dravik - userspace RAM tester" <<<"$rendered" || missing+=("the NAME line")
if ((${#missing[@]})); then
  fail "the man page lacks: ${missing[*]}"
else
  pass "man -l renders the page with all sections and options"
fi

# --- bash completion ---------------------------------------------------------
# Prints the completions offered for the words after "dravik".
complete_words() {
  bash --norc --noprofile -c '
    source "$1"; shift
    COMP_WORDS=(dravik "$@"); COMP_CWORD=$#
    _dravik
    ((${#COMPREPLY[@]})) && printf "%s\n" "${COMPREPLY[@]}" | sort | tr "\n" " "' \
    _ "$root/usr/share/bash-completion/completions/dravik" "$@"
}
check_completion() {
  local expect=$1
  shift
  local got
  got=$(complete_words "$@")
  if [[ $got == "$expect" ]]; then
    pass "completion of 'dravik $*': $got"
  else
    fail "completion of 'dravik $*' offers '$got', expected '$expect'"
  fi
}
check_completion "--thorough --threads --tier " --t
check_completion "quick soak standard " --tier ""
check_completion "soak standard " --tier s
check_completion "mixed uniform " --setup-override ""
check_completion "" --mem ""
check_completion "--json " --quick --js
offered=" $(complete_words "") "
not_offered=()
for option in "${options[@]}"; do
  [[ $offered == *" $option "* ]] || not_offered+=("$option")
done
if ((${#not_offered[@]})); then
  fail "the completion does not offer: ${not_offered[*]}"
else
  pass "the completion offers all ${#options[@]} options of --help"
fi

# --- the scheduled scan ------------------------------------------------------
before=$failures
units=$root/usr/lib/systemd/system
[[ -d $root/var/lib/dravik && -d $root/var/lib/prometheus/node-exporter && $(dpkg-deb -I "$deb" conffiles) == /etc/default/dravik ]] ||
  fail "no /var/lib/dravik or node-exporter folder, or conffiles is not /etc/default/dravik"
grep -qx 'ExecStart=/usr/bin/dravik $DRAVIK_OPTIONS' "$units/dravik-scan.service" &&
  grep -qx 'EnvironmentFile=-/etc/default/dravik' "$units/dravik-scan.service" ||
  fail "dravik-scan.service does not run /usr/bin/dravik with /etc/default/dravik"
if command -v systemd-analyze >/dev/null; then
  # In the unpacked package, beside the system's units (for the targets) and
  # with its man page (Documentation=); verify warns without failing, so any
  # word from it fails the check.
  mkdir -p "$root/lib/systemd" && cp -a /lib/systemd/system "$root/lib/systemd/"
  said=$(MANPATH=$root/usr/share/man systemd-analyze verify --root="$root" \
    "$units/dravik-scan.service" "$units/dravik-scan.timer" 2>&1) && [[ -z $said ]] ||
    fail "systemd-analyze verify: $said"
  rm -rf "$root/lib"
else
  echo "skip: no systemd-analyze"
fi
# The default options as the service passes them, then a short test (later
# options win) with the records in the scratch folder.
DRAVIK_OPTIONS=$(. "$root/etc/default/dravik" && echo "$DRAVIK_OPTIONS")
# shellcheck disable=SC2086
"$binary" $DRAVIK_OPTIONS --quick --mem 16M --no-klog --metrics "$scratch/dravik.prom" \
  --history "$scratch/history.jsonl" >"$scratch/scan.out" 2>&1 && [[ -s $scratch/dravik.prom ]] &&
  grep -q '^{"event":"summary"' "$scratch/history.jsonl" ||
  fail "the default options: $(tail -3 "$scratch/scan.out")"
if command -v promtool >/dev/null; then
  cp "$(dirname "$0")/dravik-alerts.test.yml" "$root/usr/share/doc/dravik/examples/dravik-alerts.yml" "$scratch/"
  said=$(promtool check metrics <"$scratch/dravik.prom" 2>&1) && [[ -z $said ]] &&
    said=$(promtool check rules "$scratch/dravik-alerts.yml" 2>&1) &&
    said=$(promtool test rules "$scratch/dravik-alerts.test.yml" 2>&1) ||
    fail "promtool: $said"
else
  echo "skip: no promtool (Debian package prometheus)"
fi
((failures == before)) && pass "the scheduled scan's files, units, default options and alerting rules"

# --- install, upgrade, remove, purge -----------------------------------------
# dpkg in a scratch root of its own: the maintainer scripts run with DPKG_ROOT
# set, so deb-systemd-helper works inside it and neither systemd nor the
# host's package database is touched.
if [[ $EUID -ne 0 ]]; then
  echo "skip: the install cycle needs root"
else
  before=$failures
  sysroot=$scratch/sysroot
  mkdir -p "$sysroot/var/lib/dpkg/info" "$sysroot/var/lib/dpkg/updates"
  touch "$sysroot/var/lib/dpkg/status"
  sys_dpkg() { dpkg --root="$sysroot" --force-script-chrootless --log=/dev/null "$@" >"$scratch/dpkg.out" 2>&1 || fail "dpkg $*: $(cat "$scratch/dpkg.out")"; }
  wants=$sysroot/etc/systemd/system/timers.target.wants/dravik-scan.timer
  state=$sysroot/var/lib/systemd/deb-systemd-helper-enabled/dravik-scan.timer.dsh-also
  sys_dpkg -i "$deb"
  [[ ! -e $wants && $(cat "$state" 2>&1) == /etc/systemd/system/timers.target.wants/dravik-scan.timer ]] ||
    fail "after install: the timer is enabled, or deb-systemd-helper knows nothing of its link"
  # Enabled by the administrator (systemctl enable makes this link), then an
  # upgrade, and records left by a scan.
  mkdir -p "${wants%/*}" && ln -s /usr/lib/systemd/system/dravik-scan.timer "$wants"
  sys_dpkg -i "$deb"
  [[ -L $wants ]] || fail "an upgrade disabled the enabled timer"
  echo '{}' >"$sysroot/var/lib/dravik/history.jsonl"
  echo 'x 1' >"$sysroot/var/lib/prometheus/node-exporter/dravik.prom"
  sys_dpkg -r dravik
  [[ ! -L $wants && -f $sysroot/var/lib/dravik/history.jsonl && -f $sysroot/etc/default/dravik ]] ||
    fail "after removal: the timer's link stays, or the history or the options file went"
  sys_dpkg -P dravik
  left=$(cd "$sysroot" && find . -path ./var/lib/dpkg -prune -o \( -type f -o -type l \) -print)
  [[ -z $left ]] || fail "after purge these are left: $left"
  [[ -z $(dpkg --root="$sysroot" -l 2>/dev/null | grep -w dravik) ]] || fail "dpkg still lists dravik after purge"
  ((failures == before)) && pass "install, upgrade, remove and purge in a scratch root: the timer, the history and the metrics go when they should"
fi

# --- the empty root ----------------------------------------------------------
# Fields of the start and summary events that must read the same in the empty
# root as on the host (timestamps, seed and kernel-log counts may differ).
json_fields() {
  local start summary key
  start=$(grep -m1 '^{"event":"start"' "$1")
  summary=$(grep -m1 '^{"event":"summary"' "$1")
  for key in version mode profile phys root flush cache klog; do
    grep -oE "\"$key\":(\\{[^}]*\\}|\"[^\"]*\"|[^,}]*)" <<<"$start" | head -1
  done
  for key in verdict hard transient covered_total end_reason addressing_suspect; do
    grep -oE "\"$key\":(\"[^\"]*\"|[^,}]*)" <<<"$summary" | head -1
  done
}
# Runs dravik with the arguments, on the host or in the empty root, and prints
# its exit status, then its output (JSON runs: the fields above).
run_dravik() {
  local where=$1 out=$scratch/out.$1 status
  shift
  if [[ $where == host ]]; then
    "$binary" "$@" >"$out" 2>&1
  else
    chroot "$scratch/empty" /dravik "$@" >"$out" 2>&1
  fi
  status=$?
  echo "exit $status"
  if [[ $* == *--json* ]]; then
    json_fields "$out"
  elif [[ $* == *--selftest* ]]; then
    grep -E '^  (result|detected)' "$out" | sed -E 's/(vaddr|paddr)=0x[0-9a-f]+/\1=.../g'
  else
    cat "$out"
  fi
}

if [[ $EUID -ne 0 ]]; then
  echo "skip: the empty-root run needs root"
else
  mkdir -p "$scratch/empty/proc" "$scratch/empty/sys" "$scratch/empty/dev"
  cp "$binary" "$scratch/empty/dravik"
  export -f run_dravik json_fields
  export scratch binary
  for args in "--version" "--selftest" "--quick --mem 64M --json"; do
    host=$(run_dravik host $args)
    # A private mount namespace: the bindings vanish with it.
    # shellcheck disable=SC2016
    inside=$(unshare --mount --propagation private bash -c '
      for dir in proc sys dev; do mount --rbind "/$dir" "$scratch/empty/$dir" || exit 99; done
      run_dravik empty "$@"' _ $args)
    if [[ $inside == "" ]]; then
      echo "skip: cannot bind /proc, /sys and /dev here (no mount namespace)"
      break
    elif [[ $inside == "$host" ]]; then
      pass "dravik $args in the empty root: $(head -1 <<<"$inside"), as on the host"
    else
      fail "dravik $args in the empty root differs from the host:"$'\n'"$(diff <(echo "$host") <(echo "$inside"))"
    fi
  done
fi

if ((failures)); then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all packaging checks passed"
