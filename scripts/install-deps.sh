#!/usr/bin/env bash
# Installs what building, testing and running Varnolt needs on Debian 12.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-image-formats-plugins
    fonts-dejavu-core fonts-liberation2
    qt6-svg-dev libqt6svg6 dpkg-dev
    rpcsvc-proto libtirpc-dev
    python3-pyvisa-py
    iproute2 util-linux
    help2man lintian
    clang libclang-rt-dev
    liblxi-dev strace
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if [ "${#missing[@]}" -eq 0 ]; then
    exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
