#!/usr/bin/env bash
# Files per second for title and artist of the generated corpus: our reader, TagLib and the
# floor, side by side, then the two ratios the reader is held to. $1 is the build folder.
set -euo pipefail
build=$(cd "${1:-build/release}" && pwd)
bin=$build/bench/tags/bench_tags
if [ ! -x "$bin" ]; then
    echo "bench/tags: $bin is not built (cmake --build $build --target bench_tags)"
    exit 1
fi
out=$build/bench/tags/result.json
ONDRIX_TAG_CORPUS=$build/bench/tags/corpus "$bin" --benchmark_repetitions=3 \
    --benchmark_report_aggregates_only=true --benchmark_out="$out" --benchmark_out_format=json
/usr/bin/python3 - "$out" <<'PY'
import json, sys
runs = json.load(open(sys.argv[1]))["benchmarks"]
rate = {r["run_name"].removeprefix("BM_").split("/")[0]: r["items_per_second"]
        for r in runs if r.get("aggregate_name") == "median"}
for name, value in rate.items():
    print(f"{name:8s} {value:10.0f} files/s (median of 3)")
ours, floor = rate["Ondrix"], rate["Floor"]
if "TagLib" in rate:
    print(f"ours / TagLib  = {ours / rate['TagLib']:.2f}x  (target at least 2)")
else:
    print("TagLib not built: no comparison")
print(f"floor / ours   = {floor / ours:.2f}x  (target at most 1.5)")
PY
