#!/usr/bin/env bash
# Playback benchmarks: bench/playback/run.sh BUILD_DIR. Makes 5-minute media files once (ffmpeg),
# runs bench_playback on the null output (real-time pace, no sound card needed), and times the
# ffmpeg command's decode as a second floor.
set -euo pipefail
build=${1:-build/release}
media="$build/bench-media"
mkdir -p "$media"
make_media() {
    local out=$1
    shift
    [ -s "$media/$out" ] && return
    ffmpeg -nostdin -v error -y -f lavfi \
        -i "aevalsrc='0.25*sin(2*PI*440*t)*(1+0.5*sin(0.7*t))+0.15*sin(2*PI*660*t)*(1+sin(0.13*t))+0.05*(random(0)-0.5)':s=44100:d=300" \
        -ac 2 -map_metadata -1 "$@" "$media/$out"
}
make_media cbr-5min.mp3 -c:a libmp3lame -b:a 192k -id3v2_version 0
make_media vbr-noxing-5min.mp3 -c:a libmp3lame -q:a 2 -write_xing 0 -id3v2_version 0
make_media vbr-xing-5min.mp3 -c:a libmp3lame -q:a 2 -id3v2_version 0
make_media 5min.wma -c:a wmav2 -b:a 128k
make_media 5min.wav -c:a pcm_s16le
make_media 5min.flac -c:a flac
make_media 5min.ogg -c:a libvorbis -q:a 5
make_media 5min.opus -c:a libopus -b:a 128k
make_media 5min-aac.m4a -c:a aac -b:a 192k
make_media 5min-alac.m4a -c:a alac
# other rates and channel counts, for the commands' times across a change of format
make_media mono-22k.mp3 -ac 1 -ar 22050 -c:a libmp3lame -b:a 64k -id3v2_version 0
make_media 48k.wav -ar 48000 -c:a pcm_s16le
make_media mono-8k.wav -ac 1 -ar 8000 -c:a pcm_s16le
# 200 MB for the slow medium: 5000 s at 320 kb/s with its Info header, and the same frames
# without it
if [ ! -s "$media/200mb.mp3" ]; then
    ffmpeg -nostdin -v error -y -f lavfi -i "sine=frequency=440:duration=5000:sample_rate=44100" \
        -ac 2 -map_metadata -1 -c:a libmp3lame -b:a 320k -id3v2_version 0 "$media/200mb.mp3"
fi
if [ ! -s "$media/200mb-noxing.mp3" ]; then
    # the Info frame of a 320 kb/s 44.1 kHz stream is 1044 or 1045 bytes (its padding bit)
    python3 -c "import sys; d=open(sys.argv[1],'rb').read(); n=1044+((d[2]>>1)&1); \
assert d[36:40]==b'Info'; open(sys.argv[2],'wb').write(d[n:])" \
        "$media/200mb.mp3" "$media/200mb-noxing.mp3"
fi

echo "ffprobe's duration of the VBR file without a header (a bitrate estimate):" \
    "$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$media/vbr-noxing-5min.mp3") s"
# the null output (SDL's dummy driver for builds from before the output stream)
ONDRIX_BENCH_MEDIA="$media" ONDRIX_AUDIO_OUTPUT=null SDL_AUDIODRIVER=dummy "$build/bench/playback/bench_playback" \
    --benchmark_counters_tabular=true
for f in cbr-5min.mp3 vbr-noxing-5min.mp3; do
    TIMEFORMAT="ffmpeg -f null decode of $f (5 min): %U s user + %S s system"
    time ffmpeg -nostdin -v error -i "$media/$f" -f null -
done
