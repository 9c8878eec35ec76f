#!/usr/bin/env bash
# Starts or stops the Wine session the tests run in:
#   wine-session.sh start   make the prefix if needed, install the virtual
#                           thermometer, start a persistent wineserver
#   wine-session.sh stop    end the session
# Needs an X display (run inside xvfb-run). Wine's own output goes to
# /dev/null: its services would otherwise hold the caller's output open.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"

make_prefix() {
  mkdir -p "$WINEPREFIX"
  "$WINE" wineboot -i >/dev/null 2>&1 </dev/null
  # Without a window manager Wine stalls ~2 s on hiding managed windows.
  "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
  # A crash ends the program at once instead of waiting on a dialog.
  "$WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
  # The session that made the prefix runs a second services.exe: end it
  # before any driver is installed.
  "$WINESERVER" -k >/dev/null 2>&1 || true
  "$WINESERVER" -w >/dev/null 2>&1 || true
  touch "$WINEPREFIX/.quorvel-ready"
}

case "${1:-}" in
  start)
    [ -f "$WINEPREFIX/.quorvel-ready" ] || make_prefix
    "$WINESERVER" -p >/dev/null 2>&1 </dev/null
    "$WINE" wineboot >/dev/null 2>&1 </dev/null
    # The virtual thermometer, once its tools are built.
    # Its messages go to a file, not to the caller's pipe, and are shown if
    # it fails.
    if [ -x "$QUORVEL_ROOT/tests/vthermo/install-into-prefix.sh" ]; then
      if ! "$QUORVEL_ROOT/tests/vthermo/install-into-prefix.sh" >/dev/null 2>"$WINEPREFIX/vthermo-install.log" </dev/null; then
        cat "$WINEPREFIX/vthermo-install.log" >&2
        exit 1
      fi
    fi
    ;;
  stop)
    "$WINESERVER" -k >/dev/null 2>&1 || true
    "$WINESERVER" -w >/dev/null 2>&1 || true
    ;;
  *)
    echo "usage: $0 start|stop" >&2
    exit 2
    ;;
esac
