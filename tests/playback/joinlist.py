"""A list of four tracks cut at odd sample positions from one continuous signal, each encoded on
its own, and where its joins lie in a recording of it. Shared by the fixtures, the end-to-end
test and the join benchmark (bench/e2e/joins.py).
"""
import math
import os
import shutil
import struct
import subprocess

FFMPEG = shutil.which("ffmpeg") or "/usr/bin/ffmpeg"
RATE = 44100
# The cuts are multiples of 147 frames, so they fall on whole frames at 48 kHz too, where the
# Opus tracks are cut from the same signal; M4A's edit list counts in frames, not milliseconds.
CUTS = [0, 30135, 63357, 88935, 114660]
SIGNAL = ("aevalsrc='0.3*sin(2*PI*(220+300*t)*t)+0.2*sin(2*PI*97*t*t)"
          "|0.3*sin(2*PI*(330+200*t)*t)+0.1*sin(2*PI*1234*t)':s=%d:d=2.6")
FORMATS = ["wav", "flac", "mp3", "m4a", "ogg", "opus"]
MIXED = ["wav", "mp3", "opus", "flac"]
WINDOW = 2205  # 50 ms on each side of a join


def make(out):
    """Writes join-source.wav (the whole signal), join-source-48k.wav and join-1..4 in every
    format of FORMATS (and as mono Opus) into the folder `out`."""
    p = lambda name: os.path.join(out, name)  # noqa: E731
    same = ["-map_metadata", "-1", "-fflags", "+bitexact", "-flags:a", "+bitexact"]
    for name, rate in (("join-source.wav", 44100), ("join-source-48k.wav", 48000)):
        subprocess.run([FFMPEG, "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                        SIGNAL % rate, *same, "-c:a", "pcm_s16le", p(name)], check=True)

    def encode(name, src, *codec):
        subprocess.run([FFMPEG, "-nostdin", "-v", "error", "-y", "-i", p(src), *same, *codec,
                        p(name)], check=True)
    for i in range(4):
        name = lambda ext: "join-%d.%s" % (i + 1, ext)  # noqa: E731
        for source, rate, piece in (("join-source.wav", 44100, name("wav")),
                                    ("join-source-48k.wav", 48000, "join48-%d.wav" % (i + 1))):
            at = [c * rate // 44100 for c in CUTS]
            subprocess.run([FFMPEG, "-nostdin", "-v", "error", "-y", "-i", p(source), "-af",
                            "atrim=start_sample=%d:end_sample=%d" % (at[i], at[i + 1]), *same,
                            "-c:a", "pcm_s16le", p(piece)], check=True)
        encode(name("flac"), name("wav"), "-c:a", "flac")
        encode(name("mp3"), name("wav"), "-c:a", "libmp3lame", "-b:a", "192k",
               "-id3v2_version", "0", "-write_id3v1", "0")
        encode(name("m4a"), name("wav"), "-c:a", "aac", "-b:a", "192k", "-movie_timescale",
               "44100")
        encode(name("ogg"), name("wav"), "-c:a", "libvorbis", "-q:a", "6")
        encode(name("opus"), "join48-%d.wav" % (i + 1), "-c:a", "libopus", "-b:a", "160k")
        # the left channel alone, for a join between tracks of two channel counts
        encode(name("mono.opus"), "join48-%d.wav" % (i + 1), "-af", "pan=mono|c0=c0", "-c:a",
               "libopus", "-b:a", "96k")


def files(folder, exts):
    return [os.path.join(folder, "join-%d.%s" % (i + 1, e)) for i, e in enumerate(exts)]


def source(folder):
    """The whole signal's interleaved 16-bit stereo samples."""
    raw = subprocess.run([FFMPEG, "-nostdin", "-v", "error", "-i",
                          os.path.join(folder, "join-source.wav"), "-f", "s16le", "-"],
                         check=True, capture_output=True).stdout
    return struct.unpack("<%dh" % (len(raw) // 2), raw)


def scores(output, window, around, reach, step=1):
    """(normalised cross-correlation, position) of `window` in `output` at every `step` samples
    within `reach` of `around`."""
    energy = math.sqrt(sum(x * x for x in window)) or 1.0
    found = []
    for at in range(max(0, around - reach), around + reach + 1, step):
        part = output[at: at + len(window)]
        if len(part) < len(window):
            break
        power = math.sqrt(sum(x * x for x in part))
        found.append((sum(a * b for a, b in zip(part, window)) / (power * energy)
                      if power else -1.0, at))
    return found


def locate(output, window, around, reach, step=1):
    """Where `window` best matches `output`, within `reach` of `around` (normalised
    cross-correlation), looked at every `step` samples."""
    return max(scores(output, window, around, reach, step), default=(-2.0, -1))[1]


def find(output, window, around, reach):
    """locate(), over a long reach first on every fourth sample of both: the best few places
    found so are then looked at to the sample (a chirp matches itself shifted a little nearly
    as well as where it is, once a quarter of its samples is looked at)."""
    if reach <= 300:
        return locate(output, window, around, reach)
    rough = scores(output[::4], window[::4], around // 4, reach // 4 + 1)
    peaks = [(score, at) for k, (score, at) in enumerate(rough)
             if all(score >= other for other, _ in rough[max(0, k - 1): k + 2])]
    best = max((s for p in sorted(peaks, reverse=True)[:8]
                for s in scores(output, window, 4 * p[1], 6)), default=(-2.0, -1))
    return best[1]


def offsets(out, left, reach=300):
    """The 50 ms before and after each of the three joins, found in `out` (one channel of a
    recording of the list) against `left` (the same channel of the signal): for each, how many
    samples later than the signal has it it lies, counted from where the middle of the first
    track lies. Each is looked for within `reach` of where the one before it was found, so the
    errors may add up to more than `reach`. (A recorder may miss the very start of a stream, so
    that is not looked at.)"""
    anchor = CUTS[1] // 2
    first = next((i for i, x in enumerate(out) if x != 0), 0)
    start = find(out, left[anchor: anchor + 4410], first + anchor, max(reach, 12000)) - anchor
    found, late = [], 0
    for j in (1, 2, 3):
        for at in (CUTS[j] - WINDOW, CUTS[j]):
            got = find(out, left[at: at + WINDOW], start + at + late, reach)
            late = got - (start + at)
            found.append(late)
    return found


def join_errors(found):
    """From offsets(): at each join, the samples inserted (positive) or lost (negative) between
    the 50 ms before it and the 50 ms after it."""
    return [found[k + 1] - found[k] for k in (0, 2, 4)]
