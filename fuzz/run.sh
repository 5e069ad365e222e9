#!/usr/bin/env bash
# Builds the ID3v2 fuzz target with clang and runs it for $1 seconds (default 60), starting from
# the unit tests' tags. Any crash, leak, out-of-memory or hang makes this script fail.
set -euo pipefail
seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/fuzz

cmake -S "$root/fuzz" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" -j2 >/dev/null

start=$build/start
work=$build/corpus
findings=$build/findings
rm -rf "$start"
mkdir -p "$start" "$work" "$findings"
"$build/id3v2_corpus" "$start"

echo "fuzz: id3v2 for ${seconds}s from $(ls "$start" | wc -l) starting inputs"
status=0
"$build/id3v2_fuzz" -rss_limit_mb=256 -max_total_time="$seconds" -timeout=10 -max_len=65536 \
    -print_final_stats=1 -artifact_prefix="$findings/" "$work" "$start" \
    >"$build/last-run.log" 2>&1 || status=$?
grep -E "^(Done|stat::number_of_executed_units|stat::peak_rss_mb)" "$build/last-run.log" || true
if [ "$status" -ne 0 ]; then
    tail -n 60 "$build/last-run.log"
    echo "fuzz: id3v2 failed (exit $status); inputs in $findings"
    exit 1
fi
echo "fuzz: id3v2 passed"
