#!/usr/bin/python3
"""The desktop's side of the player, measured on a private Xvfb, PulseAudio null sink and
session bus (the end-to-end harness):

1. MPRIS round trip: from starting `playerctl play-pause` on a playing player to (a) the
   PropertiesChanged that says "Paused" reaching a listener (dbus-monitor) and (b) the sound
   stopping on the sink, as the sink's monitor records it. Beside Audacious (its MPRIS plugin is
   on by default) in the same run. Median of ROUNDS.
2. The second-instance hand-off: from starting a second `ondrix FILE` in the folder of a running
   player whose window another player's window covers, to the first window on top of the
   stacking order and the second process gone. Median of ROUNDS.

usage: desktop.py ONDRIX [audacious]
Environment: ROUNDS (default 10).
"""
import ctypes
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

# the harness is imported from the source tree, which must stay clean
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "tests", "e2e"))
import harness  # noqa: E402
from harness import PLAY  # noqa: E402

ROUNDS = int(os.environ.get("ROUNDS", "10"))


class Listener:
    """dbus-monitor on the session bus; the arrival time of every PropertiesChanged whose body
    names a playback status, with that status."""

    def __init__(self, s):
        self.events = []
        self.lock = threading.Lock()
        self.proc = s.spawn("dbus-monitor", [
            "dbus-monitor", "--session",
            "type='signal',interface='org.freedesktop.DBus.Properties',"
            "member='PropertiesChanged',path='/org/mpris/MediaPlayer2'"],
            stdout=subprocess.PIPE)
        threading.Thread(target=self.read, daemon=True).start()

    def read(self):
        arrived = None
        expect_status = False
        for raw in self.proc.stdout:
            line = raw.decode(errors="replace").strip()
            if line.startswith("signal "):
                arrived = time.monotonic()
            elif line == 'string "PlaybackStatus"':
                expect_status = True
            elif expect_status and line.startswith("variant"):
                expect_status = False
                with self.lock:
                    self.events.append((arrived, line.split('"')[1]))

    def first(self, status, since):
        with self.lock:
            for t, st in self.events:
                if t >= since and st == status:
                    return t
        return None


class Recording:
    """When each byte of the sink's monitor recording arrived, so that a sample can be given a
    time on the same clock as the commands."""

    def __init__(self, s):
        self.s = s
        self.log = []  # (monotonic time, size in bytes)
        self.running = True
        threading.Thread(target=self.watch, daemon=True).start()

    def watch(self):
        last = -1
        while self.running:
            size = os.path.getsize(self.s.recording)
            if size != last:
                self.log.append((time.monotonic(), size))
                last = size
            time.sleep(0.001)

    def time_of(self, sample):
        offset = 4 * sample
        for t, size in self.log:
            if size > offset:
                return t
        return None

    def silence_from(self, since_sample, hold=0.15):
        """The first sample after since_sample from which the recording stays silent for
        `hold` seconds, or None."""
        xs = self.s.recorded(since_sample)
        need = int(hold * harness.RATE)
        quiet = 0
        for i, x in enumerate(xs):
            if abs(x) <= 2:
                quiet += 1
                if quiet >= need:
                    return since_sample + i - quiet + 1
            else:
                quiet = 0
        return None


def ctl(s, name, *args):
    return subprocess.run(["playerctl", "-p", name, *args], env=s.env, capture_output=True,
                          text=True, timeout=10).stdout.strip()


def round_trips(name, binary, work_root, track):
    s = harness.Session("mpris-" + name, binary, work_root, sound=True, bus=True)
    try:
        s.start()
        if name == "ondrix":
            harness.write_list(os.path.join(s.cwd, "patch.dat"), [track])
            s.launch()
        else:
            log = open(os.path.join(s.folder, name + "-output.txt"), "w")
            s.program = s.spawn(name, [binary, track], cwd=s.cwd, stdout=log, stderr=log)
            log.close()
        harness.wait_for(lambda: ctl(s, name, "status") in ("Playing", "Paused", "Stopped"),
                         20, "%s on the session bus" % name)
        listener = Listener(s)
        recording = Recording(s)
        time.sleep(0.5)
        to_signal, to_silence = [], []
        for _ in range(ROUNDS):
            if ctl(s, name, "status") != "Playing":
                ctl(s, name, "play")
            since = s.mark()
            s.wait_for_tones([440], since, timeout=10)
            time.sleep(0.5)
            mark = s.mark()
            t0 = time.monotonic()
            subprocess.run(["playerctl", "-p", name, "play-pause"], env=s.env, timeout=10)
            told = harness.wait_for(lambda: listener.first("Paused", t0), 10,
                                    "PropertiesChanged from %s" % name, 0.005)
            time.sleep(0.6)
            quiet = recording.silence_from(mark)
            harness.check(quiet is not None, "%s did not fall silent" % name)
            heard = recording.time_of(quiet)
            to_signal.append(told - t0)
            to_silence.append(heard - t0)
            ctl(s, name, "play")
        recording.running = False
        return statistics.median(to_signal), statistics.median(to_silence)
    finally:
        left = s.stop()
        if left:
            print("  (had to stop leftovers: %s)" % ", ".join(left))
        shutil.rmtree(s.folder, ignore_errors=True)


class Stacking:
    """The top-level windows' stacking order on a display, bottom first (XQueryTree)."""

    def __init__(self, display):
        x = ctypes.CDLL("libX11.so.6")
        x.XOpenDisplay.restype = ctypes.c_void_p
        x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x.XDefaultRootWindow.restype = ctypes.c_ulong
        x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        x.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong,
                                 ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_ulong),
                                 ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong)),
                                 ctypes.POINTER(ctypes.c_uint)]
        x.XFree.argtypes = [ctypes.c_void_p]
        x.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.x = x
        self.dpy = x.XOpenDisplay(display.encode())
        self.root = x.XDefaultRootWindow(self.dpy)

    def order(self):
        root, parent = ctypes.c_ulong(), ctypes.c_ulong()
        children = ctypes.POINTER(ctypes.c_ulong)()
        n = ctypes.c_uint()
        self.x.XQueryTree(self.dpy, self.root, ctypes.byref(root), ctypes.byref(parent),
                          ctypes.byref(children), ctypes.byref(n))
        ids = [children[i] for i in range(n.value)]
        if children:
            self.x.XFree(children)
        return ids

    def above(self, a, b):
        ids = self.order()
        return a in ids and b in ids and ids.index(a) > ids.index(b)

    def close(self):
        self.x.XCloseDisplay(self.dpy)


def hand_offs(binary, work_root, track):
    s = harness.Session("hand-off", binary, work_root)
    try:
        s.start()
        first = s.launch()
        elsewhere = os.path.join(s.folder, "elsewhere")
        os.makedirs(elsewhere)
        s.spawn("ondrix (elsewhere)", [binary], cwd=elsewhere)
        cover = harness.wait_for(
            lambda: [w for w in s.visible_windows(harness.MAIN_TITLE) if w.id != first.id],
            10, "the covering player")[0]
        stacking = Stacking(s.display)
        times, exits = [], []
        for _ in range(ROUNDS):
            # the other folder's player on top, at the same place
            s.xdotool("windowraise", cover.id)
            harness.wait_for(lambda: stacking.above(cover.id, first.id), 5, "the cover on top")
            time.sleep(0.3)
            t0 = time.monotonic()
            second = subprocess.Popen([binary, track], cwd=s.cwd, env=s.env,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            raised = gone = None
            while raised is None or gone is None:
                now = time.monotonic()
                if raised is None and stacking.above(first.id, cover.id):
                    raised = now
                if gone is None and second.poll() is not None:
                    gone = now
                    harness.check(second.returncode == 0,
                                  "the second ondrix ended with %d" % second.returncode)
                harness.check(now - t0 < 10, "no hand-off within 10 s")
                time.sleep(0.0005)
            times.append(max(raised, gone) - t0)
            exits.append(gone - t0)
            time.sleep(0.5)
        stacking.close()
        return statistics.median(times), statistics.median(exits)
    finally:
        left = s.stop()
        if left:
            print("  (had to stop leftovers: %s)" % ", ".join(left))
        shutil.rmtree(s.folder, ignore_errors=True)


def main():
    ondrix = os.path.abspath(sys.argv[1])
    players = [("ondrix", ondrix)]
    for name in sys.argv[2:]:
        path = shutil.which(name)
        if path:
            players.append((name, path))
        else:
            print("%s is not installed; left out" % name)
    work_root = tempfile.mkdtemp(prefix="ondrix-bench-")
    try:
        media = os.path.join(work_root, "media")
        os.makedirs(media)
        track = harness.make_tone(os.path.join(media, "tone.mp3"), 440, 600, "Bench", "Tone")
        print("| player | play-pause to PropertiesChanged | play-pause to silence on the sink |")
        print("|---|---|---|")
        for name, path in players:
            signal, silence = round_trips(name, path, work_root, track)
            print("| %s | %.1f ms | %.1f ms |" % (name, 1000 * signal, 1000 * silence),
                  flush=True)
        print("(medians of %d; from starting playerctl, which is included)" % ROUNDS)
        print()
        total, gone = hand_offs(ondrix, work_root, track)
        print("second ondrix in the same folder: %.1f ms to the first window raised and the "
              "second process gone (the process alone: %.1f ms; median of %d)"
              % (1000 * total, 1000 * gone, ROUNDS))
    finally:
        shutil.rmtree(work_root, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
