#!/usr/bin/env bash
# Runs the windows-x64 tests in a Wine session; call inside an X display.
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/wine-env.sh

scripts/wine-session.sh start || { echo "could not start the Wine session"; exit 1; }
ctest --preset windows-x64 "$@"
status=$?
scripts/wine-session.sh stop
exit "$status"
