#!/usr/bin/env bash
# Records "fwupgrade demo" in a terminal (tmux) and checks what a user sees:
# a progress bar redrawn in place that only moves forward, up to 100%, and
# the verification verdict at the end.
#   record-progress.sh FWUPGRADE [OUTPUT]
# OUTPUT (optional) receives the distinct screens of the recording.
# FWUPGRADE_RECORD_SCALE (default 10) is the demo's clock scale; 1 records
# a run in real time, as docs/progress-recording.txt shows it.
set -euo pipefail

fwupgrade="${1:?path of the fwupgrade program}"
output="${2:-}"
command -v tmux >/dev/null || { echo "tmux is not installed" >&2; exit 77; }

work="$(mktemp -d "${TMPDIR:-/tmp}/fwupgrade-rec-XXXXXX")"
socket="fwupgrade-rec-$$"
cleanup() {
  tmux -L "$socket" kill-server 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

export FWUPGRADE_REGISTRY_ROOT="$work/registry"
export XDG_STATE_HOME="$work/state"
# A clock 10 times faster: slow enough for the bar to be seen moving.
scale="${FWUPGRADE_RECORD_SCALE:-10}"
tmux -L "$socket" -f /dev/null new-session -d -s rec -x 100 -y 12 \
  "TERM=xterm '$fwupgrade' demo --clock-scale $scale --folder '$work/demo'; echo \"demo-exit=\$?\"; sleep 30"

frames=()
last=""
deadline=$((SECONDS + 240))
while ((SECONDS < deadline)); do
  screen="$(tmux -L "$socket" capture-pane -p -t rec)"
  if [[ "$screen" != "$last" ]]; then
    frames+=("$screen")
    last="$screen"
  fi
  [[ "$screen" == *"demo-exit="* ]] && break
  sleep 0.05
done

# The percentage the bar shows in each screen, in order.
percents=()
for screen in "${frames[@]}"; do
  if [[ "$screen" =~ \]\ +([0-9]+)% ]]; then percents+=("${BASH_REMATCH[1]}"); fi
done

status=0
if [[ "$last" != *"demo-exit=0"* ]]; then
  echo "the demo did not end successfully" >&2
  status=1
fi
if [[ "$last" != *"Verification: PASSED"* ]]; then
  echo "no verification verdict on the screen" >&2
  status=1
fi
if ((${#percents[@]} < 3)); then
  echo "the bar was seen only ${#percents[@]} time(s)" >&2
  status=1
fi
previous=-1
for p in "${percents[@]}"; do
  if ((p < previous)); then
    echo "the bar went back from $previous% to $p%" >&2
    status=1
  fi
  previous=$p
done
if ((previous != 100)); then
  echo "the bar ended at $previous%, not 100%" >&2
  status=1
fi
# The bar is redrawn in place: never two bar lines on one screen.
for screen in "${frames[@]}"; do
  if (($(grep -c '\] *[0-9]*%' <<<"$screen") > 1)); then
    echo "a screen shows more than one bar line" >&2
    status=1
    break
  fi
done

if [[ -n "$output" ]]; then
  {
    echo "fwupgrade demo --clock-scale $scale in a 100x12 terminal (tmux), every distinct screen in order."
    echo "Bar values seen: ${percents[*]}"
    n=0
    for screen in "${frames[@]}"; do
      n=$((n + 1))
      echo
      echo "---- screen $n ----"
      # The demo's temporary folder differs from run to run.
      sed "s#$work#<work>#g" <<<"$screen"
    done
  } >"$output"
fi
echo "bar values: ${percents[*]}"
exit $status
