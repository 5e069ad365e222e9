#!/usr/bin/env python3
"""Every file of a folder of real-world audio as the player meets it, against each format's own
length: bench/playback/corpus.py CORPUS_CHECK FOLDER...

For each file: what OpenDecoder says (corpus_check), the frames ffmpeg decodes (ffprobe's
frames, each at its own rate) and the format's definition of its length (Vorbis and Opus: the
last granule less pre-skip; MP4: the edit list, else iTunSMPB, else the sample table; the rest:
ffmpeg's decode). A file is exact when it opens, its Length is the frames it decodes, and both are
the format's length (to the frame, and so to the millisecond); one ffmpeg decodes nothing of must
be refused at Open. Prints a line for every other file and a summary per format.
"""
import collections
import json
import os
import re
import struct
import subprocess
import sys

# Not claimed: the player does not play these, and says so.
UNCLAIMED = {
    "pcm_alaw": "A-law",
    "pcm_mulaw": "µ-law",
    "adpcm_ima_wav": "ADPCM",
    "adpcm_ms": "ADPCM",
    "gsm_ms": "GSM in WAV",
}
# and by container: RF64, MP3 in WAV, anything but AAC and ALAC in MP4; APE and TTA are not
# formats the player plays


FRAME = re.compile(rb"channels:(\d+) .*? rate:(\d+) nb_samples:(\d+)")


def probe(path):
    """ffprobe's audio stream and the frames ffmpeg decodes from it (after the demuxer's and the
    decoder's trimming), as runs of one rate and channel count; None when ffmpeg finds no audio."""
    try:
        out = subprocess.run(
            ["ffprobe", "-v", "error", "-of", "json", "-select_streams", "a:0",
             "-show_format", "-show_streams", path],
            capture_output=True, timeout=120).stdout
        info = json.loads(out or b"{}")
        # ashowinfo tells each frame's own rate (ffprobe's frames do not)
        shown = subprocess.run(
            ["ffmpeg", "-nostdin", "-nostats", "-v", "info", "-i", path, "-map", "0:a:0",
             "-af", "ashowinfo", "-f", "null", "-"],
            capture_output=True, timeout=300).stderr
    except (subprocess.TimeoutExpired, json.JSONDecodeError):
        return None
    streams = info.get("streams") or []
    if not streams:
        return None
    parts = []
    for channels, rate, samples in FRAME.findall(shown):
        key = (int(rate), int(channels))
        if parts and tuple(parts[-1][1:]) == key:
            parts[-1][0] += int(samples)
        else:
            parts.append([int(samples), *key])
    total = sum(p[0] for p in parts)
    seconds = sum(p[0] / p[1] for p in parts)
    return {"codec": streams[0].get("codec_name", "?"),
            "container": info.get("format", {}).get("format_name", "?"),
            "rate": int(streams[0].get("sample_rate", 0) or 0),
            "channels": int(streams[0].get("channels", 0) or 0),
            "frames": total, "ms": round(seconds * 1000),
            "parts": "+".join(f"{n}@{r}/{c}" for n, r, c in parts)}


def ogg_length(data):
    """The audio stream's last granule less Opus's pre-skip, and whether its last page ends the
    stream (else the file is cut); or None."""
    at = 0
    serial = None
    kind = None
    preskip = 0
    last = None
    ended = False
    while True:
        at = data.find(b"OggS", at)
        if at < 0 or at + 27 > len(data):
            break
        granule, page_serial = struct.unpack_from("<qI", data, at + 6)
        segments = data[at + 26]
        table = data[at + 27:at + 27 + segments]
        body = at + 27 + segments
        if serial is None and data[at + 5] & 2:
            packet = data[body:body + 20]
            if packet.startswith(b"\x01vorbis"):
                serial, kind = page_serial, "vorbis"
            elif packet.startswith(b"OpusHead"):
                serial, kind = page_serial, "opus"
                preskip = struct.unpack_from("<H", packet, 10)[0]
            elif packet.startswith(b"\x7fFLAC"):
                serial, kind = page_serial, "flac"
        if page_serial == serial and granule != -1:
            last = granule
            ended = bool(data[at + 5] & 4)
        at = body + sum(table) if len(table) == segments else at + 4
    if last is None:
        return None
    return max(0, last - preskip), ended


def mp4_boxes(data, start, end):
    at = start
    while at + 8 <= end:
        size, kind = struct.unpack_from(">I4s", data, at)
        header = 8
        if size == 1 and at + 16 <= end:
            size = struct.unpack_from(">Q", data, at + 8)[0]
            header = 16
        elif size == 0:
            size = end - at
        if size < header or at + size > end:
            return
        yield kind, at + header, at + size
        at += size


def mp4_find(data, start, end, path):
    for kind, body, stop in mp4_boxes(data, start, end):
        if kind == path[0]:
            if len(path) == 1:
                return body, stop
            skip = 4 if kind == b"meta" else 0
            found = mp4_find(data, body + skip, stop, path[1:])
            if found:
                return found
    return None


def mp4_length(data, rate):
    """The first sound track's length in frames at `rate` and what defined it, or None."""
    moov = mp4_find(data, 0, len(data), [b"moov"])
    if not moov:
        return None
    mvhd = mp4_find(data, *moov, [b"mvhd"])
    movie_scale = 0
    if mvhd:
        version = data[mvhd[0]]
        movie_scale = struct.unpack_from(">I", data, mvhd[0] + (20 if version == 1 else 12))[0]
    for kind, body, stop in mp4_boxes(data, *moov):
        if kind != b"trak":
            continue
        hdlr = mp4_find(data, body, stop, [b"mdia", b"hdlr"])
        if not hdlr or data[hdlr[0] + 8:hdlr[0] + 12] != b"soun":
            continue
        mdhd = mp4_find(data, body, stop, [b"mdia", b"mdhd"])
        version = data[mdhd[0]]
        media_scale = struct.unpack_from(">I", data, mdhd[0] + (20 if version == 1 else 12))[0]
        media = struct.unpack_from(">Q" if version == 1 else ">I", data,
                                   mdhd[0] + (28 if version == 1 else 16))[0]
        elst = mp4_find(data, body, stop, [b"edts", b"elst"])
        if elst and movie_scale:
            version = data[elst[0]]
            count = struct.unpack_from(">I", data, elst[0] + 4)[0]
            total = 0
            start = 0
            at = elst[0] + 8
            for _ in range(count):
                if version == 1:
                    duration, media_time = struct.unpack_from(">Qq", data, at)
                    at += 20
                else:
                    duration, media_time = struct.unpack_from(">Ii", data, at)
                    at += 12
                if media_time != -1:
                    total += duration
                    start = start or media_time
            if total > 0:
                # an edit longer than the media ends with it
                return (min(round(total * rate / movie_scale),
                            round((media - start) * rate / media_scale)), "edit list",
                        -(-rate // movie_scale))  # told to one tick of the movie's clock
        ilst = mp4_find(data, *moov, [b"udta", b"meta", b"ilst"])
        if ilst:
            for kind, ibody, istop in mp4_boxes(data, *ilst):
                if kind == b"----" and b"iTunSMPB" in data[ibody:istop]:
                    value = mp4_find(data, ibody, istop, [b"data"])
                    fields = data[value[0] + 8:value[1]].decode("latin-1").split()
                    if len(fields) >= 4 and int(fields[3], 16) > 0:
                        return min(int(fields[3], 16),
                                   round(media * rate / media_scale) - int(fields[1], 16)), \
                            "iTunSMPB", 0
        stts = mp4_find(data, body, stop, [b"mdia", b"minf", b"stbl", b"stts"])
        if not stts:
            return None
        count = struct.unpack_from(">I", data, stts[0] + 4)[0]
        total = 0
        for i in range(count):
            samples, delta = struct.unpack_from(">II", data, stts[0] + 8 + 8 * i)
            total += samples * delta
        if total == 0:
            return None  # fragmented: the fragments' own tables, as ffmpeg reads them
        return round(total * rate / media_scale), "sample table", 0
    return None


def mpg123_length(path, channels):
    """The frames the mpg123 command decodes (it leaves out what a LAME/Info header says)."""
    try:
        out = subprocess.run(["mpg123", "-q", "-e", "f32", "-s", path], capture_output=True,
                             timeout=120).stdout
    except subprocess.TimeoutExpired:
        return 0
    return len(out) // (4 * max(1, channels))


def defined_length(path, info):
    """The format's own length in frames, its source and the tolerance of that source."""
    with open(path, "rb") as f:
        data = f.read()
    container = info["container"]
    if container == "mp3":
        return mpg123_length(path, info["channels"]), "mpg123", 0
    if container == "ogg" and info["codec"] in ("vorbis", "opus", "flac"):
        found = ogg_length(data)
        if found is not None:
            frames, ended = found
            return frames, "granule" if ended else "granule, no last page", 0
    if container.startswith("mov"):
        found = mp4_length(data, info["rate"])
        if found:
            return found
    return info["frames"], "ffmpeg", 0


def measure(tool, path):
    try:
        out = subprocess.run([tool, path], capture_output=True, timeout=300).stdout
    except subprocess.TimeoutExpired:
        return ["hang", path]
    line = out.decode("utf-8", "replace").rstrip("\n")
    return line.split("\t") if line else ["crash", path]


def main():
    tool = sys.argv[1]
    files = []
    for folder in sys.argv[2:]:
        files += sorted(os.path.join(folder, f) for f in os.listdir(folder))
    summary = collections.defaultdict(collections.Counter)
    for path in files:
        name = os.path.basename(path)
        info = probe(path)
        ours = measure(tool, path)
        codec = info["codec"] if info else "none"
        group = os.path.splitext(name)[1].lower() + " " + codec
        with open(path, "rb") as f:
            head = f.read(4)
        if (codec in UNCLAIMED or head == b"RF64" or codec in ("ape", "tta")
                or (info and info["container"] == "wav" and codec == "mp3")
                or (info and info["container"].startswith("mov") and codec not in ("aac", "alac"))):
            summary[group]["not claimed"] += 1
            continue
        if not info or info["frames"] == 0:
            if ours[0] == "open":
                summary[group]["opened (ffmpeg decodes nothing)"] += 1
                print(f"{name}: ffmpeg decodes nothing; opened with Length {ours[4]} frames, "
                      f"decoded {ours[6]}")
            else:
                summary[group]["refused (ffmpeg decodes nothing)"] += 1
            continue
        ref, source, tolerance = defined_length(path, info)
        cut = source == "granule, no last page" or (source != "ffmpeg" and
                                                    ref > info["frames"] + 4096)
        if cut and ref > info["frames"]:
            # a cut file: what it holds, as ffmpeg decodes it
            ref, source = info["frames"], f"ffmpeg (cut; {source} {ref})"
        if ours[0] != "open":
            summary[group]["refused"] += 1
            print(f"{name}: refused ({' '.join(ours[2:])}); ffmpeg {info['frames']} frames, "
                  f"{source} {ref}")
            continue
        rate, length, length_ms, decoded, decoded_ms = (int(ours[2]), int(ours[4]),
                                                        int(ours[5]), int(ours[6]),
                                                        int(ours[7]))
        parts = ours[8]
        faults = []
        if decoded != length:
            faults.append(f"Length {length} but decodes {decoded}")
        if abs(length - ref) > tolerance:
            faults.append(f"Length {length}, {source} {ref}")
        if info["frames"] != ref:
            faults.append(f"(ffmpeg decodes {info['frames']})")
        if length_ms != decoded_ms:
            faults.append(f"ms: Length {length_ms}, decoded {decoded_ms}")
        if decoded_ms != info["ms"]:
            mark = "" if info["frames"] == ref and source != "mpg123" else "("
            faults.append(f"{mark}ms: decoded {decoded_ms}, ffmpeg {info['ms']}"
                          + (")" if mark else ""))
        if parts.count("@") != info["parts"].count("@"):
            faults.append(f"ffmpeg's parts {info['parts']}")
        real = [f for f in faults if not f.startswith("(")]
        if real:
            summary[group]["wrong"] += 1
            print(f"{name}: " + "; ".join(faults) + f" [{parts}]")
        else:
            summary[group]["exact"] += 1
    print()
    totals = collections.Counter()
    for group in sorted(summary):
        counts = summary[group]
        totals.update(counts)
        print(f"{group:24} " + ", ".join(f"{n} {k}" for k, n in sorted(counts.items())))
    print(f"{'all':24} " + ", ".join(f"{n} {k}" for k, n in sorted(totals.items())))


if __name__ == "__main__":
    main()
