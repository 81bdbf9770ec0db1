#!/usr/bin/env bash
# Upgrades the virtual card (cardsim, on this machine) through the plug-in's
# message 1025 under Wine, on a COM port that follows the card across its
# re-enumerations: a run that fails after the card was wiped, then the retry
# that must give the card back its own data.
#   upgrade-under-wine.sh <program folder> <helpers folder> <work folder> <COM number>
# FWUP_WINDOWS_CLOCK_SCALE (10): the card's and the module's pauses run that
# many times faster.
set -uo pipefail
program_dir=$1 helpers=$2 work=$3 com=$4
scale=${FWUP_WINDOWS_CLOCK_SCALE:-10}
WINEPREFIX=${WINEPREFIX:?}
# shellcheck source=wine-session.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine-session.sh"
require_wine

cardsim=$helpers/sim/cardsim
com_link=$WINEPREFIX/dosdevices/com$com
package_windows="Z:$(printf '%s' "$work/package" | tr / '\\')"
leave=$((100 / scale)); [ "$leave" -lt 1 ] && leave=1
reenum=$((1500 / scale)); [ "$reenum" -lt 1 ] && reenum=1
failed=0
fail() { failed=1; echo "FAIL: $*"; }
pass() { echo "PASS: $*"; }

# Starts the card on the COM link: its state file, then cardsim options.
start_card() {
  local state=$1
  shift
  rm -f "$com_link"
  "$cardsim" --link "$work/card" --wine-dosdevice "$com_link" --state-out "$state" \
    --leave-delay "$leave" --reenum-delay "$reenum" "$@" >>"$work/cardsim.log" 2>&1 &
  card_pid=$!
  background+=("$card_pid")
  wait_for_link "$com_link"
}
# Stops the card; it writes its state file as it goes.
stop_card() {
  kill -TERM "$card_pid" 2>/dev/null
  wait "$card_pid" 2>/dev/null
  background=()
}
# One run through message 1025 that must answer the given result.
upgrade_card() {
  local expected=$1 name=$2 started output=$work/run-$2.txt
  started=$(date +%s)
  (cd "$work" && FWUPGRADE_CLOCK_SCALE=$scale FWUP_WINTEST_CARD_COM=$com \
    FWUP_WINTEST_PACKAGE="$package_windows" FWUP_WINTEST_EXPECTED_RESULT=$expected timeout 900 \
    "$wine" "$program_dir/fw_windows_tests.exe" Plugin_UpgradesTheVirtualCard) >"$output"
  echo "   the $name run under Wine took $(($(date +%s) - started)) s (clock scale $scale)"
  if grep -q '^\[  OK  \] Plugin_UpgradesTheVirtualCardThroughMessage1025' "$output"; then
    check_run "$output" "the $name run through message 1025 (answers $expected)" || failed=1
  else
    cat "$output"
    fail "the $name run through message 1025 did not answer $expected"
  fi
}

rm -rf "$work"
mkdir -p "$work"
if ! "$cardsim" make-package --out "$work/package" --seed 11 >"$work/make-package.log" 2>&1; then
  fail "cardsim make-package (see $work/make-package.log)"
  exit 1
fi
if ! start_card "$work/card-failed.json" --fault answer_once_after_reset; then
  fail "cardsim did not link com$com (see $work/cardsim.log)"
  exit 1
fi
# The card falls silent after the reset into its new firmware: wiped, nothing restored.
upgrade_card -13314 failed
stop_card
# Plugged in again, it holds what the failed run left; the user runs the upgrade once more.
if ! start_card "$work/card-state.json" --profile "$work/card-failed.json"; then
  fail "cardsim did not link com$com again (see $work/cardsim.log)"
  exit 1
fi
upgrade_card 0 retry
if grep -q 'that an earlier run left pending' "$work/upgrade-traces.txt"; then
  pass "the retry restores from the backup the failed run left pending"
else
  fail "the retry did not name the pending backup (see $work/upgrade-traces.txt)"
fi
stop_card
if "$helpers/tests/windows/native/flash_check" "$work/card-state.json" "$work/package" 1; then
  pass "the card's flash holds the package byte for byte"
else
  fail "the card's flash does not hold the package"
fi
if "$helpers/tests/windows/native/data_check" "$work/card-state.json"; then
  pass "the card holds its NV items, Wi-Fi address and lock files from before the failed run"
else
  fail "the card did not get its own data back"
fi
exit "$failed"
