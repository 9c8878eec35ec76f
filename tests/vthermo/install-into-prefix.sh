#!/usr/bin/env bash
# Installs the virtual thermometer into the current Wine prefix: the driver
# into the drivers folder, its INF into the INF folder, then checks that a
# unit plugs and unplugs. Leaves no unit plugged; safe to run again.
# Run with the prefix's Wine session up (scripts/wine-session.sh start does).
# QUORVEL_BUILD and WINE choose the build (e.g. the i686 one, with the 32-bit
# loader); QUORVEL_VTHERMO_CHECK=0 only puts the files in place, for runs
# where a process start is slow (32-bit Wine under an emulator) and the tests
# themselves find out at their first plug whether the driver works.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine-env.sh"

bin="$QUORVEL_BUILD/tests/vthermo/bin"
windows="$WINEPREFIX/drive_c/windows"

fail() {
  echo "install-into-prefix: $*" >&2
  exit 1
}

for file in vthermo.sys vthermo.inf vthermoctl.exe; do
  [ -f "$bin/$file" ] || fail "$bin/$file is missing: build the vthermoctl target first"
done
[ -d "$windows/system32" ] || fail "no Wine prefix at $WINEPREFIX"
mkdir -p "$windows/system32/drivers" "$windows/inf"

# A driver already loaded maps its file: replace it by a rename, never by
# rewriting it in place.
place() {
  if ! cmp -s "$1" "$2"; then
    cp "$1" "$2.new"
    mv -f "$2.new" "$2"
  fi
}
place "$bin/vthermo.sys" "$windows/system32/drivers/vthermo.sys"
place "$bin/vthermo.inf" "$windows/inf/vthermo.inf"

[ "${QUORVEL_VTHERMO_CHECK:-1}" != 0 ] || exit 0
"$WINE" "$bin/vthermoctl.exe" install </dev/null >/dev/null ||
  fail "the virtual thermometer does not work in $WINEPREFIX"
