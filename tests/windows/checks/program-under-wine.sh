#!/usr/bin/env bash
# Runs the Windows test program under Wine, its serial tests on a
# pseudo-terminal loopback linked as a COM port.
#   program-under-wine.sh <program folder> <pty_echo> <loopback COM number>
set -uo pipefail
program_dir=$1 pty_echo=$2 com=$3
WINEPREFIX=${WINEPREFIX:?}
# shellcheck source=wine-session.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine-session.sh"
require_wine

link=$WINEPREFIX/dosdevices/com$com
output=$(mktemp)
"$pty_echo" "$link" 900 &
background+=($!)
loopback=1
wait_for_link "$link" || loopback=0
if [ "$loopback" -eq 1 ]; then
  (cd "$program_dir" && FWUP_WINTEST_LOOPBACK_COM=$com timeout 900 "$wine" ./fw_windows_tests.exe) >"$output"
else
  echo "FAIL: no serial loopback on com$com for the serial tests"
  (cd "$program_dir" && timeout 900 "$wine" ./fw_windows_tests.exe) >"$output"
fi
check_run "$output" "fw_windows_tests.exe"
result=$?
rm -f "$output"
[ "$result" -eq 0 ] && [ "$loopback" -eq 1 ]
