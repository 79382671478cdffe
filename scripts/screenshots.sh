#!/usr/bin/env bash
# Draws the program's three windows, as the program builds them, into docs/screenshots for
# the README. Run it after changing a window and commit the pictures with the change.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DVARNOLT_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    >/dev/null
cmake --build build/release --target render_windows --parallel "$(nproc)" >/dev/null
build/release/resources/render_windows docs/screenshots
ls docs/screenshots
