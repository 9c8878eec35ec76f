#!/usr/bin/env bash
# Benchmark of quorvel.exe under Wine (a measurement, not a test). From several
# program starts with the virtual thermometer plugged in, prints:
#   start -> window shown and -> first reading shown,
#   a value change at the device -> all four files rewritten,
#   the CPU time used over 60 s idle with the thermometer present,
#   the close time with the reader running and the CPU burnt meanwhile,
#   the sizes of the 64-bit and 32-bit quorvel.exe.
# Usage: bash scripts/bench.sh [runs]
#   QUORVEL_BUILD      a windows-x64 build folder (default build/windows-x64)
#   QUORVEL_BUILD_X86  a windows-x86 build folder (default build/windows-x86)
#   QUORVEL_BENCH_IDLE seconds of the idle measurement (default 60)
# Runs in an Xvfb of its own, so it never shows windows on your display.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

if [ -z "${QUORVEL_BENCH_INNER:-}" ]; then
  build=${QUORVEL_BUILD:-$PWD/build/windows-x64}
  build_x86=${QUORVEL_BUILD_X86:-$PWD/build/windows-x86}
  [ -f "$build/CMakeCache.txt" ] || cmake --preset windows-x64 -B "$build" >/dev/null
  cmake --build "$build" -j "$(nproc)" --target quorvel e2e_driver vthermoctl >/dev/null
  [ -f "$build_x86/CMakeCache.txt" ] || cmake --preset windows-x86 -B "$build_x86" >/dev/null
  cmake --build "$build_x86" -j "$(nproc)" --target quorvel >/dev/null
  export QUORVEL_BUILD=$build QUORVEL_BUILD_X86=$build_x86 QUORVEL_BENCH_INNER=1
  exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
fi

source scripts/wine-env.sh
scripts/wine-session.sh start
trap 'scripts/wine-session.sh stop' EXIT
work="$QUORVEL_BUILD/bench"
mkdir -p "$work"
python3 tests/e2e/bench.py \
  --exe "$QUORVEL_BUILD/quorvel.exe" \
  --driver "$QUORVEL_BUILD/tests/e2e/e2e_driver.exe" \
  --wine "$WINE" --work "$work" \
  --runs "${1:-5}" --idle-seconds "${QUORVEL_BENCH_IDLE:-60}" \
  --sizes "$QUORVEL_BUILD/quorvel.exe" "$QUORVEL_BUILD_X86/quorvel.exe"
