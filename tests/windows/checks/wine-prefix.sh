#!/usr/bin/env bash
# Prepares the Wine prefix the other checks under Wine share.
set -uo pipefail
WINEPREFIX=${WINEPREFIX:?}
# shellcheck source=wine-session.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine-session.sh"

require_wine_runs
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  "$wine" wineboot -i && wineserver -w
fi
require_wine
echo "the Wine prefix $WINEPREFIX is ready"
