#!/usr/bin/env bash
# Installs a build into a temporary prefix and uses it from there: the
# plug-in and the module manager in lib/, fwupgrade and cardsim in bin/, and
# the installed fwupgrade finds them without the build tree. Then builds the
# Debian package and checks what it holds.
#   install-check.sh BUILD_DIR
set -euo pipefail

build="${1:?build folder}"
work="$(mktemp -d "${TMPDIR:-/tmp}/fwupgrade-install-XXXXXX")"
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
for file in bin/fwupgrade bin/cardsim lib/libFWUpgradeDataCDMAW326.so lib/libfw_hostmanager.so; do
  [[ -f "$work/prefix/$file" ]] || { echo "not installed: $file" >&2; exit 1; }
done

# The installed program, with no hint of the build tree.
export FWUPGRADE_REGISTRY_ROOT="$work/registry"
export XDG_STATE_HOME="$work/state"
unset FWUPGRADE_PLUGIN FWUPGRADE_MANAGER FWUPGRADE_CARDSIM
out="$(cd "$work" && "$work/prefix/bin/fwupgrade" demo --clock-scale 20 --folder "$work/demo")"
grep -q "Verification: PASSED" <<<"$out" || { echo "$out" >&2; echo "the installed demo failed" >&2; exit 1; }
# The register names the installed manager.
manager_path="$(find "$work/registry" -path '*256/1/Path' -print -quit)"
[[ -n "$manager_path" ]] || { echo "the module manager was not registered" >&2; exit 1; }
tr -d '\0' <"$manager_path" | grep -q "$work/prefix/" || { echo "the register names another manager" >&2; exit 1; }

if command -v cpack >/dev/null && command -v dpkg-deb >/dev/null; then
  cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/deb" >/dev/null
  deb="$(ls "$work"/deb/*.deb)"
  contents="$(dpkg-deb -c "$deb")"
  for file in usr/bin/fwupgrade usr/bin/cardsim usr/lib/libFWUpgradeDataCDMAW326.so usr/lib/libfw_hostmanager.so; do
    grep -q "\./$file\$" <<<"$contents" || { echo "the package lacks $file" >&2; exit 1; }
  done
fi
echo "install and package: ok"
