#!/usr/bin/env bash
# Installs what is missing, builds, and starts the simulated instrument on loopback. With a
# display it starts the program against it; without one it records a few triggers with
# varnolt-record and shows what the instrument saved and heard. Everything it writes stays
# under build/demo: the user's own settings and resource list are not touched.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
echo "Building in build/release; the first build takes several minutes."
bash scripts/build.sh build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo

demo=$PWD/build/demo
rm -rf "$demo"
mkdir -p "$demo/config" "$demo/drive"
export XDG_CONFIG_HOME=$demo/config
export XDG_RUNTIME_DIR=$demo/runtime
mkdir -p -m 700 "$XDG_RUNTIME_DIR"

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

echo
"$bin/tools/lumetra-rm" add "TCPIP0::127.0.0.1::$port::SOCKET"
echo "Resources Lumetra knows:"
"$bin/tools/lumetra-rm" list
echo "What they answer:"
"$bin/tools/lumetra-rm" probe
echo

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found: varnolt-record records 5 triggers (ISF, CSV and a PNG screen image"
    echo "each, file names by counter), one line per trigger:"
    "$bin/record/varnolt-record" --count 5 --isf --csv --screen --counter
    echo
    echo "Files on the simulated instrument's drive ($demo/drive):"
    (cd "$demo/drive" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
    echo
    echo "What the instrument received ($demo/traffic.log; messages only, repeats counted):"
    # The messages only, without their times, each run of the same message as one line.
    awk '$4 != ">" { next }
         { sub(/^[^ ]+ [^ ]+ /, "") }
         $0 == last { n++; next }
         last != "" { print (n > 1 ? last "   (" n " times)" : last) }
         { last = $0; n = 1 }
         END { if (last != "") print (n > 1 ? last "   (" n " times)" : last) }' "$demo/traffic.log"
else
    echo "Press Start in the Varnolt window; the files of each trigger (one a second) appear in $demo/drive/D; Close ends the demo."
    "$bin/app/Varnolt"
fi
