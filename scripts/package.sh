#!/usr/bin/env bash
# Installs what is missing, builds what the Debian package holds in the release tree and makes
# the package build/release/varnolt_VERSION_ARCH.deb from it. The targets are those that
# cmake/Packaging.cmake installs.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DVARNOLT_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    >/dev/null
cmake --build build/release --parallel "$(nproc)" --target Varnolt lumetra-rm scopesim varnolt-record help_file \
    man_pages package_docs
rm -f build/release/varnolt_*.deb
(cd build/release && cpack -G DEB)
