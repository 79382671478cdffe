#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite twice: once as built for
# use, once under AddressSanitizer and UndefinedBehaviorSanitizer; and fuzzes for a while.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

# A packager or a developer starts the build with CMake's default generator (Make), not
# Ninja; the generated code is where the two differ, so that much is built that way too.
rm -rf build/default-generator
env -u CMAKE_GENERATOR cmake -S . -B build/default-generator -DVARNOLT_BUILD_TESTS=OFF \
    -DVARNOLT_BUILD_BENCH=OFF
cmake --build build/default-generator --target vxi11_xdr

bash scripts/build.sh build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo
(cd build/release && ctest --output-on-failure --timeout 600)

# Each fuzz target for 30 seconds, as many at once as there are cores.
bash scripts/fuzz.sh 30

bash scripts/build.sh build/sanitize -DCMAKE_BUILD_TYPE=Debug -DVARNOLT_SANITIZE=ON \
    -DVARNOLT_BUILD_BENCH=OFF
(cd build/sanitize && ASAN_OPTIONS=detect_stack_use_after_return=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure --timeout 900)

# The Debian package, made from the release tree built above, and what it holds.
bash scripts/package.sh
bash scripts/check-package.sh
