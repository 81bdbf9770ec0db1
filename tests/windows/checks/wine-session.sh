# shellcheck shell=bash
# Sourced by the checks that run programs under Wine: the Wine settings,
# the skip when Wine cannot start here, and the programs a check leaves
# running in the background, stopped when it ends.
# From the test's environment: WINEPREFIX; FWUP_WINE, the Wine loader of the
# programs' width (default wine); FWUP_WINE_BITS, 32 or 64 (default 32).

# CTest reads this exit code as "skipped" (SKIP_RETURN_CODE).
readonly SKIPPED=77

wine=${FWUP_WINE:-wine}
wine_bits=${FWUP_WINE_BITS:-32}
export WINEDEBUG=-all
# No Mono or Gecko installer prompts; console programs need no display.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY

# 32-bit Windows programs need the 32-bit Wine loader, which a kernel without
# IA-32 support cannot start; 64-bit ones need only the 64-bit loader.
require_wine_runs() {
  if ! command -v "$wine" >/dev/null 2>&1; then
    echo "skipped: Wine is not installed (scripts/bootstrap windows installs it)"
    exit "$SKIPPED"
  fi
  if [ "$wine_bits" = 32 ]; then
    if ! "$(dirname "${BASH_SOURCE[0]}")/runs-32bit-programs.sh"; then
      echo "skipped: the kernel runs no 32-bit programs, so 32-bit Wine cannot start"
      exit "$SKIPPED"
    fi
    # Debian's Wine without its 32-bit half (wine32:i386) falls back to the
    # 64-bit loader, which cannot run a 32-bit program.
    if [ -x /usr/lib/wine/wine64 ] && [ ! -x /usr/lib/wine/wine ]; then
      echo "skipped: 32-bit Wine (wine32:i386) is not installed (scripts/bootstrap windows installs it)"
      exit "$SKIPPED"
    fi
  fi
  if ! "$wine" --version >/dev/null 2>&1; then
    echo "skipped: Wine ($wine) cannot start here"
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
