#!/usr/bin/env bash
# Installs the dependencies, checks the format, builds, and runs every test: once in a
# release build, the Debian package (lintian, installed into a scratch root and run), the
# fuzzers for a short while, the demo as a user would start it (without opening a viewer), and
# every test once more under AddressSanitizer + UndefinedBehaviorSanitizer.
# FUZZ_SECONDS sets each fuzzer's time (default 40: seven targets, under five minutes in all).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

# Sources are kept in the house format (.clang-format).
clang-format --dry-run --Werror $(git ls-files '*.cpp' '*.h')

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DTRAZPLOT_WERROR=ON
cmake --build build -j2
(cd build && ctest --output-on-failure -j2)

# The Debian package: built in build-deb, checked by lintian, installed into a scratch root.
scripts/package-test.sh build

scripts/fuzz.sh "${FUZZ_SECONDS:-40}"

NOPREVIEW=1 scripts/demo.sh

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTRAZPLOT_SANITIZE=ON -DTRAZPLOT_BENCH=OFF \
    -DTRAZPLOT_WERROR=ON
cmake --build build-asan -j2
(cd build-asan && ctest --output-on-failure -j2)
