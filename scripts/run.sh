#!/usr/bin/env bash
# The run command. On a fresh Debian 12 machine (as root or with sudo):
#
#   bash scripts/run.sh [template words...]
#
# installs what is needed (scripts/setup.sh), builds the 64-bit program and
# the 32-bit release build, starts a Wine session with the virtual thermometer
# installed, plugs a thermometer in at 294 K (21 degrees C), and runs
# quorvel.exe under Wine in the current directory, so "temperature.txt",
# "celsius.txt", "fahrenheit.txt" and "ui-view.txt" appear there.
#
# With $DISPLAY set, the program runs on your display until you close it from
# its tray icon's menu ("Close"). Without a display it runs in Xvfb: once the
# first reading is in the files it takes a screenshot (the path is printed),
# then closes the program cleanly and shows the emptied files.
#
# Any words after the command form the template for "temperature.txt", joined
# by single blanks: \n and \r in it become line breaks, %d takes Celsius then
# Fahrenheit. Example:  bash scripts/run.sh Now %dC or %dF
#
# QUORVEL_RAW sets the thermometer's value in kelvins (default 294).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

if [ -z "${QUORVEL_RUN_INNER:-}" ]; then
  bash "$root/scripts/setup.sh"
  jobs=$(nproc)
  echo "run: building the 64-bit program (build/windows-x64) and the 32-bit release (build/windows-x86)"
  (cd "$root" && cmake --preset windows-x64 >/dev/null &&
    cmake --build --preset windows-x64 -j "$jobs" --target quorvel vthermoctl >/dev/null)
  (cd "$root" && cmake --preset windows-x86 >/dev/null &&
    cmake --build --preset windows-x86 -j "$jobs" --target quorvel >/dev/null)
  export QUORVEL_RUN_INNER=1
  if [ -z "${DISPLAY:-}" ]; then
    export QUORVEL_RUN_HEADLESS=1
    exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
  fi
  exec bash "$0" "$@"
fi

QUORVEL_BUILD=$root/build/windows-x64
source "$root/scripts/wine-env.sh"
ctl() { "$WINE" "$QUORVEL_BUILD/tests/vthermo/bin/vthermoctl.exe" "$@" </dev/null >/dev/null 2>&1; }

echo "run: starting the Wine session (prefix $WINEPREFIX)"
"$root/scripts/wine-session.sh" start
cleanup() {
  ctl unplug all || true
  "$root/scripts/wine-session.sh" stop
}
trap cleanup EXIT

raw=${QUORVEL_RAW:-294}
ctl plug first "$raw" || { echo "run: could not plug in the virtual thermometer"; exit 1; }
echo "run: virtual thermometer plugged in at $raw K"
echo "run: quorvel.exe in $PWD${*:+ with the template: $*}"

if [ -z "${QUORVEL_RUN_HEADLESS:-}" ]; then
  echo "run: close it from its tray icon's menu"
  status=0
  "$WINE" "$QUORVEL_BUILD/quorvel.exe" "$@" </dev/null || status=$?
  echo "run: quorvel.exe exited with code $status"
  exit "$status"
fi

"$WINE" "$QUORVEL_BUILD/quorvel.exe" "$@" </dev/null >/dev/null 2>&1 &
program=$!
# The window shows the reading for 3 s before hiding itself: take the picture
# as soon as the files say a reading is there.
for _ in $(seq 100); do
  [ -s celsius.txt ] && break
  kill -0 "$program" 2>/dev/null || break
  sleep 0.1
done
[ -s celsius.txt ] || echo "run: no reading arrived within 10 s"
sleep 0.5
shot=$PWD/quorvel-screenshot.png
import -window root "$shot"
echo "run: screenshot of the screen: $shot"
for f in temperature.txt celsius.txt fahrenheit.txt ui-view.txt; do
  [ -f "$f" ] && python3 -c 'import sys; print("run: %-16s %r" % (sys.argv[1], open(sys.argv[1], "rb").read()))' "$f"
done

# A clean close: the window gets WM_CLOSE, as from the tray menu's "Close".
"$WINE" taskkill /im quorvel.exe </dev/null >/dev/null 2>&1 || true
status=0
wait "$program" || status=$?
echo "run: quorvel.exe closed with exit code $status; the four files are now emptied:"
ls -l temperature.txt celsius.txt fahrenheit.txt ui-view.txt
