#!/usr/bin/env bash
# Configures and builds one tree. Usage: build.sh BUILD_DIR [extra cmake options]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=$1
shift
cmake -S . -B "$build_dir" -G Ninja -DVARNOLT_WERROR=ON "$@"
cmake --build "$build_dir" --parallel "$(nproc)"
