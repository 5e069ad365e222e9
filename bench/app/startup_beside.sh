#!/usr/bin/env bash
# Start-up to the first paint with a three-track MP3 list under Xvfb, builds side by side in
# turn: startup_beside.sh RUNS LABEL=path/to/bench_startup [LABEL=...]
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
runs=$1; shift
work=$(mktemp -d)
for i in 1 2 3; do
  ffmpeg -nostdin -v error -f lavfi -i "sine=frequency=440:duration=180" -c:a libmp3lame -b:a 128k -id3v2_version 3 -metadata title="Tone $i" -metadata artist=Ondrix "$work/t$i.mp3"
done
for r in $(seq $runs); do
  for arg in "$@"; do
    label=${arg%%=*}; bin=$(realpath "${arg#*=}")
    dir=$(mktemp -d -p "$work"); printf '%s\r\n' "$work"/t*.mp3 >"$dir/patch.dat"
    (cd "$dir" && ONDRIX_AUDIO_OUTPUT=null /usr/bin/python3 "$root/tests/support/with_xvfb.py" /bin/sh -c 'exec "$0" "$(date +%s%N)"' "$bin") 2>/dev/null | grep '^{' | sed "s/^/$label /"
  done
done | python3 -c '
import json, statistics, sys
rows = {}
for line in sys.stdin:
    label, data = line.split(" ", 1)
    rows.setdefault(label, []).append(json.loads(data))
for label, r in rows.items():
    p = [x["first_paint_ms"] for x in r]; m = [x["idle_rss_kib"] / 1024 for x in r]
    print("%s: first paint %.1f ms, idle RSS %.1f MiB (median of %d; paint range %.1f-%.1f)" % (label, statistics.median(p), statistics.median(m), len(r), min(p), max(p)))
'
rm -rf "$work"
