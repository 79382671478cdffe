#!/usr/bin/env bash
# Installs what is missing, builds, starts the simulated instrument on loopback and the program
# against it. Everything it writes stays under build/demo: the user's own settings and
# resource list are not touched.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
bash scripts/build.sh build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

demo=$PWD/build/demo
rm -rf "$demo"
mkdir -p "$demo/config" "$demo/drive"
export XDG_CONFIG_HOME=$demo/config

bin=$PWD/build/release
"$bin/sim/scopesim" --port 0 --root "$demo/drive" --log "$demo/traffic.log" \
    --trigger-period-ms 1000 >"$demo/scopesim.out" 2>&1 &
sim_pid=$!
trap 'kill $sim_pid 2>/dev/null || true' EXIT

port=""
for _ in $(seq 100); do
    port=$(sed -n 's/^scopesim: listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$demo/scopesim.out" | head -n 1)
    [ -n "$port" ] && break
    sleep 0.1
done
if [ -z "$port" ]; then
    echo "The simulated instrument did not start:" >&2
    cat "$demo/scopesim.out" >&2
    exit 1
fi

"$bin/tools/lumetra-rm" add "TCPIP0::127.0.0.1::$port::SOCKET"
echo "Resources Lumetra knows:"
"$bin/tools/lumetra-rm" list
echo "What they answer:"
"$bin/tools/lumetra-rm" probe
echo "Simulated drive: $demo/drive   traffic log: $demo/traffic.log"

export XDG_RUNTIME_DIR=$demo/runtime
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found: running Varnolt offscreen for 15 seconds instead."
    QT_QPA_PLATFORM=offscreen timeout 15 "$bin/app/Varnolt" || true
else
    "$bin/app/Varnolt"
fi
