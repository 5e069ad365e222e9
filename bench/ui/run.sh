#!/usr/bin/env bash
# Skin decoding (our jpeglib loader beside Qt's JPEG plugin) and a skinned window's first paint.
set -euo pipefail
build=${1:-build/release}
QT_QPA_PLATFORM=offscreen "$build/bench/ui/bench_skins" --benchmark_min_time=0.5
