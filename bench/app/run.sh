#!/usr/bin/env bash
# Start-up to the main window's first paint and idle resident memory, offscreen and under Xvfb,
# in an empty folder, with a list of three MP3s with ID3v2 tags (the first track is opened and
# captioned at start-up; TagLib must stay unloaded), and with a list whose first track is a WMA
# (captioned from its ASF tags, so the tag module and TagLib are loaded).
# Targets: at most 100 ms to a mapped window under Xvfb, at most 45 MiB idle. $1: build folder.
set -euo pipefail
build=$(cd "${1:-build/release}" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
bin=$build/bench/app/bench_startup
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for i in 1 2 3; do
    ffmpeg -nostdin -v error -f lavfi -i "sine=frequency=440:duration=180" -c:a libmp3lame \
        -b:a 128k -id3v2_version 3 -metadata title="Tone $i" -metadata artist=Ondrix "$work/t$i.mp3"
done
ffmpeg -nostdin -v error -f lavfi -i "sine=frequency=440:duration=180" -c:a wmav2 -b:a 128k \
    -metadata title="Tone 0" -metadata artist=Ondrix "$work/w0.wma"
runs=${RUNS:-7}
measure() { # platform, list
    local dir
    dir=$(mktemp -d -p "$work")
    for i in $(seq "$runs"); do
        rm -f "$dir/patch.dat"
        [ "$2" = list ] && printf '%s\r\n' "$work"/t*.mp3 >"$dir/patch.dat"
        [ "$2" = wma ] && printf '%s\r\n' "$work"/w0.wma "$work"/t*.mp3 >"$dir/patch.dat"
        if [ "$1" = xcb ]; then
            (cd "$dir" && ONDRIX_AUDIO_OUTPUT=null /usr/bin/python3 "$root/tests/support/with_xvfb.py" \
                /bin/sh -c 'exec "$0" "$(date +%s%N)"' "$bin")
        else
            (cd "$dir" && ONDRIX_AUDIO_OUTPUT=null QT_QPA_PLATFORM=offscreen \
                /bin/sh -c 'exec "$0" "$(date +%s%N)"' "$bin")
        fi
    done 2>/dev/null | /usr/bin/python3 -c '
import json, statistics, sys
rows = [json.loads(l) for l in sys.stdin if l.startswith("{")]
p = statistics.median(r["first_paint_ms"] for r in rows)
m = statistics.median(r["idle_rss_kib"] for r in rows) / 1024
i = statistics.median(r.get("instance_ms", 0) for r in rows)
b = statistics.median(r.get("mpris_start_ms", 0) for r in rows)
t = sum(r.get("taglib", False) for r in rows)
print(f"{sys.argv[1]:9s} {sys.argv[2]:5s} first paint {p:6.1f} ms   idle RSS {m:5.1f} MiB   "
      f"(median of {len(rows)}; of which the player-per-folder check {i:.2f} ms; "
      f"after the paint, the session bus {b:.2f} ms)   TagLib loaded {t}/{len(rows)}")
' "$1" "$2"
}
for platform in offscreen xcb; do
    for list in empty list wma; do
        measure "$platform" "$list"
    done
done

# The playlist editor opened on a "patch.dat" of 10,000 tagged files (half with a 100 KB
# picture) until its list box is full, and the hand-over's reload; warm cache (target: 0.7 s).
# The same on a mixed library (a fifth each MP3, FLAC, Opus, M4A and WMA, target 0.7 s), its
# captions per format beside TagLib's FileRef on the same files. The first run generates the
# files (about 600 MB each) into bench/app/corpus.
QT_QPA_PLATFORM=offscreen ONDRIX_AUDIO_OUTPUT=null ONDRIX_EDITOR_CORPUS=$build/bench/app/corpus \
    "$build/bench/app/bench_editor" --benchmark_report_aggregates_only=true
