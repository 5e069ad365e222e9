#!/usr/bin/env bash
# The play list at scale, beside another version of the program (main unless told) in one run:
# that version's tree (git archive of the ref) is built with this tree's bench_editor.cpp, which
# uses only what main has too, then each figure is measured for the other version and for this
# one in turn, on the same files:
#   - the playlist editor opened on 100,000 entries until every caption is in (target: 3 s);
#   - start-up to the main window's first paint under Xvfb with those 100,000 entries in
#     "patch.dat" (target: 100 ms), the median of $RUNS starts (default 11);
#   - 20,000 files in 1,000 folders dropped on the main window, and handed over as a later
#     "ondrix FILE..." hands them, until "patch.dat" holds them all (target: 10 s), with the
#     longest the window went without a paint meanwhile.
# usage: bench/app/beside_main.sh [build folder] [ref]
set -euo pipefail
build=$(cd "${1:-build/release}" && pwd)
ref=${2:-main}
root=$(cd "$(dirname "$0")/../.." && pwd)
other=$build/beside-$ref
runs=${RUNS:-11}
corpus=$build/bench/app/corpus

rm -rf "$other/src"
mkdir -p "$other/src"
git -C "$root" archive "$ref" | tar -x -C "$other/src"
cp "$root/bench/app/bench_editor.cpp" "$other/src/bench/app/"
cmake -S "$other/src" -B "$other/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DONDRIX_BUILD_TESTS=OFF >/dev/null
cmake --build "$other/build" --target bench_editor bench_startup >/dev/null
cmake --build "$build" --target bench_editor bench_startup >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ffmpeg -nostdin -v error -f lavfi -i "sine=frequency=440:duration=180" -c:a libmp3lame \
    -b:a 128k -id3v2_version 3 -metadata title="Tone" -metadata artist=Ondrix "$work/t.mp3"
for i in $(seq 0 9999); do printf '%s\r\n' "$work/t.mp3"; done >"$work/10k.dat"
for i in $(seq 10); do cat "$work/10k.dat"; done >"$work/100k.dat"

startup() { # label, bench_startup
    local dir
    dir=$(mktemp -d -p "$work")
    for i in $(seq "$runs"); do
        cp "$work/100k.dat" "$dir/patch.dat"
        (cd "$dir" && ONDRIX_AUDIO_OUTPUT=null /usr/bin/python3 "$root/tests/support/with_xvfb.py" \
            /bin/sh -c 'exec "$0" "$(date +%s%N)"' "$2")
    done 2>/dev/null | /usr/bin/python3 -c '
import json, statistics, sys
rows = [json.loads(l) for l in sys.stdin if l.startswith("{")]
p = statistics.median(r["first_paint_ms"] for r in rows)
m = statistics.median(r["idle_rss_kib"] for r in rows) / 1024
print(f"{sys.argv[1]:10s} 100,000 entries under Xvfb: first paint {p:6.1f} ms, idle RSS {m:5.1f} "
      f"MiB (median of {len(rows)})")
' "$1"
}

editor() { # label, bench_editor
    echo "$1:"
    QT_QPA_PLATFORM=offscreen ONDRIX_AUDIO_OUTPUT=null ONDRIX_EDITOR_CORPUS=$corpus "$2" \
        --benchmark_filter='EditorFill100k|Drop20000|HandOver20000' \
        --benchmark_report_aggregates_only=true 2>&1 | grep -E "median|error|main takes" || true
}

startup "$ref" "$other/build/bench/app/bench_startup"
startup "this tree" "$build/bench/app/bench_startup"
editor "$ref" "$other/build/bench/app/bench_editor"
editor "this tree" "$build/bench/app/bench_editor"
