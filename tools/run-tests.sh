#!/usr/bin/env bash
# Builds Telvara and runs every test: once in a normal build (with the browser test),
# once more under the address and undefined-behaviour sanitizers.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

tools/install-deps.sh --tests
if [ -f tests/browser/package-lock.json ]; then
  (cd tests/browser && npm ci --no-audit --no-fund --loglevel=error)
fi

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTELVARA_WERROR=ON >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DTELVARA_SANITIZE=ON -DTELVARA_WERROR=ON -DTELVARA_BENCH=OFF >/dev/null
cmake --build build-sanitize -j"$jobs"
ctest --test-dir build-sanitize --output-on-failure -j"$jobs" -LE browser
