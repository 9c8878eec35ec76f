#!/usr/bin/env bash
# Runs the 32-bit smoke suite (ctest label smoke32) of the windows-x86 build
# under 32-bit Wine, in a 32-bit prefix inside that build folder; call inside
# an X display, with 32-bit code runnable (scripts/setup-win32.sh register).
# QUORVEL_BUILD names another build folder of the windows-x86 preset.
#
# Under an emulator every Wine process start takes about a minute and every
# boot of a session several, so this does with one session and as few
# processes as it can: the first program of the session makes the prefix if
# needed (Wine runs its wineboot and waits for it) and sets two values, and
# the driver's files are put in place without a check of their own (the
# suite's first plug shows whether the driver works).
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
export QUORVEL_BUILD=${QUORVEL_BUILD:-$PWD/build/windows-x86}
export WINE=${WINE32:-/usr/lib/wine/wine}
export WINEARCH=win32
export QUORVEL_VTHERMO_CHECK=0
# No menu entries for the desktop at every boot (a minute of emulated work).
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}
source scripts/wine-env.sh

# A prefix made by 64-bit Wine cannot take 32-bit Wine: make it anew.
if [ -f "$WINEPREFIX/system.reg" ] && ! grep -q '^#arch=win32' "$WINEPREFIX/system.reg"; then
  echo "$WINEPREFIX is not a 32-bit prefix: making it anew"
  rm -rf "$WINEPREFIX"
fi
mkdir -p "$WINEPREFIX"

stop_session() {
  "$WINESERVER" -k >/dev/null 2>&1 || true
  "$WINESERVER" -w >/dev/null 2>&1 || true
}

began=$SECONDS
# Without a window manager Wine stalls ~2 s on hiding managed windows; a
# crash ends the program at once instead of waiting on a dialog.
settings="$QUORVEL_BUILD/wine32-settings.reg"
printf '%s\r\n' 'REGEDIT4' '' \
  '[HKEY_CURRENT_USER\Software\Wine\X11 Driver]' '"Managed"="N"' '' \
  '[HKEY_CURRENT_USER\Software\Wine\WineDbg]' '"ShowCrashDialog"=dword:00000000' >"$settings"
# Wine's output to /dev/null: its services would otherwise hold the caller's
# output open.
boot() {
  "$WINESERVER" -p >/dev/null 2>&1 </dev/null
  "$WINE" reg import "Z:${settings//\//\\}" >/dev/null 2>&1 </dev/null || return 1
  # The first program waits for Wine's boot only so long: let it finish
  # before a driver is installed.
  local pid waited=0
  while [ "$waited" -lt 900 ]; do
    pid=$(pgrep -f 'wineboot\.exe' | head -n 1)
    [ -n "$pid" ] || return 0
    sleep 2
    waited=$((waited + 2))
  done
}
if [ ! -f "$WINEPREFIX/.quorvel-ready" ]; then
  # The session that made the prefix cannot install a driver: end it.
  boot || { echo "32-bit Wine does not start in $WINEPREFIX"; stop_session; exit 1; }
  stop_session
  touch "$WINEPREFIX/.quorvel-ready"
  echo "32-bit prefix made in $((SECONDS - began)) s"
fi
if ! boot; then
  echo "32-bit Wine does not start in $WINEPREFIX"
  stop_session
  exit 1
fi
echo "32-bit Wine session up in $((SECONDS - began)) s ($WINEPREFIX)"

if ! tests/vthermo/install-into-prefix.sh >/dev/null </dev/null; then
  stop_session
  exit 1
fi
ctest --test-dir "$QUORVEL_BUILD" -L '^smoke32$' --output-on-failure --no-tests=error --timeout 1800 "$@"
status=$?
stop_session
exit "$status"
