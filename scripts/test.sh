#!/usr/bin/env bash
# The test command: sets up, builds all three presets, runs the Windows tests
# under Wine (inside Xvfb), the host tests with sanitizers, and the fuzzers.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

bash scripts/setup.sh

jobs=$(nproc)
for preset in host windows-x64 windows-x86; do
  echo "== build $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

status=0

echo "== host tests"
ctest --preset host || status=1

echo "== Windows tests under Wine"
xvfb-run -a -s "-screen 0 1024x768x24" bash scripts/wine-tests.sh || status=1

echo "== fuzzing"
fuzz_seconds=${QUORVEL_FUZZ_SECONDS:-30}
corpus=build/host/fuzz-corpus
mkdir -p "$corpus"
if ! build/host/tests/reading/reading_fuzz -max_total_time="$fuzz_seconds" -max_len=2048 \
    "$corpus" >build/host/fuzz.log 2>&1; then
  tail -n 40 build/host/fuzz.log
  echo "fuzzing found a fault"
  status=1
else
  grep -E '^Done|#[0-9]+.*DONE' build/host/fuzz.log | tail -n 1
fi

if [ "$status" -eq 0 ]; then echo "test.sh: all passed"; else echo "test.sh: FAILED"; fi
exit "$status"
