#!/usr/bin/python3
"""The whole program beside two players people already use, in the same run, on the same files:
start-up to a mapped window, idle resident memory, and CPU seconds per minute of playback of
each format. Each player runs on a private Xvfb with a private PulseAudio null sink (the
end-to-end harness), so the sound really goes through the sound server; the sink's monitor
confirms that each player played. For ondrix alone (the others cannot be driven without a
session bus): CPU per minute while a track is opened but not played, paused and stopped (each
measured from 5 s after the click), and the silence between two tracks of the list as recorded
on the sink.

usage: compare.py ONDRIX [audacious] [qmmp]
Environment: RUNS (start-up runs per player, default 7), PLAY_SECONDS (measured playback per
format, default 30), TRACK_SECONDS (length of the played tones, default PLAY_SECONDS + 15; the
progress bar moves by a pixel or more on every status tick of a short tone, and by about one a
second on a 5-minute track), IDLE_MEASURE_SECONDS (per idle state, default 30), PARTS (what to measure,
a comma-separated choice of "players", "idle" and "gaps"; default all), FORMATS (the formats
played, default mp3,wma,wav,flac,ogg,opus,m4a).
"""
import ctypes
import os
import select
import shutil
import statistics
import sys
import tempfile
import time

# the harness is imported from the source tree, which must stay clean
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "tests", "e2e"))
import harness  # noqa: E402
from harness import PAUSE, PLAY, STOP  # noqa: E402

RUNS = int(os.environ.get("RUNS", "7"))
PLAY_SECONDS = float(os.environ.get("PLAY_SECONDS", "30"))
IDLE_SECONDS = 3.0
IDLE_MEASURE_SECONDS = float(os.environ.get("IDLE_MEASURE_SECONDS", "30"))
PARTS = os.environ.get("PARTS", "players,idle,gaps").split(",")
FORMATS = os.environ.get("FORMATS", "mp3,wma,wav,flac,ogg,opus,m4a").split(",")
SETTLE_SECONDS = 5.0
TICKS = os.sysconf("SC_CLK_TCK")


class MapWatcher:
    """Reports the first normal top-level window mapped on a display, as the X server tells."""
    MAP_NOTIFY = 19
    SUBSTRUCTURE_NOTIFY_MASK = 1 << 19

    def __init__(self, display):
        x = ctypes.CDLL("libX11.so.6")
        x.XOpenDisplay.restype = ctypes.c_void_p
        x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x.XDefaultRootWindow.restype = ctypes.c_ulong
        x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        x.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
        x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        x.XPending.argtypes = [ctypes.c_void_p]
        x.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
        x.XConnectionNumber.argtypes = [ctypes.c_void_p]
        x.XGetWindowAttributes.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_void_p]
        x.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.x = x
        self.dpy = x.XOpenDisplay(display.encode())
        if not self.dpy:
            raise harness.Failure("cannot open display " + display)
        x.XSelectInput(self.dpy, x.XDefaultRootWindow(self.dpy), self.SUBSTRUCTURE_NOTIFY_MASK)
        x.XSync(self.dpy, 0)

    def wait(self, since, timeout):
        """Seconds from `since` (a monotonic time) to the first mapped window of some size."""
        event = ctypes.create_string_buffer(192)
        attrs = ctypes.create_string_buffer(256)
        fd = self.x.XConnectionNumber(self.dpy)
        deadline = since + timeout
        while time.monotonic() < deadline:
            while self.x.XPending(self.dpy):
                self.x.XNextEvent(self.dpy, event)
                now = time.monotonic()
                kind = int.from_bytes(event.raw[0:4], "little")
                if kind != self.MAP_NOTIFY:
                    continue
                window = int.from_bytes(event.raw[40:48], "little")
                override = int.from_bytes(event.raw[48:52], "little")
                if override:
                    continue  # menus, tooltips, splash-like popups
                if not self.x.XGetWindowAttributes(self.dpy, window, attrs):
                    continue
                width = int.from_bytes(attrs.raw[8:12], "little")
                height = int.from_bytes(attrs.raw[12:16], "little")
                if width >= 100 and height >= 50:
                    return now - since
            select.select([fd], [], [], max(0.0, deadline - time.monotonic()))
        raise harness.Failure("no window was mapped within %.0f s" % timeout)

    def close(self):
        self.x.XCloseDisplay(self.dpy)


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def rss_mib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    return float("nan")


class Player:
    def __init__(self, name, binary):
        self.name = name
        self.binary = binary

    def start(self, s, track=None):
        """Starts the player in the session; with a track, it is made to play it."""
        if self.name == "ondrix":
            if track:
                harness.write_list(os.path.join(s.cwd, "patch.dat"), [track])
            args = [self.binary]
        else:
            args = [self.binary] + ([track] if track else [])
        log = open(os.path.join(s.folder, self.name + "-output.txt"), "w")
        proc = s.spawn(self.name, args, cwd=s.cwd, stdout=log, stderr=log)
        log.close()
        s.program = proc
        return proc

    def play(self, s):
        # the other two play what their command line names; ours is told by a click on play
        if self.name == "ondrix":
            w = s.main_window()
            s.click(*w.centre_of(*PLAY))


def session(name, work_root):
    s = harness.Session(name, None, work_root, sound=True)
    s.start()
    return s


def finish(s):
    left = s.stop()
    if left:
        print("  (had to kill leftovers: %s)" % ", ".join(left))
    shutil.rmtree(s.folder, ignore_errors=True)


def measure_startup(player, work_root):
    maps, rss = [], []
    for i in range(RUNS):
        s = session("%s-start-%d" % (player.name, i), work_root)
        try:
            watcher = MapWatcher(s.display)
            since = time.monotonic()
            proc = player.start(s)
            maps.append(watcher.wait(since, 30))
            watcher.close()
            time.sleep(IDLE_SECONDS)
            s.check_running()
            rss.append(rss_mib(proc.pid))
        finally:
            finish(s)
    return statistics.median(maps), statistics.median(rss)


def measure_playback(player, track, work_root):
    s = session("%s-play-%s" % (player.name, os.path.splitext(track)[1][1:]), work_root)
    try:
        proc = player.start(s, track)
        since = s.mark()
        player.play(s)
        # measure from the moment the sound arrives, not from the click
        harness.wait_for(lambda: harness.rms(s.recorded(max(since, s.mark() - 4410)))
                         > harness.SILENT_RMS * 10, 20, "%s to play" % player.name, 0.05)
        start_cpu, start_mark = cpu_seconds(proc.pid), s.mark()
        time.sleep(PLAY_SECONDS)
        s.check_running()
        used = cpu_seconds(proc.pid) - start_cpu
        played = s.recorded(start_mark)
        heard = sum(1 for _, level, _ in harness.blocks(played) if level > harness.SILENT_RMS)
        heard_share = heard * harness.BLOCK / max(1, len(played))
        return used * 60.0 / PLAY_SECONDS, heard_share
    finally:
        finish(s)


def wait_for_sound(s, since, what):
    harness.wait_for(lambda: harness.rms(s.recorded(max(since, s.mark() - 4410)))
                     > harness.SILENT_RMS * 10, 20, what, 0.05)


def cpu_per_minute(s, proc, seconds):
    start = cpu_seconds(proc.pid)
    time.sleep(seconds)
    s.check_running()
    return (cpu_seconds(proc.pid) - start) * 60.0 / seconds


def measure_idle_states(player, track, work_root):
    """CPU-s per minute of ondrix opened but never played, paused, and stopped, each measured
    from SETTLE_SECONDS after the state began."""
    s = session("idle-states", work_root)
    try:
        proc = player.start(s, track)
        w = s.main_window()
        time.sleep(SETTLE_SECONDS)
        opened = cpu_per_minute(s, proc, IDLE_MEASURE_SECONDS)
        since = s.mark()
        s.click(*w.centre_of(*PLAY))
        wait_for_sound(s, since, "ondrix to play")
        time.sleep(1.0)
        s.click(*w.centre_of(*PAUSE))
        time.sleep(SETTLE_SECONDS)
        paused = cpu_per_minute(s, proc, IDLE_MEASURE_SECONDS)
        since = s.mark()
        s.click(*w.centre_of(*PAUSE))  # resumes
        wait_for_sound(s, since, "ondrix to resume")
        time.sleep(1.0)
        s.click(*w.centre_of(*STOP))
        time.sleep(SETTLE_SECONDS)
        stopped = cpu_per_minute(s, proc, IDLE_MEASURE_SECONDS)
        return opened, paused, stopped
    finally:
        finish(s)


def silences_between(samples, count, level=64):
    """The silent stretches (in ms) between consecutive tones of a recording: the longest run of
    samples below `level` between each tone and the next, for the first `count` changes."""
    loud = [i for i, x in enumerate(samples) if abs(x) >= level]
    gaps = []
    for a, b in zip(loud, loud[1:]):
        if b - a > harness.RATE // 100:  # longer than 10 ms: not a zero crossing of a tone
            gaps.append((b - a - 1) * 1000.0 / harness.RATE)
    return gaps[:count]


def measure_gaps(player, fmt, work_root):
    """ondrix plays a list of eight tones of 1.5 s and a little more; the silences between them as
    heard on the sink. The lengths differ so that the 100 ms status tick meets each end at
    another point of its period, as real tracks do."""
    s = session("gaps-" + fmt, work_root)
    try:
        count = 8
        tracks = [harness.make_tone(os.path.join(s.media, "t%d.%s" % (i, fmt)),
                                    (440, 660)[i % 2], 1.5 + 0.037 * i) for i in range(count)]
        harness.write_list(os.path.join(s.cwd, "patch.dat"), tracks)
        player.start(s)
        w = s.main_window()
        time.sleep(1.0)
        since = s.mark()
        s.click(*w.centre_of(*PLAY))
        s.wait_for_tones([440, 660] * (count // 2), since, timeout=40, then_silence=1.0)
        return silences_between(s.recorded(since), count - 1)
    finally:
        finish(s)


def main():
    ondrix = os.path.abspath(sys.argv[1])
    players = [Player("ondrix", ondrix)]
    for name in sys.argv[2:]:
        path = shutil.which(name)
        if path:
            players.append(Player(name, path))
        else:
            print("%s is not installed; left out" % name)
    work_root = tempfile.mkdtemp(prefix="ondrix-bench-")
    try:
        media = os.path.join(work_root, "media")
        os.makedirs(media)
        length = float(os.environ.get("TRACK_SECONDS", PLAY_SECONDS + 15))
        tracks = {fmt: harness.make_tone(os.path.join(media, "tone." + fmt), 440, length,
                                         "Bench", "Tone")
                  for fmt in FORMATS}
        rows = []
        for p in players if "players" in PARTS else []:
            startup, idle = measure_startup(p, work_root)
            cpu = {}
            for fmt, track in tracks.items():
                cpu[fmt], share = measure_playback(p, track, work_root)
                if share < 0.95:
                    print("  %s played only %.0f %% of the measured %s time audibly"
                          % (p.name, 100 * share, fmt))
            rows.append((p.name, startup, idle, cpu))
            print("  %s done" % p.name, flush=True)
        if rows:
            print()
            print("| player | start-up to mapped window | idle RSS | CPU-s per min %s |"
                  % " | ".join(f.upper() for f in FORMATS))
            print("|---|---|---|" + "---|" * len(FORMATS))
            for name, startup, idle, cpu in rows:
                print("| %s | %.3f s | %.1f MiB | %s |" % (
                    name, startup, idle, " | ".join("%.2f" % cpu[f] for f in FORMATS)))
            print()
            print("medians of %d start-ups (idle RSS %.0f s after the window mapped); CPU over "
                  "%.0f s of playback each, scaled to a minute" % (RUNS, IDLE_SECONDS,
                                                                  PLAY_SECONDS))
        ondrix_player = players[0]
        if "idle" in PARTS:
            opened, paused, stopped = measure_idle_states(ondrix_player, tracks["mp3"],
                                                          work_root)
            print()
            print("ondrix, CPU-s per minute from %.0f s after the click, over %.0f s: opened, "
                  "never played %.3f; paused %.3f; stopped %.3f"
                  % (SETTLE_SECONDS, IDLE_MEASURE_SECONDS, opened, paused, stopped))
        for fmt in ("wav", "mp3") if "gaps" in PARTS else ():
            gaps = measure_gaps(ondrix_player, fmt, work_root)
            print("ondrix, silence between tracks (%s tones): median %.0f ms, max %.0f ms "
                  "(%s)" % (fmt, statistics.median(gaps), max(gaps),
                            ", ".join("%.0f" % g for g in gaps)))
    finally:
        shutil.rmtree(work_root, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
