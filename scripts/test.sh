#!/usr/bin/env bash
# Installs the dependencies, builds, and runs every test: once in a release build and once
# under AddressSanitizer + UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DTRAZPLOT_WERROR=ON
cmake --build build -j2
(cd build && ctest --output-on-failure -j2)

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTRAZPLOT_SANITIZE=ON -DTRAZPLOT_BENCH=OFF \
    -DTRAZPLOT_WERROR=ON
cmake --build build-asan -j2
(cd build-asan && ctest --output-on-failure -j2)
