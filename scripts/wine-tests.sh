#!/usr/bin/env bash
# Runs the windows-x64 tests in a Wine session; call inside an X display.
# QUORVEL_BUILD names another build folder of the windows-x64 preset.
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source scripts/wine-env.sh

scripts/wine-session.sh start || { echo "could not start the Wine session"; exit 1; }
ctest --test-dir "$QUORVEL_BUILD" --output-on-failure --no-tests=error --timeout 600 "$@"
status=$?
scripts/wine-session.sh stop
exit "$status"
