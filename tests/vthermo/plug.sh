#!/usr/bin/env bash
# Plugs a virtual thermometer into the Wine prefix by hand:
#   tests/vthermo/plug.sh [unit] <temperature>
# unit: first (default), second, other, long; temperature: raw kelvins
# (e.g. 290) or whole degrees Celsius with a C (e.g. 17C, -5C).
# The prefix's Wine session must be up (scripts/wine-session.sh start,
# which also installs the driver). Change it later with vthermoctl, e.g.
#   $WINE "$QUORVEL_BUILD/tests/vthermo/bin/vthermoctl.exe" set first 274
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine-env.sh"

unit=first
if [ $# -eq 2 ]; then
  unit=$1
  shift
fi
if [ $# -ne 1 ]; then
  echo "usage: $0 [first|second|other|long] <kelvins | degreesC>" >&2
  exit 2
fi
case "$1" in
  *[cC]) raw=$(( ${1%[cC]} + 273 )) ;;
  *) raw=$1 ;;
esac

ctl="$QUORVEL_BUILD/tests/vthermo/bin/vthermoctl.exe"
[ -f "$ctl" ] || { echo "plug.sh: $ctl is missing: build first" >&2; exit 1; }
if [ ! -f "$WINEPREFIX/drive_c/windows/inf/vthermo.inf" ]; then
  "$(dirname "${BASH_SOURCE[0]}")/install-into-prefix.sh"
fi
# Wine's output to a file: a wineserver started from here must not hold the
# caller's pipe open.
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! "$WINE" "$ctl" plug "$unit" "$raw" </dev/null >"$log" 2>&1; then
  cat "$log" >&2
  exit 1
fi
echo "plugged $unit at $raw K into $WINEPREFIX"
