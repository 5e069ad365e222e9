#!/usr/bin/env bash
# Load and save of a 100,000-entry play list (target: load within 50 ms). $1 is the build folder.
set -euo pipefail
build=$(cd "${1:-build/release}" && pwd)
"$build/bench/core/bench_listfile" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
