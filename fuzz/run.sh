#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs the ID3v2 reader's for $1 seconds (default 60),
# starting from the unit tests' tags, then the decoders' for half as long, starting from WAV
# files, MPEG frames of each kind and small FLAC, Ogg and Opus files, then the play-list
# readers' (M3U, PLS, XSPF, each read back through our writers) for half as long. Any crash, leak, out-of-memory or hang makes this script
# fail.
set -euo pipefail
seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/fuzz

cmake -S "$root/fuzz" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" -j2 >/dev/null

run() { # name, seconds, corpus writer
    local name=$1 time=$2 writer=$3
    local start=$build/start-$name work=$build/corpus-$name findings=$build/findings-$name
    rm -rf "$start"
    mkdir -p "$start" "$work" "$findings"
    "$build/$writer" "$start"
    if [ "$name" = decoder ]; then # small FLAC, Vorbis and Opus files, and an Ogg FLAC one
        for codec in flac:flac libvorbis:ogg libopus:opus flac:oga; do
            ffmpeg -nostdin -v error -y -f lavfi -i "sine=frequency=440:duration=0.3" \
                -map_metadata -1 -c:a "${codec%%:*}" "$start/first.${codec#*:}"
        done
    fi
    # inputs that found something once (fuzz/inputs/<name>-*) run first every time
    cp "$root"/fuzz/inputs/"$name"-* "$start"/ 2>/dev/null || true
    echo "fuzz: $name for ${time}s from $(ls "$start" | wc -l) starting inputs"
    local status=0
    # a small quarantine: the decoders allocate and free large buffers on every input, and
    # AddressSanitizer's default quarantine alone would pass the memory limit
    # the libraries' own leaks that the sanitizer build knows of are not ours to report
    ASAN_OPTIONS="${ASAN_OPTIONS:-}:quarantine_size_mb=32" \
        LSAN_OPTIONS="suppressions=$root/tests/support/lsan.supp:print_suppressions=0" \
        "$build/${name}_fuzz" -rss_limit_mb=256 -max_total_time="$time" -timeout=10 \
        -max_len=65536 -print_final_stats=1 -artifact_prefix="$findings/" "$work" "$start" \
        >"$build/last-run-$name.log" 2>&1 || status=$?
    grep -E "^(Done|stat::number_of_executed_units|stat::peak_rss_mb)" \
        "$build/last-run-$name.log" || true
    if [ "$status" -ne 0 ]; then
        tail -n 60 "$build/last-run-$name.log"
        echo "fuzz: $name failed (exit $status); inputs in $findings"
        exit 1
    fi
    echo "fuzz: $name passed"
}
run id3v2 "$seconds" id3v2_corpus
run decoder "$((seconds / 2))" decoder_corpus
run playlist "$((seconds / 2))" playlist_corpus
