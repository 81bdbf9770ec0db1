#!/usr/bin/env bash
# Installs a build where a user would get it and uses it from there:
#  - cmake --install into a temporary prefix: the program, the plug-in, the
#    module manager and the programmer file in lib/fwupgrade/, a link to the
#    program in bin/, cardsim in bin/; the installed demo passes without the
#    build tree, and its help, man page and completion name the same options;
#  - the Debian packages: what each holds, stripped, with worked-out
#    dependencies; installed into an empty root with dpkg, whose demo, run
#    as root, writes nothing into that root; removed again, they leave
#    nothing; lintian, when the machine has it, finds no error.
#   install-check.sh BUILD_DIR
set -euo pipefail

build="${1:?build folder}"
work="$(mktemp -d "${TMPDIR:-/tmp}/fwupgrade-install-XXXXXX")"
lintian_pid=""
trap '[[ -z "$lintian_pid" ]] || kill "$lintian_pid" 2>/dev/null || true; rm -rf "$work"' EXIT

fail() { echo "install check: $*" >&2; exit 1; }

# Only the given home: the program must find everything from where it lies.
isolated() {
    local home="$1"
    shift
    mkdir -p "$home/cwd"
    (cd "$home/cwd" && env -u FWUPGRADE_PLUGIN -u FWUPGRADE_MANAGER -u FWUPGRADE_CARDSIM \
        -u FWUPGRADE_REGISTRY_ROOT -u XDG_STATE_HOME -u XDG_DATA_HOME -u XDG_CONFIG_HOME HOME="$home" "$@")
}

demo_passes() {
    local home="$1" program="$2" out
    out="$(isolated "$home" "$program" demo --clock-scale 100 --folder "$home/demo")" || true
    grep -q "Verification: PASSED" <<<"$out" || { echo "$out" >&2; fail "the demo of $program failed"; }
}

# The installed tree, by prefix.
prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
for file in lib/fwupgrade/fwupgrade lib/fwupgrade/libFWUpgradeDataCDMAW326.so lib/fwupgrade/libfw_hostmanager.so \
            lib/fwupgrade/armprgVEKMSM7627.bin bin/cardsim lib/udev/rules.d/70-fwupgrade.rules \
            share/man/man1/fwupgrade.1.gz share/man/man1/cardsim.1.gz share/bash-completion/completions/fwupgrade \
            share/doc/fwupgrade/copyright; do
    [[ -f "$prefix/$file" ]] || fail "not installed: $file"
done
[[ "$(readlink "$prefix/bin/fwupgrade")" == ../lib/fwupgrade/fwupgrade ]] || fail "bin/fwupgrade is not a link to lib/fwupgrade/fwupgrade"
# The rule gives access to the card in every mode, to the seat's user and to
# group fwupgrade, and hides the card from ModemManager only outside its
# firmware.
rule="$(grep -v '^#' "$prefix/lib/udev/rules.d/70-fwupgrade.rules")"
grep -q 'SUBSYSTEM=="tty", ATTRS{idVendor}=="2e1a", GROUP="fwupgrade", MODE="0660", TAG+="uaccess"' <<<"$rule" ||
    fail "the udev rule: $rule"
access="$(grep 'TAG+="uaccess"' <<<"$rule")"
! grep -q 'idProduct' <<<"$access" || fail "the access rule misses modes: $access"
ignored="$(grep 'ID_MM_DEVICE_IGNORE' <<<"$rule")"
[[ "$(grep -c 'idProduct}=="0082|0083", ENV{ID_MM_DEVICE_IGNORE}="1"' <<<"$ignored")" -eq 2 ]] &&
    ! grep -q '0081' <<<"$ignored" || fail "ModemManager is not told to ignore exactly the boot downloader and programmer: $ignored"

demo_passes "$work/home" "$prefix/bin/fwupgrade"
manager_path="$(find "$work/home/.config" -path '*256/1/Path' -print -quit)"
[[ -n "$manager_path" ]] || fail "the module manager was not registered"
tr -d '\0' <"$manager_path" | grep -q "^$prefix/lib/fwupgrade/" || fail "the register names another manager"

# Every command and option the help shows is in the man page and completes.
man_text="$(gzip -dc "$prefix/share/man/man1/fwupgrade.1.gz" | sed 's/\\-/-/g')"
# shellcheck source=/dev/null
source "$prefix/share/bash-completion/completions/fwupgrade"
completes() {
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    _fwupgrade || true
    printf '%s\n' "${COMPREPLY[@]}"
}
commands="$("$prefix/bin/fwupgrade" --help | sed -n '/^Subcommands:/,/^$/p' | awk 'NR > 1 && $1 ~ /^[a-z][a-z-]*$/ { print $1 }')"
[[ -n "$commands" ]] || fail "no commands in fwupgrade --help"
# The program's own options ("" below), then each command's.
for command in "" $commands; do
    if [[ -n "$command" ]]; then
        grep -qxF "$command" <(completes fwupgrade "") || fail "the completion lacks the command $command"
        grep -qE "^\.B[IR]? \"?$command\b" <<<"$man_text" || fail "the man page lacks the command $command"
    fi
    for option in $("$prefix/bin/fwupgrade" ${command:+"$command"} --help | grep -oE '^ +(-[a-zA-Z],)?--[a-z-]+' | sed 's/.*--/--/'); do
        [[ -n "$command" && "$option" == --help-all ]] && continue
        grep -qxF -- "$option" <(completes fwupgrade ${command:+"$command"} --) || fail "the completion lacks $command $option"
        grep -qF -- "$option" <<<"$man_text" || fail "the man page lacks $command $option"
    done
done
# Card devices and USB ports complete from /dev and /sys.
mkdir -p "$work/dev/serial/by-id" "$work/sys/bus/usb/devices/1-1.2" "$work/sys/bus/usb/devices/usb1"
touch "$work/dev/ttyUSB0" "$work/dev/ttyACM1" "$work/dev/ttyS0" "$work/dev/serial/by-id/usb-vek_W326-if00"
devices="$(FWUPGRADE_DEV_ROOT="$work/dev" completes fwupgrade upgrade --device "" | sort | tr '\n' ' ')"
[[ "$devices" == "$work/dev/serial/by-id/usb-vek_W326-if00 $work/dev/ttyACM1 $work/dev/ttyUSB0 " ]] ||
    fail "--device completes to: $devices"
ports="$(FWUPGRADE_SYSFS_ROOT="$work/sys" completes fwupgrade rescue --usb-port "" | tr '\n' ' ')"
[[ "$ports" == "1-1.2 " ]] || fail "--usb-port completes to: $ports"

if ! command -v cpack >/dev/null || ! command -v dpkg-deb >/dev/null; then
    echo "install: ok; packages: skipped (no cpack or dpkg-deb)"
    exit 0
fi

# The packages.
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/deb" >/dev/null
main_deb="$(ls "$work"/deb/fwupgrade_*.deb)"
sim_deb="$(ls "$work"/deb/fwupgrade-cardsim_*.deb)"
main_contents="$(dpkg-deb -c "$main_deb")"
for file in usr/lib/fwupgrade/fwupgrade usr/lib/fwupgrade/libFWUpgradeDataCDMAW326.so \
            usr/lib/fwupgrade/libfw_hostmanager.so usr/lib/fwupgrade/armprgVEKMSM7627.bin \
            usr/lib/udev/rules.d/70-fwupgrade.rules usr/share/man/man1/fwupgrade.1.gz \
            usr/share/bash-completion/completions/fwupgrade usr/share/doc/fwupgrade/copyright \
            usr/share/doc/fwupgrade/changelog.gz; do
    grep -q " \./$file\$" <<<"$main_contents" || fail "the fwupgrade package lacks $file"
done
grep -q " \./usr/bin/fwupgrade -> \.\./lib/fwupgrade/fwupgrade\$" <<<"$main_contents" ||
    fail "the fwupgrade package lacks the link usr/bin/fwupgrade"
! grep -q "cardsim\$" <<<"$main_contents" || fail "the fwupgrade package holds cardsim"
sim_contents="$(dpkg-deb -c "$sim_deb")"
for file in usr/bin/cardsim usr/share/man/man1/cardsim.1.gz usr/share/doc/fwupgrade-cardsim/copyright; do
    grep -q " \./$file\$" <<<"$sim_contents" || fail "the fwupgrade-cardsim package lacks $file"
done
dpkg-deb -f "$main_deb" Depends | grep -q "libc6 (>=" || fail "the fwupgrade package's dependencies were not worked out"
dpkg-deb -f "$main_deb" Suggests | grep -q "fwupgrade-cardsim" || fail "the fwupgrade package does not suggest cardsim"
# lintian takes a while; it runs beside the demo below.
if command -v lintian >/dev/null; then
    lintian --fail-on error,warning "$main_deb" "$sim_deb" >"$work/lintian.log" 2>&1 &
    lintian_pid=$!
fi

# Installed by dpkg into an empty root, and run from there as this user (root in CI).
root="$work/root"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
# The root has no shell: the maintainer scripts run outside it, with DPKG_ROOT set.
dpkg_root() {
    dpkg --root="$root" --force-not-root --force-depends --force-script-chrootless --log=/dev/null "$@" >/dev/null
}
dpkg_root -i "$main_deb" "$sim_deb" 2>"$work/dpkg.log" || { cat "$work/dpkg.log" >&2; fail "dpkg could not install the packages"; }
for binary in usr/lib/fwupgrade/fwupgrade usr/lib/fwupgrade/libFWUpgradeDataCDMAW326.so \
              usr/lib/fwupgrade/libfw_hostmanager.so usr/bin/cardsim; do
    ! readelf -S "$root/$binary" | grep -qE '\.symtab|\.debug_' || fail "$binary is not stripped"
done
snapshot() { (cd "$root" && find . -path ./var/lib/dpkg -prune -o -printf '%p %y %s %m %T@\n' | sort); }
before="$(snapshot)"
demo_passes "$work/home-deb" "$root/usr/bin/fwupgrade"
changed="$(diff <(echo "$before") <(snapshot))" || fail "the installed demo wrote into the root: $changed"
dpkg_root -r fwupgrade fwupgrade-cardsim
left="$(cd "$root" && find . -path ./var -prune -o ! -type d -print)"
[[ -z "$left" ]] || fail "removing the packages left: $left"

if [[ -n "$lintian_pid" ]]; then
    status=0
    wait "$lintian_pid" || status=$?
    lintian_pid=""
    [[ "$status" -eq 0 ]] || { cat "$work/lintian.log" >&2; fail "lintian found errors or warnings"; }
fi
echo "install and packages: ok"
