#!/usr/bin/python3
"""Generates the media fixtures of the tests with the ffmpeg command: short tones in every format
the player opens, a few tracks for the window tests, and damaged files. Usage: make_fixtures.py DIR
"""
import os
import shutil
import struct
import subprocess
import sys

sys.dont_write_bytecode = True  # the source tree stays clean
import joinlist  # noqa: E402

FFMPEG = shutil.which("ffmpeg") or "/usr/bin/ffmpeg"


def ffmpeg(out, source, *codec):
    # bitexact and no metadata: the files carry no tag, so tests can put their own in front
    cmd = [FFMPEG, "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i", source,
           "-map_metadata", "-1", "-fflags", "+bitexact", "-flags:a", "+bitexact", *codec, out]
    subprocess.run(cmd, check=True)


def tone(freq, seconds, rate=44100):
    return f"sine=frequency={freq}:duration={seconds}:sample_rate={rate},volume=0.5"


def varying(seconds):
    # loud noise then a quiet tone: a VBR encoder spends very different bit rates on the two
    # halves, so an estimate from the first frames is far off
    half = seconds / 2
    return (f"aevalsrc='if(lt(t,{half}),0.6*(random(0)-0.5)*2,0.2*sin(2*PI*440*t))':"
            f"sample_rate=44100:duration={seconds}")


def mp3_cbr(out, source, rate="128k", channels="2"):
    ffmpeg(out, source, "-ac", channels, "-c:a", "libmp3lame", "-b:a", rate, "-id3v2_version",
           "0", "-write_id3v1", "0")


def mp3_vbr(out, source, xing):
    ffmpeg(out, source, "-ac", "2", "-c:a", "libmp3lame", "-q:a", "2", "-id3v2_version", "0",
           "-write_id3v1", "0", "-write_xing", "1" if xing else "0")


# A tone of its own on each channel of a layout (FFmpeg's names), for the channel map: channel k
# at 400 + 150 k Hz, the low-frequency one at 80 Hz (AAC and Opus keep nothing higher there).
LAYOUTS = {"5.1": ["FL", "FR", "FC", "LFE", "BL", "BR"],
           "7.1": ["FL", "FR", "FC", "LFE", "BL", "BR", "SL", "SR"],
           "4.0": ["FL", "FR", "FC", "BC"], "2.1": ["FL", "FR", "LFE"]}


def channel_tones(out, layout, *codec):
    speakers = LAYOUTS[layout]
    inputs = []
    for k, speaker in enumerate(speakers):
        hz = 80 if speaker == "LFE" else 400 + 150 * k
        inputs += ["-f", "lavfi", "-i", f"sine=frequency={hz}:duration=0.6:sample_rate=48000"]
    merge = "".join(f"[{k}:a]" for k in range(len(speakers)))
    subprocess.run([FFMPEG, "-nostdin", "-v", "error", "-y", *inputs, "-filter_complex",
                    f"{merge}amerge=inputs={len(speakers)},channelmap=channel_layout={layout},"
                    "volume=0.5", "-map_metadata", "-1", *codec, out], check=True)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    p = lambda name: os.path.join(out, name)

    # one of each format, 2 s
    mp3_cbr(p("tone-440.mp3"), tone(440, 2))
    mp3_vbr(p("vbr-xing.mp3"), varying(3), True)
    mp3_vbr(p("vbr-noxing.mp3"), varying(3), False)
    ffmpeg(p("tone.wma"), tone(440, 2), "-ac", "2", "-c:a", "wmav2", "-b:a", "128k")
    ffmpeg(p("tone.wav"), tone(440, 2), "-ac", "2", "-c:a", "pcm_s16le")
    # other rates and channel counts
    mp3_cbr(p("tone-mono-22k.mp3"), tone(660, 1.5, 22050), "48k", "1")
    ffmpeg(p("tone-mono-48k.wav"), tone(660, 1.5, 48000), "-ac", "1", "-c:a", "pcm_s16le")
    ffmpeg(p("tone-22k.wma"), tone(660, 1.3, 22050), "-ac", "1", "-c:a", "wmav2", "-b:a", "32k")
    # a 440 Hz tone long enough to record, for the end-to-end test
    mp3_cbr(p("tone-440-long.mp3"), tone(440, 6))
    # tracks for the window tests: three short tones of different pitch and length
    mp3_cbr(p("track1.mp3"), tone(330, 1))
    mp3_cbr(p("track2.mp3"), tone(392, 1.5))
    mp3_cbr(p("track3.mp3"), tone(494, 2))
    ffmpeg(p("track4.wav"), tone(523, 1), "-ac", "2", "-c:a", "pcm_s16le")
    ffmpeg(p("track5.wma"), tone(587, 1), "-ac", "2", "-c:a", "wmav2", "-b:a", "64k")
    # two minutes, 2 MB: long-xing.mp3 with its Info header, long-noxing.mp3 the same frames
    # without it (a file that has to be read whole to be measured)
    mp3_cbr(p("long-xing.mp3"), tone(440, 120))
    data = open(p("long-xing.mp3"), "rb").read()
    info = 144 * 128000 // 44100 + ((data[2] >> 1) & 1)  # the Info frame: 128 kb/s, 44.1 kHz
    assert data[36:40] == b"Info"
    with open(p("long-noxing.mp3"), "wb") as f:
        f.write(data[info:])
    # an ID3v2 tag larger than FFmpeg's 1 MB format probe (cover art does that)
    payload = b"x" * 1_100_000
    frame = b"PRIV" + len(payload).to_bytes(4, "big") + b"\0\0" + payload
    size = bytes([(len(frame) >> s) & 0x7F for s in (21, 14, 7, 0)])
    with open(p("big-tag.mp3"), "wb") as f:
        f.write(b"ID3\x03\x00\x00" + size + frame + open(p("track1.mp3"), "rb").read())
    # a non-ASCII name
    shutil.copyfile(p("track1.mp3"), p("Píseň – ünïcode ✓.mp3"))

    # damaged input
    data = open(p("tone-440.mp3"), "rb").read()
    with open(p("truncated.mp3"), "wb") as f:
        f.write(data[: len(data) * 3 // 5 + 7])  # cut inside a frame
    noise = subprocess.run([FFMPEG, "-nostdin", "-v", "error", "-f", "lavfi", "-i",
                            "anoisesrc=duration=0.5:color=white:sample_rate=44100", "-f", "s16le",
                            "-"], check=True, capture_output=True).stdout
    with open(p("random.mp3"), "wb") as f:
        f.write(noise)
    open(p("empty.wav"), "wb").close()
    wav = bytearray(open(p("tone.wav"), "rb").read())
    # RIFF and data sizes claiming about 4 GB over 2 s of samples
    data_at = wav.index(b"data")
    wav[4:8] = struct.pack("<I", 0xFFFFFFF0)
    wav[data_at + 4:data_at + 8] = struct.pack("<I", 0xFFFFFFC0)
    with open(p("huge-header.wav"), "wb") as f:
        f.write(wav)
    with open(p("truncated.wav"), "wb") as f:
        f.write(open(p("tone.wav"), "rb").read()[: 44 + 44100 * 4 // 2 + 3])
    with open(p("not-audio.wma"), "wb") as f:
        f.write(b"This is a text file with a music extension.\n" * 40)
    os.makedirs(p("folder.mp3"), exist_ok=True)

    # FLAC, Ogg Vorbis, Opus and M4A, encoded from WAV sources whose sample count is the length a
    # gapless decoder gives back: 57368 frames leave an AAC encoder 1000 frames of padding
    source = tone(440, 2) + ",atrim=end_sample=57368"
    ffmpeg(p("source-44k.wav"), source, "-ac", "2", "-c:a", "pcm_s16le")
    ffmpeg(p("source-48k.wav"), tone(440, 2, 48000) + ",atrim=end_sample=62430", "-ac", "2",
           "-c:a", "pcm_s16le")
    encode = lambda name, src, *codec: subprocess.run(
        [FFMPEG, "-nostdin", "-v", "error", "-y", "-i", p(src), "-map_metadata", "-1", "-fflags",
         "+bitexact", "-flags:a", "+bitexact", *codec, p(name)], check=True)
    encode("tone.flac", "source-44k.wav", "-c:a", "flac")
    encode("tone.ogg", "source-44k.wav", "-c:a", "libvorbis", "-q:a", "3")
    encode("tone.opus", "source-48k.wav", "-c:a", "libopus", "-b:a", "64k")
    encode("opus-named.ogg", "source-48k.wav", "-c:a", "libopus", "-b:a", "64k", "-f", "ogg")
    encode("tone-aac.m4a", "source-44k.wav", "-c:a", "aac", "-b:a", "128k")
    encode("tone-alac.m4a", "source-44k.wav", "-c:a", "alac")
    # one signal cut at odd sample positions into four tracks, for the joins between tracks
    joinlist.make(out)
    # every channel of 5.1 and 7.1 in each format that carries them, and two odd WAV masks
    for layout in ("5.1", "7.1"):
        name = "ch" + layout.replace(".", "")
        channel_tones(p(name + ".flac"), layout, "-c:a", "flac")
        channel_tones(p(name + ".ogg"), layout, "-c:a", "libvorbis", "-q:a", "8")
        channel_tones(p(name + ".opus"), layout, "-c:a", "libopus", "-b:a", "384k")
        channel_tones(p(name + ".m4a"), layout, "-c:a", "aac", "-b:a", "384k")
        channel_tones(p(name + ".wav"), layout, "-c:a", "pcm_s16le")
    channel_tones(p("ch40.wav"), "4.0", "-c:a", "pcm_s16le")
    channel_tones(p("ch21.wav"), "2.1", "-c:a", "pcm_s16le")
    # more than 16 bits: a quiet tone whose low bits are most of it
    quiet = tone(440, 1) + ",volume=-70dB"
    ffmpeg(p("quiet-24.wav"), quiet, "-ac", "2", "-c:a", "pcm_s24le")
    ffmpeg(p("quiet-24.flac"), quiet, "-ac", "2", "-c:a", "flac", "-sample_fmt", "s32")
    ffmpeg(p("quiet-float.wav"), quiet, "-ac", "2", "-c:a", "pcm_f32le")
    encode("faststart.m4a", "source-44k.wav", "-c:a", "aac", "-b:a", "128k", "-movflags",
           "+faststart")
    # M4A without an edit list, as older encoders wrote them: one with iTunSMPB naming FFmpeg's
    # 1024 frames of priming and the source's length, one that says neither (played whole), and
    # one whose AAC frames cannot be decoded
    encode("no-edits.m4a", "source-44k.wav", "-c:a", "aac", "-b:a", "128k", "-use_editlist", "0")
    plain = open(p("no-edits.m4a"), "rb").read()
    moov = plain.rindex(b"moov") - 4
    assert moov + struct.unpack(">I", plain[moov:moov + 4])[0] == len(plain)
    box = lambda kind, body: struct.pack(">I", 8 + len(body)) + kind + body
    smpb = " 00000000 00000400 %08X %016X" % (1000, 57368) + " 00000000" * 8
    freeform = box(b"----", box(b"mean", b"\0" * 4 + b"com.apple.iTunes") +
                   box(b"name", b"\0" * 4 + b"iTunSMPB") +
                   box(b"data", b"\0\0\0\1" + b"\0" * 4 + smpb.encode()))
    hdlr = box(b"hdlr", b"\0" * 8 + b"mdirappl" + b"\0" * 9)
    udta = box(b"udta", box(b"meta", b"\0" * 4 + hdlr + box(b"ilst", freeform)))
    size = struct.unpack(">I", plain[moov:moov + 4])[0] + len(udta)
    with open(p("smpb-no-edits.m4a"), "wb") as f:
        f.write(plain[:moov] + struct.pack(">I", size) + plain[moov + 4:] + udta)
    mdat = plain.index(b"mdat") + 4
    with open(p("undecodable.m4a"), "wb") as f:
        f.write(plain[:mdat] + b"\xff" * (moov - mdat) + plain[moov:])
    # WMA of fewer packets than a trial decode reads
    encode("short.wma", "source-44k.wav", "-af", "atrim=end_sample=3000", "-c:a", "wmav2",
           "-b:a", "128k")
    # a film's Theora stream before the sound (Vorbis, or FLAC)
    for name, codec in (("video-vorbis.ogg", "libvorbis"), ("video-flac.ogg", "flac")):
        subprocess.run([FFMPEG, "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                        "testsrc=size=32x32:rate=5:duration=1.3", "-i", p("source-44k.wav"),
                        "-map", "0:v", "-map", "1:a", "-map_metadata", "-1", "-fflags",
                        "+bitexact", "-c:v", "libtheora", "-c:a", codec, "-f", "ogg", p(name)],
                       check=True)
    flac = bytearray(open(p("tone.flac"), "rb").read())
    total = int.from_bytes(flac[21:26], "big") & 0xFFFFFFFFF  # STREAMINFO's 36-bit count
    for name, claim in (("untold-length.flac", 0), ("lying-length.flac", total * 3)):
        flac[21:26] = ((int.from_bytes(flac[21:26], "big") & ~0xFFFFFFFFF) | claim).to_bytes(
            5, "big")
        with open(p(name), "wb") as f:
            f.write(flac)
    # tone.flac's frames without its "fLaC" and metadata (a stream cut from a broadcast), and
    # the same after bytes that hold no frame header
    flac = open(p("tone.flac"), "rb").read()
    at = 4
    while True:
        last, size = flac[at] & 0x80, int.from_bytes(flac[at + 1:at + 4], "big")
        at += 4 + size
        if last:
            break
    with open(p("frames-only.flac"), "wb") as f:
        f.write(flac[at:])
    with open(p("junk-then-frames.flac"), "wb") as f:
        f.write(bytes((i * 37 + 11) % 255 for i in range(3000)) + flac[at:])
    # cut inside a frame; an Ogg file inside its last page (a page holds up to a second here), an
    # M4A file whose index comes last loses it
    for name, keep in (("tone.flac", 0.6), ("tone.ogg", 0.9), ("tone.opus", 0.9),
                       ("tone-aac.m4a", 0.6), ("faststart.m4a", 0.6)):
        data = open(p(name), "rb").read()
        stem, ext = os.path.splitext(name)
        with open(p("cut-" + stem + ext), "wb") as f:
            f.write(data[: int(len(data) * keep) + 7])
        with open(p("random" + ext), "wb") as f:
            f.write(noise)
    ogg = bytearray(open(p("tone.ogg"), "rb").read())
    last = ogg.rindex(b"OggS")
    ogg[last + 40] ^= 0x55  # the last page's checksum no longer holds
    with open(p("bad-last-page.ogg"), "wb") as f:
        f.write(ogg)

    # MP3s as they come from the wild: what surrounds the frames must not count as sound
    clean = open(p("track1.mp3"), "rb").read()
    title = lambda text: id3v2(b"TIT2" + len(text.encode() + b"\0").to_bytes(4, "big") +
                               b"\0\0\0" + text.encode())
    with open(p("two-id3v2.mp3"), "wb") as f:
        f.write(title("First tag") + title("Second tag") + clean)
    junk = bytes((i * 151 + 7) % 256 for i in range(2048))  # 0xFF bytes among them, no frames
    with open(p("junk-before.mp3"), "wb") as f:
        f.write(junk + clean)
    with open(p("ape-id3v1.mp3"), "wb") as f:
        f.write(clean + ape_tag({"Title": "Song", "Artist": "Band"}) + id3v1("Song"))
    with open(p("lyrics3-id3v1.mp3"), "wb") as f:
        lyrics = b"LYRICSBEGIN" + b"IND00003110" + b"LYR00010La la la.\r"
        f.write(clean + lyrics + b"%06dLYRICS200" % len(lyrics) + id3v1("Song"))
    # the first one and two frames of a stream without a Xing header (UI sounds are this short)
    plain = p("plain.mp3")
    ffmpeg(plain, tone(440, 1), "-ac", "2", "-c:a", "libmp3lame", "-b:a", "128k",
           "-write_xing", "0", "-id3v2_version", "0", "-write_id3v1", "0")
    data = open(plain, "rb").read()
    first = mpeg1_frame_length(data, 0)
    second = mpeg1_frame_length(data, first)
    with open(p("one-frame.mp3"), "wb") as f:
        f.write(data[:first])
    with open(p("two-frames.mp3"), "wb") as f:
        f.write(data[:first + second])
    # the same stream with a frame of another rate after it, as junk at a file's end may look:
    # the decoder ends the stream there, so the length leaves it out
    ffmpeg(p("tail-48k.mp3"), tone(440, 0.2, 48000), "-ac", "2", "-c:a", "libmp3lame", "-b:a",
           "128k", "-write_xing", "0", "-id3v2_version", "0", "-write_id3v1", "0")
    tail = open(p("tail-48k.mp3"), "rb").read()
    with open(p("other-rate-tail.mp3"), "wb") as f:
        f.write(data + tail[:144 * 128000 // 48000 + ((tail[2] >> 1) & 1)])
    os.remove(p("tail-48k.mp3"))
    # an APE tag written over the tail of the last frame, whose data all lies before the tag (a
    # silent end leaves the frame's data in the bit reservoir): that frame still plays;
    quiet = p("quiet-end.mp3")
    ffmpeg(quiet, tone(440, 0.5) + ",apad=pad_dur=0.5", "-ac", "2", "-c:a", "libmp3lame",
           "-b:a", "128k", "-write_xing", "0", "-id3v2_version", "0", "-write_id3v1", "0")
    data = open(quiet, "rb").read()
    at = 0
    while at + mpeg1_frame_length(data, at) < len(data):
        at += mpeg1_frame_length(data, at)
    with open(p("ape-over-frame.mp3"), "wb") as f:
        # a tag longer than the frame's lost tail, so the reference decoder reads it as that
        # tail and plays the frame too
        f.write(data[:at + 4 + 32 + 8] + ape_tag({"Title": "Song", "Comment": "x" * 500}))
    os.remove(quiet)
    # an Info frame followed by a damaged frame: the encoder delay it states still applies
    data = open(p("track1.mp3"), "rb").read()
    info = mpeg1_frame_length(data, 0)
    damaged = mpeg1_frame_length(data, info)
    with open(p("info-damaged-next.mp3"), "wb") as f:
        f.write(data[:info] + data[info:info + damaged // 2] + data[info + damaged:])
    # a download cut inside the first frame after the Info frame: nothing to play
    with open(p("info-cut.mp3"), "wb") as f:
        f.write(data[:info + damaged // 2])
    # a download cut inside the last packet: the decoder refuses the block it leaves short
    data = open(p("tone.wma"), "rb").read()
    with open(p("cut-packet.wma"), "wb") as f:
        f.write(data[:-1000])
    replaygain(p)
    wav_layouts(p)
    two_rates(p)
    chained(p)


# The same five 16-bit values (multiples of 16, so that 12 bits hold them) stored as WAV files
# keep them in every layout: "wavs-<case>.wav" must all decode to WAV_VALUES / 32768.
WAV_VALUES = [0x1230, -0x4000, 0x7FF0, -0x8000, 0]


def wav_layouts(p):
    def riff(data, big=False, bits=16, block=2, valid=None):
        e = ">" if big else "<"
        fmt_body = struct.pack(e + "HHIIHH", 1 if valid is None else 0xFFFE, 1, 8000,
                               8000 * block, block, bits)
        if valid is not None:  # extensible: valid bits, mask, the PCM sub-format's GUID
            fmt_body += struct.pack(e + "HHI", 22, valid, 4) + bytes.fromhex(
                "0100000000001000800000aa00389b71")
        body = (b"WAVE" + b"fmt " + struct.pack(e + "I", len(fmt_body)) + fmt_body + b"data" +
                struct.pack(e + "I", len(data)) + data)
        return (b"RIFX" if big else b"RIFF") + struct.pack(e + "I", len(body)) + body

    def samples(width, shift, big=False, container=None):
        out = b""
        for v in WAV_VALUES:
            word = (v << shift).to_bytes(width, "big" if big else "little", signed=True)
            pad = bytes((container or width) - width)
            out += pad + word if big else word + pad
        return out

    cases = {
        "rifx-16": riff(samples(2, 0, big=True), big=True),
        "rifx-24": riff(samples(3, 8, big=True), big=True, bits=24, block=3),
        "int-64": riff(samples(8, 48), bits=64, block=8),
        "int-12": riff(samples(2, 0), bits=12),
        "24-in-4": riff(samples(3, 8, container=4), bits=24, block=4),
        "ext-no-size": riff(samples(2, 0), bits=0, block=0, valid=16),
        "id3-first": id3v2(b"TIT2" + struct.pack(">I", 4) + b"\0\0\0abc") + riff(samples(2, 0)),
    }
    for name, data in cases.items():
        with open(p(f"wavs-{name}.wav"), "wb") as f:
            f.write(data)


# Tones levelled by ReplayGain tags of every kind: "rg-<case>.<ext>", each with the gains its
# name says (the test's table holds what each must sound like).
def replaygain(p):
    source = tone(1000, 1)  # far below full scale: room for a gain of +6 dB
    codecs = {"flac": ["-c:a", "flac"], "ogg": ["-c:a", "libvorbis", "-q:a", "6"],
              "opus": ["-c:a", "libopus", "-b:a", "128k"]}
    comments = {
        "track": {"REPLAYGAIN_TRACK_GAIN": "-6.00 dB", "REPLAYGAIN_TRACK_PEAK": "0.25"},
        "album": {"REPLAYGAIN_TRACK_GAIN": "-6.00 dB", "REPLAYGAIN_ALBUM_GAIN": "-3.00 dB",
                  "ALBUM": "Levels", "ALBUMARTIST": "Band"},
        "trackonly": {"replaygain_track_gain": "-6 dB", "ALBUM": "Levels", "ALBUMARTIST": "Band"},
        "peak": {"REPLAYGAIN_TRACK_GAIN": "+12.00 dB", "REPLAYGAIN_TRACK_PEAK": "0.5"},
        "zero": {"REPLAYGAIN_TRACK_GAIN": "0.00 dB", "REPLAYGAIN_TRACK_PEAK": "2.0"},
        "peakonly": {"REPLAYGAIN_TRACK_PEAK": "2.0"},
        "other": {"REPLAYGAIN_TRACK_GAIN": "-6.00 dB", "REPLAYGAIN_ALBUM_GAIN": "-3.00 dB",
                  "ALBUM": "Levels", "ALBUMARTIST": "Another band"},
    }
    def tagged(name, codec, fields):
        meta = [a for k, v in fields.items() for a in ("-metadata", f"{k}={v}")]
        ffmpeg(p(name), source, "-ac", "2", *codecs[codec], *meta)
    for case, fields in comments.items():
        tagged(f"rg-{case}.flac", "flac", fields)
    tagged("rg-none.flac", "flac", {})
    tagged("rg-track.ogg", "ogg", comments["track"])
    # Opus's own: -11 dB below -23 LUFS is -6 dB on ReplayGain's reference
    tagged("rg-track.opus", "opus", {"R128_TRACK_GAIN": str(-11 * 256)})
    tagged("rg-album.opus", "opus", {"R128_TRACK_GAIN": "0", "R128_ALBUM_GAIN": str(-8 * 256),
                                     "ALBUM": "Levels", "ALBUMARTIST": "Band"})
    # MP3: ID3v2 user texts (the description in any case) and an APE tag
    plain = p("rg-plain.mp3")
    mp3_cbr(plain, source, "192k")
    audio = open(plain, "rb").read()
    os.remove(plain)
    def txxx(description, value):
        body = b"\0" + description.encode() + b"\0" + value.encode()
        return b"TXXX" + len(body).to_bytes(4, "big") + b"\0\0" + body
    with open(p("rg-track.mp3"), "wb") as f:
        f.write(id3v2(txxx("replaygain_track_gain", "-6.00 dB") +
                      txxx("REPLAYGAIN_TRACK_PEAK", "0.25")) + audio)
    with open(p("rg-ape.mp3"), "wb") as f:
        f.write(audio + ape_tag({"REPLAYGAIN_TRACK_GAIN": "-6.00 dB"}) + id3v1("Song"))
    # MP4: an iTunes freeform item, put into the item list FFmpeg wrote for the title
    m4a = p("rg-track.m4a")
    ffmpeg(m4a, source, "-ac", "2", "-c:a", "aac", "-b:a", "192k", "-metadata", "title=Tone")
    data = bytearray(open(m4a, "rb").read())
    atom = lambda name, body: (8 + len(body)).to_bytes(4, "big") + name + body
    item = atom(b"----", atom(b"mean", bytes(4) + b"com.apple.iTunes") +
                atom(b"name", bytes(4) + b"replaygain_track_gain") +
                atom(b"data", (1).to_bytes(4, "big") + bytes(4) + b"-6.00 dB"))
    path = [b"moov", b"udta", b"meta", b"ilst"]
    at, end, starts = 0, len(data), []
    for name in path:  # each atom of the path inside the one before
        while data[at + 4:at + 8] != name:
            at += int.from_bytes(data[at:at + 4], "big")
            assert at < end, name
        starts.append(at)
        end = at + int.from_bytes(data[at:at + 4], "big")
        at += 8 + (4 if name == b"meta" else 0)
    assert data.index(b"mdat") < starts[0]  # the index comes last: no offset moves
    data[end:end] = item
    for s in starts:
        data[s:s + 4] = (int.from_bytes(data[s:s + 4], "big") + len(item)).to_bytes(4, "big")
    with open(m4a, "wb") as f:
        f.write(data)


# A FLAC stream whose rate changes part-way, as frames of two encodes joined: 24576 frames of
# 440 Hz at 44.1 kHz, then 29672 of 880 Hz at 48 kHz. The second part's frames are numbered on
# from the first's and the stream info counts both, at the first part's rate.
TWO_RATES = ((44100, 440, 24576), (48000, 880, 29672))


def two_rates(p):
    frames = []
    for rate, hz, count in TWO_RATES:
        part = p(f"part-{rate}.flac")
        ffmpeg(part, tone(hz, 1, rate) + f",atrim=end_sample={count}", "-ac", "2", "-c:a",
               "flac", "-sample_fmt", "s16", "-frame_size", "4096")
        data = open(part, "rb").read()
        os.remove(part)
        if not frames:
            head = bytearray(flac_metadata(data))
        frames += flac_frames(data[len(flac_metadata(data)):])
    total = sum(count for _, _, count in TWO_RATES)
    info = 8  # STREAMINFO's body, after "fLaC" and its block header
    head[info + 4:info + 10] = bytes(6)  # frame sizes: unknown
    fields = int.from_bytes(head[info + 10:info + 18], "big")
    head[info + 10:info + 18] = ((fields & ~0xFFFFFFFFF) | total).to_bytes(8, "big")
    head[info + 18:info + 34] = bytes(16)  # no MD5
    out = bytes(head)
    for number, (header, body) in enumerate(frames):
        frame = header + bytes([number]) + body[0]  # numbers below 128 are one byte
        frame += bytes([crc8(frame)]) + body[1]
        out += frame + crc16(frame).to_bytes(2, "big")
    with open(p("two-rates.flac"), "wb") as f:
        f.write(out)


def chained(p):
    # two Ogg streams one after the other, each with its own serial number: a chained stream
    # whose second link has another rate (Vorbis) or channel count (both)
    for name, codec, rates in (("two-rates.ogg", ["-c:a", "libvorbis", "-q:a", "4"], None),
                               ("two-layouts.opus", ["-c:a", "libopus", "-b:a", "96k"], 48000)):
        out = b""
        for link, ((rate, hz, count), channels) in enumerate(zip(TWO_RATES, ("2", "1"))):
            rate = rates or rate
            part = p(f"link-{link}.ogg")
            ffmpeg(part, tone(hz, 1, rate) + f",atrim=end_sample={count}", "-ac", channels,
                   *codec, "-f", "ogg", "-serial_offset", str(link * 1000))
            out += open(part, "rb").read()
            os.remove(part)
        with open(p(name), "wb") as f:
            f.write(out)


def flac_metadata(data):
    at = 4
    while True:
        last, size = data[at] & 0x80, int.from_bytes(data[at + 1:at + 4], "big")
        at += 4 + size
        if last:
            return data[:at]


def crc8(data):
    crc = 0
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = ((crc << 1) ^ 0x07 if crc & 0x80 else crc << 1) & 0xFF
    return crc


def crc16(data):
    crc = 0
    for byte in data:
        crc ^= byte << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x8005 if crc & 0x8000 else crc << 1) & 0xFFFF
    return crc


def flac_frames(audio):
    """A fixed-block FLAC stream's frames, each as its header's first four bytes and, around
    where its number goes, (the header's extra bytes, the rest before the CRC-16). A frame starts
    at a sync code whose header's CRC-8 holds and whose number is the next one."""
    starts = []
    at = 0
    while at < len(audio):
        if audio[at] == 0xFF and audio[at + 1] == 0xF8 and audio[at + 4] == len(starts):
            extra = {6: 1, 7: 2}.get(audio[at + 2] >> 4, 0) + {12: 1, 13: 2, 14: 2}.get(
                audio[at + 2] & 15, 0)
            if crc8(audio[at:at + 5 + extra]) == audio[at + 5 + extra]:
                starts.append((at, extra))
        at += 1
    frames = []
    for i, (start, extra) in enumerate(starts):
        end = starts[i + 1][0] if i + 1 < len(starts) else len(audio)
        assert crc16(audio[start:end - 2]) == int.from_bytes(audio[end - 2:end], "big")
        frames.append((audio[start:start + 4],
                       (audio[start + 5:start + 5 + extra], audio[start + 6 + extra:end - 2])))
    return frames


def id3v2(frames):
    size = bytes([(len(frames) >> s) & 0x7F for s in (21, 14, 7, 0)])
    return b"ID3\x03\x00\x00" + size + frames


def id3v1(title):
    return b"TAG" + title.encode().ljust(30, b"\0") + bytes(95)


def ape_tag(items):
    body = b"".join(len(v.encode()).to_bytes(4, "little") + bytes(4) + k.encode() + b"\0" +
                    v.encode() for k, v in items.items())
    size = len(body) + 32  # the items and the footer
    fields = lambda flags: (b"APETAGEX" + (2000).to_bytes(4, "little") + size.to_bytes(4, "little")
                            + len(items).to_bytes(4, "little") + flags.to_bytes(4, "little") +
                            bytes(8))
    return fields(0xA0000000) + body + fields(0x80000000)  # header, items, footer


def mpeg1_frame_length(data, at):
    # MPEG-1 layer III: 144 * bit rate / sample rate, plus the padding byte
    rates = [0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320]
    bitrate = rates[data[at + 2] >> 4] * 1000
    rate = [44100, 48000, 32000][(data[at + 2] >> 2) & 3]
    return 144 * bitrate // rate + ((data[at + 2] >> 1) & 1)


if __name__ == "__main__":
    main()
