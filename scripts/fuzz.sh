#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang and runs each for SECONDS (default 30),
# as many at a time as there are cores (FUZZ_JOBS to choose). Usage:
#   fuzz.sh [SECONDS] [TARGET...]        e.g. fuzz.sh 600 reply_scanner
# New inputs go to build/fuzz/corpus/TARGET, findings to build/fuzz/findings/; the starting
# corpus in fuzz/corpus/TARGET is only read. Exits non-zero when a target finds anything.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
shift || true
targets=("$@")
if [ "${#targets[@]}" -eq 0 ]; then
    targets=(resource_line reply_scanner vxi11_reply scpi_message instrument_message rpc_request)
fi
jobs=${FUZZ_JOBS:-$(nproc)}
build=build/fuzz

launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S fuzz -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
    "${launcher[@]}" >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target "${targets[@]/%/_fuzzer}"

mkdir -p "$build/findings" "$build/logs"
run() {
    local target=$1
    mkdir -p "$build/corpus/$target"
    # No single allocation may exceed the largest bound a message can announce (16 MiB of
    # VXI-11 data) by more than 1 MiB: anything bigger stops the run as a finding.
    "$build/${target}_fuzzer" -max_total_time="$seconds" -timeout=10 \
        -malloc_limit_mb=17 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$build/findings/$target-" \
        "$build/corpus/$target" "fuzz/corpus/$target" >"$build/logs/$target.log" 2>&1
}

pids=()
for target in "${targets[@]}"; do
    while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do
        wait -n || true
    done
    run "$target" &
    pids+=("$!")
done

failed=0
printf '%-16s %12s %10s  %s\n' target executions exec/s result
for i in "${!targets[@]}"; do
    target=${targets[$i]}
    log="$build/logs/$target.log"
    result=ok
    if ! wait "${pids[$i]}"; then
        result="FINDING, see $log"
        failed=1
    fi
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    printf '%-16s %12s %10s  %s\n' "$target" "${executions:-?}" "${rate:-?}" "$result"
done
if [ "$failed" -ne 0 ]; then
    echo "Reproduce a finding with: $build/TARGET_fuzzer $build/findings/FILE" >&2
    grep -h -A3 -E "property broken|ERROR: (Address|Leak|libFuzzer)|runtime error" \
        "$build"/logs/*.log >&2 || true
fi
exit "$failed"
