#!/usr/bin/python3
"""How often the sound server is woken while ondrix plays, beside paplay playing the same
signal, and how soon Pause, resume, Stop and a seek are heard.

Each round starts a private sound server with a null sink (PulseAudio, and PipeWire with
pipewire-pulse where they are installed) on a private Xvfb, as the end-to-end harness does. For
each player in turn, a 16-bit WAV plays for SECONDS after a settling time, and the server's
wakeups are counted meanwhile: the voluntary context switches of every thread of its processes
(/proc/PID/task/*/status), per second. paplay plays the WAV (16-bit samples on the wire) and the
same signal as a float WAV (what ondrix sends: 32-bit floats). Nothing records the sink while
the wakeups are counted, since a recorder wakes the server itself; the stream is seen playing
on the server (not corked) before and after.

The latency part (PulseAudio only) records the sink's monitor: a click on Pause until the sound
stops, on Pause again until it is heard again, on Stop until it stops, and a click on the bar
(from the 440 Hz half of a track into its 880 Hz half) until the new place is heard. Each is
measured on the monitor's time line from the moment of the click, so it includes the recorder's
own latency (20 ms).

usage: wakeups.py LABEL=ONDRIX [LABEL=ONDRIX...]  (e.g. "this tree=build/release/ondrix")
Environment: RUNS (rounds, default 3; the table gives medians), SECONDS (counted per player,
default 30), SERVERS (default "pulse,pipewire"), PARTS (default "wakeups,latency").
"""
import glob
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "tests", "e2e"))
import harness  # noqa: E402
from harness import PAUSE, PLAY, STOP  # noqa: E402

RUNS = int(os.environ.get("RUNS", "3"))
SECONDS = float(os.environ.get("SECONDS", "30"))
SERVERS = os.environ.get("SERVERS", "pulse,pipewire").split(",")
PARTS = os.environ.get("PARTS", "wakeups,latency").split(",")
SETTLE = 4.0
BAR_Y = 216  # the position bar's row; a click at x seeks to x / 534 of the track
BAR_WIDTH = 534


def switches(pids):
    total = 0
    for pid in pids:
        for status in glob.glob("/proc/%d/task/*/status" % pid):
            try:
                with open(status) as f:
                    for line in f:
                        if line.startswith("voluntary_ctxt_switches"):
                            total += int(line.split()[1])
            except OSError:
                pass  # a thread that ended meanwhile
    return total


def server_pids(s):
    names = ("pulseaudio", "pipewire", "pipewire-pulse", "wireplumber")
    return [p.pid for label, p in s.processes if label in names]


def streams(s):
    """The server's playback streams: (corked, application name) of each."""
    out = subprocess.run(["pactl", "list", "sink-inputs"], env=s.env, capture_output=True,
                         text=True).stdout
    found = []
    for block in out.split("Sink Input #")[1:]:
        corked = "Corked: yes" in block
        name = next((line.split("=", 1)[1].strip().strip('"') for line in block.splitlines()
                     if "application.name" in line), "?")
        found.append((corked, name))
    return found


def session(name, server, work_root, record):
    s = harness.Session(name, None, work_root, sound=server)
    s.start()
    if not record and s.recorder is not None:
        harness.stop_process(s.recorder)
        s.processes = [(l, p) for l, p in s.processes if p is not s.recorder]
        s.recorder = None
    return s


def finish(s):
    s.stop()
    shutil.rmtree(s.folder, ignore_errors=True)


def start_ondrix(s, binary, track):
    harness.write_list(os.path.join(s.cwd, "patch.dat"), [track])
    log = open(os.path.join(s.folder, "ondrix-output.txt"), "a")
    proc = s.spawn("ondrix", [binary], cwd=s.cwd, stdout=log, stderr=log)
    log.close()
    s.program = proc
    w = s.main_window()
    s.click(*w.centre_of(*PLAY))
    return proc, w


def count(s, label, start):
    """Starts a player, lets it settle, and counts the server's wakeups per second."""
    proc = start()
    try:
        time.sleep(SETTLE)
        playing = [c for c in streams(s) if not c[0]]
        if not playing:
            raise harness.Failure("%s: no stream plays on the server" % label)
        pids = server_pids(s)
        before, since = switches(pids), time.monotonic()
        time.sleep(SECONDS)
        rate = (switches(pids) - before) / (time.monotonic() - since)
        if proc.poll() is not None or not [c for c in streams(s) if not c[0]]:
            raise harness.Failure("%s stopped playing while it was measured" % label)
        return rate
    finally:
        harness.stop_process(proc)
        s.program = None
        time.sleep(1.0)


def measure_wakeups(players, media, work_root):
    wav, fwav = os.path.join(media, "tone.wav"), os.path.join(media, "tone-float.wav")
    clients = [("paplay, 16-bit WAV", lambda s: s.spawn("paplay", ["paplay", wav])),
               ("paplay, float WAV", lambda s: s.spawn("paplay", ["paplay", fwav]))]
    for label, binary in players:
        clients.append(("ondrix " + label,
                        lambda s, b=binary: start_ondrix(s, b, wav)[0]))
    results = {}
    for server in SERVERS:
        if server == "pipewire" and shutil.which("pipewire-pulse") is None:
            print("pipewire-pulse is not installed; left out")
            continue
        for run in range(RUNS):
            s = session("wakeups-%s-%d" % (server, run), server if server != "pulse" else True,
                        work_root, record=False)
            try:
                idle_before = switches(server_pids(s))
                time.sleep(5)
                results.setdefault((server, "nothing playing"), []).append(
                    (switches(server_pids(s)) - idle_before) / 5)
                # a different order each round, so no player always comes first
                order = clients[run % len(clients):] + clients[:run % len(clients)]
                for label, start in order:
                    rate = count(s, label, lambda: start(s))
                    results.setdefault((server, label), []).append(rate)
                    print("  %s, round %d, %s: %.1f wakeups/s" % (server, run + 1, label, rate),
                          flush=True)
            finally:
                finish(s)
    print()
    print("| sound server | player | server wakeups per second (median of %d; each) |" % RUNS)
    print("|---|---|---|")
    for (server, label), rates in results.items():
        print("| %s | %s | %.1f (%s) |" % (server, label, statistics.median(rates),
                                           ", ".join("%.1f" % r for r in rates)))


def first_block(s, since, predicate, timeout=5.0):
    """Seconds from `since` (a mark) to the first 10 ms block of the recording after it for
    which predicate(samples) holds."""
    step = harness.RATE // 100
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        got = s.recorded(since)
        for at in range(0, len(got) - 4 * step, step):
            if predicate(got[at: at + 4 * step]):
                return at / harness.RATE
        time.sleep(0.1)
    raise harness.Failure("the change was not heard within %.0f s" % timeout)


def click_at(s, x, y):
    s.move_pointer(x, y)
    time.sleep(0.1)
    since = s.mark()
    s.xdotool("click", 1)
    return since


def measure_latency(label, binary, track, work_root):
    s = session("latency", True, work_root, record=True)
    try:
        since = s.mark()
        proc, w = start_ondrix(s, binary, track)
        loud = lambda xs: harness.rms(xs) > harness.SILENT_RMS * 10  # noqa: E731
        quiet = lambda xs: harness.rms(xs) < harness.SILENT_RMS  # noqa: E731
        high = lambda xs: loud(xs) and harness.same_tone(harness.frequency(xs), 880)  # noqa
        first_block(s, since, loud, 10)
        time.sleep(2.0)
        got = {}
        got["Pause"] = first_block(s, click_at(s, *w.centre_of(*PAUSE)), quiet)
        time.sleep(1.0)
        got["resume"] = first_block(s, click_at(s, *w.centre_of(*PAUSE)), loud)
        time.sleep(1.0)
        got["Stop"] = first_block(s, click_at(s, *w.centre_of(*STOP)), quiet)
        time.sleep(1.0)
        s.click(*w.centre_of(*PLAY))
        time.sleep(2.0)
        got["seek"] = first_block(s, click_at(s, *w.centre_of(400, BAR_Y, 1, 11)), high)
        s.check_running()
        return got
    finally:
        finish(s)


def main():
    players = []
    for arg in sys.argv[1:]:
        label, _, path = arg.rpartition("=")
        players.append((label or path, os.path.abspath(path)))
    if not players:
        print(__doc__)
        return 2
    if shutil.which("paplay") is None:
        print("paplay (pulseaudio-utils) is not installed")
        return 1
    work_root = tempfile.mkdtemp(prefix="ondrix-wakeups-")
    try:
        media = os.path.join(work_root, "media")
        os.makedirs(media)
        length = SETTLE + SECONDS + 30
        harness.make_tone(os.path.join(media, "tone.wav"), 440, length)
        subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i",
                        os.path.join(media, "tone.wav"), "-c:a", "pcm_f32le",
                        os.path.join(media, "tone-float.wav")], check=True)
        # 440 Hz for 30 s, then 880 Hz: a click on the bar at 400 of 534 lands at 45 s
        halves = os.path.join(media, "halves.wav")
        subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
                        "sine=frequency=440:duration=30:sample_rate=%d,volume=0.5"
                        % harness.RATE, "-f", "lavfi", "-i",
                        "sine=frequency=880:duration=30:sample_rate=%d,volume=0.5"
                        % harness.RATE, "-filter_complex", "[0][1]concat=n=2:v=0:a=1",
                        "-ac", "2", "-c:a", "pcm_s16le", halves], check=True)
        if "wakeups" in PARTS:
            measure_wakeups(players, media, work_root)
        if "latency" in PARTS:
            print()
            print("| player | Pause | resume | Stop | a seek (click on the bar) |")
            print("|---|---|---|---|---|")
            for label, binary in players:
                runs = [measure_latency(label, binary, halves, work_root) for _ in range(RUNS)]
                cells = []
                for what in ("Pause", "resume", "Stop", "seek"):
                    values = [r[what] * 1000 for r in runs]
                    cells.append("%.0f ms (%s)" % (statistics.median(values),
                                                   ", ".join("%.0f" % v for v in values)))
                print("| ondrix %s | %s |" % (label, " | ".join(cells)), flush=True)
            print()
            print("from the click to the change on the null sink's monitor, which records with "
                  "a latency of 20 ms; medians of %d (each)" % RUNS)
    finally:
        shutil.rmtree(work_root, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
