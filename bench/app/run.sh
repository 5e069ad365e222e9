#!/usr/bin/env bash
# The playlist editor opened on a "patch.dat" of 10,000 tagged files (half with a 100 KB
# picture) until its list box is full, and the hand-over's reload; warm cache. $1 is the build
# folder. The first run generates the files (about 500 MB) into bench/app/corpus.
set -euo pipefail
build=$(cd "${1:-build/release}" && pwd)
bin=$build/bench/app/bench_editor
if [ ! -x "$bin" ]; then
    echo "bench/app: $bin is not built (cmake --build $build --target bench_editor)"
    exit 1
fi
QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy ONDRIX_EDITOR_CORPUS=$build/bench/app/corpus \
    "$bin" --benchmark_report_aggregates_only=true "${@:2}"
