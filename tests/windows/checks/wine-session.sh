# shellcheck shell=bash
# Sourced by the checks that run programs under Wine: the Wine settings,
# the skip when Wine cannot start here, and the programs a check leaves
# running in the background, stopped when it ends.
# WINEPREFIX comes from the test's environment.

# CTest reads this exit code as "skipped" (SKIP_RETURN_CODE).
readonly SKIPPED=77

export WINEDEBUG=-all
# No Mono or Gecko installer prompts; console programs need no display.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY

# Wine runs 32-bit Windows programs through a 32-bit loader; a kernel
# without IA-32 support cannot start it.
require_wine_runs() {
  if ! command -v wine >/dev/null 2>&1; then
    echo "skipped: Wine is not installed (scripts/bootstrap windows installs it)"
    exit "$SKIPPED"
  fi
  if ! wine --version >/dev/null 2>&1; then
    echo "skipped: Wine cannot start here (this machine's kernel does not run 32-bit programs)"
    exit "$SKIPPED"
  fi
}

# Wine runs, and the prefix windows_wine_prefix prepares is there.
require_wine() {
  require_wine_runs
  if [ ! -f "$WINEPREFIX/system.reg" ] || [ ! -d "$WINEPREFIX/dosdevices" ]; then
    echo "the Wine prefix $WINEPREFIX is not ready (the test windows_wine_prefix prepares it)"
    exit 1
  fi
}

background=()
stop_background() {
  local pid
  for pid in "${background[@]}"; do
    kill -TERM "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  done
  background=()
}
stop_wine() {
  stop_background
  if command -v wineserver >/dev/null 2>&1; then
    wineserver -k >/dev/null 2>&1
  fi
}
trap 'stop_wine' EXIT

wait_for_link() {
  for _ in $(seq 1 100); do
    [ -L "$1" ] && return 0
    sleep 0.1
  done
  return 1
}

# Passes when the output of a run of the Windows test program ends with its
# closing line "N passed, 0 failed"; prints the failed and skipped cases.
check_run() {
  local output=$1 what=$2 line
  line=$(grep -E '^[0-9]+ passed, [0-9]+ failed' "$output" | tail -n 1)
  if [ -z "$line" ]; then
    tail -n 30 "$output"
    echo "FAIL: $what: the test program ended without its closing line"
    return 1
  fi
  grep -E '^\[ (FAIL|SKIP) \]|^  ' "$output"
  echo "$what: $line"
  [[ "$line" =~ ^[0-9]+\ passed,\ 0\ failed ]]
}
