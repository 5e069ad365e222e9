#!/usr/bin/python3
"""End to end: a private PulseAudio server with a null sink, the player playing a 440 Hz MP3
through its sound server output, and the sink's monitor recorded with parec. Checks that the tone
arrived (level and frequency within 2 %) and that SetVolume(0) silences it; that a -110 dBFS tone
in a 24-bit file reaches a float sink with its low bits; that a list of tracks cut from one signal
plays as that signal, nothing lost or added at the joins; and that after a seek
while playing, Position follows the sound to the end instead of standing still while the server
plays out what it was given after the seek; and that a stream the user moved to another sink stays
there, the same stream, when the default source changes.
Usage: e2e_pulse.py PLAY_TOOL TONE_440_MP3. Exit 77 (skipped) only when pulseaudio is missing.
"""
import math
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # the source tree stays clean
import joinlist  # noqa: E402

RATE = 44100
SKIP = 77


def stop(proc):
    if proc is None or proc.poll() is not None:
        return
    os.kill(proc.pid, signal.SIGTERM)
    try:
        proc.wait(timeout=5)
    except subprocess.TimeoutExpired:
        os.kill(proc.pid, signal.SIGKILL)
        proc.wait()


def left_channel(raw):
    samples = struct.unpack("<%dh" % (len(raw) // 2), raw[: len(raw) // 4 * 4])
    return samples[0::2]


def rms(xs):
    return math.sqrt(sum(x * x for x in xs) / len(xs)) if xs else 0.0


def frequency(xs):
    # rising zero crossings, placed between samples by linear interpolation
    crossings = []
    for i in range(1, len(xs)):
        if xs[i - 1] < 0 <= xs[i]:
            crossings.append(i - 1 + (-xs[i - 1]) / (xs[i] - xs[i - 1]))
    if len(crossings) < 2:
        return 0.0
    return (len(crossings) - 1) * RATE / (crossings[-1] - crossings[0])


def decode_left(path):
    raw = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-f", "s16le", "-ac",
                          "2", "-ar", str(RATE), "-"], check=True, capture_output=True).stdout
    return left_channel(raw)


def sink_inputs(pactl, env):
    """{sink input index: sink index} of the streams the server plays."""
    out = subprocess.run([pactl, "list", "short", "sink-inputs"], env=env, capture_output=True,
                         text=True, check=True).stdout
    return {int(f[0]): int(f[1]) for f in (line.split() for line in out.splitlines()) if f}


def sink_index(pactl, env, name):
    out = subprocess.run([pactl, "list", "short", "sinks"], env=env, capture_output=True,
                         text=True, check=True).stdout
    return next(int(f[0]) for f in (line.split() for line in out.splitlines()) if f[1] == name)


def routing_kept(tool, tone, pactl, env):
    """The user moves the playing stream to a second sink (as pavucontrol does), then the default
    source changes (a microphone plugged in): the stream stays where it was put, not torn down
    and made anew on the default sink."""
    subprocess.run([pactl, "load-module", "module-null-sink", "sink_name=ondrix_other",
                    "rate=%d" % RATE, "channels=2"], env=env, capture_output=True, check=True)
    for command in (["set-default-sink", "ondrix_null"],
                    ["set-default-source", "ondrix_null.monitor"]):
        subprocess.run([pactl, *command], env=env, check=True)
    other = sink_index(pactl, env, "ondrix_other")
    player = subprocess.Popen([tool, tone, "1000", "15"], env=env, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, text=True)
    try:
        deadline = time.time() + 10
        while not sink_inputs(pactl, env):
            if player.poll() is not None or time.time() > deadline:
                print("FAILED: the player's stream did not appear on the server")
                return False
            time.sleep(0.05)
        stream = next(iter(sink_inputs(pactl, env)))
        subprocess.run([pactl, "move-sink-input", str(stream), "ondrix_other"], env=env,
                       check=True)
        time.sleep(0.3)
        subprocess.run([pactl, "set-default-source", "ondrix_other.monitor"], env=env,
                       check=True)
        time.sleep(1.5)  # what the player makes of it, given time
        now = sink_inputs(pactl, env)
        print("moved stream %d to sink %d; after the default source changed: %s"
              % (stream, other, now))
        if now != {stream: other}:
            print("FAILED: the stream the user moved was not left where it was put")
            return False
        return True
    finally:
        stop(player)


def write_quiet_wav(path, seconds=2.0, hz=1000.0, dbfs=-110.0):
    """A 24-bit stereo WAV holding a sine at `dbfs` (RMS below full scale): 9 bits of 24."""
    amplitude = 10 ** (dbfs / 20) * math.sqrt(2) * (2 ** 23)
    frames = int(seconds * RATE)
    data = bytearray()
    for i in range(frames):
        v = int(round(amplitude * math.sin(2 * math.pi * hz * i / RATE)))
        b = (v & 0xFFFFFF).to_bytes(3, "little")
        data += b + b
    header = struct.pack("<4sI4s4sIHHIIHH4sI", b"RIFF", 36 + len(data), b"WAVE", b"fmt ", 16, 1,
                         2, RATE, RATE * 6, 6, 24, b"data", len(data))
    with open(path, "wb") as f:
        f.write(header + data)


def level_dbfs(xs):
    return 20 * math.log10(max(rms(xs), 1e-30))


def tone_dbfs(xs, hz):
    """The RMS level of one frequency in `xs` (floats), by a Goertzel filter."""
    k = 2 * math.cos(2 * math.pi * hz / RATE)
    s1 = s2 = 0.0
    for x in xs:
        s1, s2 = x + k * s1 - s2, s1
    power = s1 * s1 + s2 * s2 - k * s1 * s2
    return 20 * math.log10(max(math.sqrt(2 * power) / len(xs) / math.sqrt(2), 1e-30))


def low_bits_kept(tool, pactl, parec, runtime, env):
    """A -110 dBFS tone in a 24-bit file reaches a float sink at its level, a sine still: the
    16-bit path truncated it to -92.5 dBFS with its third harmonic at -102 dBFS."""
    subprocess.run([pactl, "load-module", "module-null-sink", "sink_name=ondrix_float",
                    "format=float32le", "rate=%d" % RATE, "channels=2"], env=env,
                   capture_output=True, check=True)
    subprocess.run([pactl, "set-default-sink", "ondrix_float"], env=env, check=True)
    quiet = os.path.join(runtime, "quiet-24bit.wav")
    write_quiet_wav(quiet)
    recording = os.path.join(runtime, "float-monitor.raw")
    recorder = subprocess.Popen(
        [parec, "-d", "ondrix_float.monitor", "--raw", "--format=float32le", "--rate=%d" % RATE,
         "--channels=2", "--latency-msec=20"], env=env, stdout=open(recording, "wb"))
    try:
        time.sleep(0.5)
        played = subprocess.run([tool, quiet, "1000"], env=env, capture_output=True, text=True,
                                timeout=60)
        time.sleep(0.3)
    finally:
        stop(recorder)
    raw = open(recording, "rb").read()
    got = struct.unpack("<%df" % (len(raw) // 4), raw[: len(raw) // 8 * 8])[0::2]
    start = next((i for i, x in enumerate(got) if x != 0.0), None)
    if played.returncode != 0 or start is None:
        print("FAILED: the quiet 24-bit file did not reach the float sink: %s"
              % played.stderr.strip())
        return False
    part = got[start + RATE // 4: start + RATE // 4 + RATE]
    level, third = level_dbfs(part), tone_dbfs(part, 3000.0)
    print("24-bit -110 dBFS tone on a float sink: %.1f dBFS, third harmonic %.1f dBFS"
          % (level, third))
    if abs(level + 110.0) > 1.0 or third > -125.0:
        print("FAILED: the low bits did not arrive (expected -110 dBFS and no harmonics)")
        return False
    return True


def joins_seamless(tool, pactl, parec, fixtures, runtime, env):
    """Four tracks cut at odd positions from one signal, played as the window plays a list
    (each next one prepared): from the middle of the first track on, the WAV and FLAC lists
    arrive on the sink sample for sample, and in the lossy lists and one that mixes formats (a
    48 kHz Opus track among them) the 50 ms before and after each join lie where the signal has
    them. (The recorder may miss the very start of a stream, so that is not looked at.)"""
    subprocess.run([pactl, "set-default-sink", "ondrix_null"], env=env, check=True)
    source = joinlist.source(fixtures)
    left = source[0::2]
    anchor = joinlist.CUTS[1] // 2
    ok = True
    for exts in [[ext] * 4 for ext in joinlist.FORMATS] + [joinlist.MIXED]:
        recording = os.path.join(runtime, "joins-%s.raw" % "-".join(exts))
        # a recorder with a long buffer, which loses nothing on a loaded machine
        recorder = subprocess.Popen(
            [parec, "-d", "ondrix_null.monitor", "--raw", "--format=s16le", "--rate=%d" % RATE,
             "--channels=2", "--latency-msec=1000"], env=env, stdout=open(recording, "wb"))
        try:
            # A monitor whose sink sat unused a while (the float sink was the default) delivers
            # nothing for its first second or two: the list starts once the recorder has data.
            deadline = time.time() + 10
            while os.path.getsize(recording) == 0 and time.time() < deadline:
                time.sleep(0.05)
            time.sleep(0.3)
            files = joinlist.files(fixtures, exts)
            played = subprocess.run([tool, "--list", *files], env=env, capture_output=True,
                                    text=True, timeout=60)
            time.sleep(2.5)  # the recorder's buffer has reached the file
        finally:
            stop(recorder)
        data = open(recording, "rb").read()
        got = struct.unpack("<%dh" % (len(data) // 4 * 2), data[: len(data) // 4 * 4])
        what = "+".join(exts)
        if played.returncode != 0:
            print("FAILED: the list %s did not play: %s" % (what, played.stderr.strip()))
            ok = False
            continue
        if exts[0] == exts[1] and exts[0] in ("wav", "flac"):
            # found by 20 frames of the first track's middle, to the sample
            mark = source[2 * anchor: 2 * anchor + 40]
            at = next((i for i in range(0, len(got) - 40, 2) if got[i: i + 40] == mark), None)
            exact = at is not None and got[at: at + len(source) - 2 * anchor] == \
                source[2 * anchor:]
            where = ""
            if at is not None and not exact:
                tail = source[2 * anchor:]
                bad = next((i for i in range(min(len(tail), len(got) - at))
                            if got[at + i] != tail[i]), min(len(tail), len(got) - at))
                where = " from frame %d of %d" % (anchor + bad // 2, len(source) // 2)
            print("%s on the sink: %s%s" % (what, "sample for sample" if exact else "not exact",
                                           where))
            if not exact:
                print("FAILED: the lossless list did not arrive sample for sample")
                ok = False
            continue
        errors = joinlist.offsets(got[0::2], left)
        print("%s on the sink: join errors %s samples" % (what, errors))
        if any(errors):
            print("FAILED: samples lost or added at a join")
            ok = False
    return ok


def main():
    tool, tone = sys.argv[1], sys.argv[2]
    pulseaudio = shutil.which("pulseaudio")
    parec = shutil.which("parec")
    pactl = shutil.which("pactl")
    if pulseaudio is None:
        print("SKIPPED: pulseaudio is not installed (the end-to-end test needs it)")
        return SKIP
    if parec is None or pactl is None:
        print("FAILED: pulseaudio is installed but parec/pactl (pulseaudio-utils) are missing")
        return 1
    runtime = tempfile.mkdtemp(prefix="ondrix-pulse-")
    socket = os.path.join(runtime, "native")
    env = dict(os.environ, XDG_RUNTIME_DIR=runtime, HOME=runtime,
               PULSE_RUNTIME_PATH=os.path.join(runtime, "pulse"),
               PULSE_STATE_PATH=os.path.join(runtime, "state"), PULSE_SERVER="unix:" + socket)
    env.pop("DISPLAY", None)
    server = recorder = None
    try:
        # --system=false and no default script: it runs as root too, loads only what we name
        server = subprocess.Popen(
            [pulseaudio, "--daemonize=no", "--system=false", "-n", "--exit-idle-time=-1",
             "--disallow-exit", "--use-pid-file=no", "--disable-shm=yes", "--log-target=stderr",
             "--load=module-null-sink sink_name=ondrix_null rate=%d channels=2" % RATE,
             "--load=module-native-protocol-unix auth-anonymous=1 socket=" + socket],
            env=env, stdout=subprocess.DEVNULL, stderr=open(os.path.join(runtime, "log"), "w"))
        deadline = time.time() + 15
        while subprocess.run([pactl, "info"], env=env, capture_output=True).returncode != 0:
            if server.poll() is not None or time.time() > deadline:
                print("FAILED: the PulseAudio server did not start:")
                print(open(os.path.join(runtime, "log")).read())
                return 1
            time.sleep(0.1)

        recording = os.path.join(runtime, "monitor.raw")
        recorder = subprocess.Popen(
            [parec, "-d", "ondrix_null.monitor", "--raw", "--format=s16le", "--rate=%d" % RATE,
             "--channels=2", "--latency-msec=20"],
            env=env, stdout=open(recording, "wb"))
        time.sleep(0.5)
        play_env = dict(env)
        play_env.pop("ONDRIX_AUDIO_OUTPUT", None)  # the default: the sound server
        played = subprocess.run([tool, tone, "1000", "15", "2500"], env=play_env,
                                capture_output=True, text=True, timeout=60)
        time.sleep(0.3)
        stop(recorder)
        recorder = None
        print(played.stdout.strip())
        if played.returncode != 0:
            print("FAILED: the player failed: " + played.stderr.strip())
            return 1

        got = left_channel(open(recording, "rb").read())
        reference = decode_left(tone)
        threshold = max(abs(x) for x in reference) / 4
        start = next((i for i, x in enumerate(got) if abs(x) > threshold), None)
        if start is None:
            print("FAILED: no sound arrived at the sink (%d samples recorded)" % len(got))
            return 1
        tone_part = got[start + RATE // 2: start + 2 * RATE]
        ref_part = reference[RATE // 2: 2 * RATE]
        level, ref_level = rms(tone_part), rms(ref_part)
        freq = frequency(tone_part)
        muted_part = got[start + int(3.0 * RATE): start + int(5.0 * RATE)]
        print("level %.1f (file %.1f), frequency %.2f Hz, after SetVolume(0): peak %d over %d "
              "samples" % (level, ref_level, freq, max((abs(x) for x in muted_part), default=-1),
                           len(muted_part)))
        ok = True
        if abs(level - ref_level) > 0.02 * ref_level:
            print("FAILED: level differs by more than 2 %")
            ok = False
        if abs(freq - 440.0) > 0.02 * 440.0:
            print("FAILED: frequency differs from 440 Hz by more than 2 %")
            ok = False
        if len(muted_part) < RATE // 2 or max(abs(x) for x in muted_part) > 0:
            print("FAILED: sound after SetVolume(0)")
            ok = False

        # Seek at 1 s to 3 s, then play to the end: the last position read before the end (every
        # 20 ms) is the end less the last 0.1 s, not a second or so behind the sound.
        played = subprocess.run([tool, tone, "1000", "15", "-1", "1000", "3000"], env=play_env,
                                capture_output=True, text=True, timeout=60)
        print(played.stdout.strip())
        lines = dict(line.split(": ", 1) for line in played.stdout.splitlines() if ": " in line)
        length = int(played.stdout.split("length ")[1].split()[0])
        before_end = int(lines.get("before the end", "position 0").split()[1])
        if played.returncode != 0 or "sought to 3000" not in played.stdout:
            print("FAILED: the seek did not happen: " + played.stderr.strip())
            ok = False
        elif length - before_end > 300:
            print("FAILED: after a seek the position jumped from %d to the end (%d)"
                  % (before_end, length))
            ok = False
        if not routing_kept(tool, tone, pactl, play_env):
            ok = False
        if not low_bits_kept(tool, pactl, parec, runtime, play_env):
            ok = False
        if not joins_seamless(tool, pactl, parec, os.path.dirname(tone), runtime, play_env):
            ok = False
        return 0 if ok else 1
    finally:
        stop(recorder)
        stop(server)
        shutil.rmtree(runtime, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
