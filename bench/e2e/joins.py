#!/usr/bin/python3
"""What a listener hears at the joins of a list, ondrix beside Audacious in the same run on the
same files: for each format, and for one list that mixes them, four tracks cut at odd sample
positions from one continuous signal (each encoded on its own; tests/playback/joinlist.py) are
played in turn by each player on a private Xvfb into a private PulseAudio null sink, whose
monitor is recorded. The 50 ms before and after each of the three joins are found in the
recording by cross-correlation, as the end-to-end test finds them; the error at a join is the
number of samples between the two less the signal's: positive where samples were inserted
(silence), negative where they were lost, 0 for a seamless join.

ondrix plays the list as its main window plays it (a "patch.dat" of the four, a click on play);
Audacious (the Debian package) runs headless (`audacious -H FILE...`) with a fresh configuration
folder, so all its settings are the defaults (no crossfade, its PulseAudio output), on a private
session bus that audtool, which checks that, reaches.

usage: joins.py ONDRIX [audacious]
Environment: LISTS (the lists played, a comma-separated choice of wav, mp3, flac, ogg, m4a,
opus and mixed; default all), KEEP (a folder to keep the recordings in, PLAYER-LIST.raw).
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

# the harness and the list are imported from the source tree, which must stay clean
sys.dont_write_bytecode = True
TESTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests")
sys.path.insert(0, os.path.join(TESTS, "e2e"))
sys.path.insert(0, os.path.join(TESTS, "playback"))
import harness  # noqa: E402
import joinlist  # noqa: E402

KEEP = os.environ.get("KEEP")
LISTS = os.environ.get("LISTS", "wav,mp3,flac,ogg,m4a,opus,mixed").split(",")
NAMES = {"wav": "WAV", "mp3": "MP3 (LAME)", "flac": "FLAC", "ogg": "Ogg Vorbis",
         "m4a": "AAC in M4A", "opus": "Opus"}
PLAY = (216, 76, 105, 88)  # the main window's play button, client coordinates
SECONDS = joinlist.CUTS[-1] / joinlist.RATE


def exts_of(name):
    return joinlist.MIXED if name == "mixed" else [name] * 4


def label_of(name):
    if name == "mixed":
        return "mixed (%s)" % ", ".join(NAMES[e] for e in joinlist.MIXED)
    return NAMES[name]


def audtool(s, *args):
    return subprocess.run(["audtool", *args], env=s.env, capture_output=True, text=True)


def play_ondrix(s, binary, files):
    harness.write_list(os.path.join(s.cwd, "patch.dat"), files)
    log = open(os.path.join(s.folder, "ondrix-output.txt"), "w")
    s.program = s.spawn("ondrix", [binary], cwd=s.cwd, stdout=log, stderr=log)
    log.close()
    w = s.main_window()
    time.sleep(0.5)
    s.click(*w.centre_of(*PLAY))
    return lambda: False  # the end is found on the sink


def play_audacious(s, binary, files):
    log = open(os.path.join(s.folder, "audacious-output.txt"), "w")
    proc = s.spawn("audacious", [binary, "-H", *files], cwd=s.cwd, stdout=log, stderr=log)
    log.close()
    harness.wait_for(lambda: audtool(s, "--playback-status").stdout.strip() == "playing", 10,
                     "Audacious to play")
    for plugin, want in (("pulse_audio", 0), ("crossfade", 1), ("silence-removal", 1)):
        if audtool(s, "--plugin-is-enabled", plugin).returncode != want:
            raise harness.Failure("Audacious: %s is %s" % (
                plugin, "not enabled" if want == 0 else "enabled"))
    return lambda: proc.poll() is None and \
        audtool(s, "--playback-status").stdout.strip() == "stopped"


def record_list(player, binary, files, work_root, name):
    """Plays the list through the player; the left channel of the sink's monitor meanwhile."""
    s = harness.Session("%s-%s" % (player, name), None, work_root, sound=True,
                        bus=player == "audacious")
    s.start()
    try:
        # a recorder with a long buffer, which loses nothing on a loaded machine, in place of
        # the session's
        harness.stop_process(s.recorder)
        s.processes = [(l, p) for l, p in s.processes if p is not s.recorder]
        s.recording = os.path.join(s.folder, "joins.raw")
        s.recorder = s.spawn("parec", [
            "parec", "-d", "ondrix_null.monitor", "--raw", "--format=s16le",
            "--rate=%d" % harness.RATE, "--channels=2", "--latency-msec=1000"],
            stdout=open(s.recording, "wb"))
        harness.wait_for(lambda: os.path.getsize(s.recording) > 0, 10, "the monitor recording")
        time.sleep(0.3)
        since = s.mark()
        done = (play_ondrix if player == "ondrix" else play_audacious)(s, binary, files)
        harness.wait_for(lambda: harness.rms(s.recorded(max(since, s.mark() - 4410)))
                         > harness.SILENT_RMS, 20, "%s to play" % player, 0.05)
        # the list, room for a gap at each join, and the recorder's buffer
        deadline = time.monotonic() + SECONDS + 3.0
        while time.monotonic() < deadline and not done():
            time.sleep(0.1)
        time.sleep(2.5)
        s.check_running()
        if KEEP:
            os.makedirs(KEEP, exist_ok=True)
            shutil.copy(s.recording, os.path.join(KEEP, "%s-%s.raw" % (player, name)))
        return s.recorded(since)
    finally:
        s.stop()
        shutil.rmtree(s.folder, ignore_errors=True)


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    players = [("ondrix", os.path.abspath(sys.argv[1]))]
    if "audacious" in sys.argv[2:]:
        if shutil.which("audacious") is None or shutil.which("audtool") is None:
            print("audacious (with audtool) is not installed; ondrix alone")
        else:
            players.append(("audacious", shutil.which("audacious")))
    if shutil.which("pulseaudio") is None or shutil.which("parec") is None:
        print("pulseaudio and pulseaudio-utils are not installed; nothing measured")
        return 0
    work_root = tempfile.mkdtemp(prefix="ondrix-joins-")
    try:
        media = os.path.join(work_root, "media")
        os.makedirs(media)
        joinlist.make(media)
        left = joinlist.source(media)[0::2]
        rows, windows = {}, {}
        for name in LISTS:
            files = joinlist.files(media, exts_of(name))
            for player, binary in players:
                out = record_list(player, binary, files, work_root, name)
                # a join's error may be far more than a few milliseconds: look half a second
                found = joinlist.offsets(out, left, reach=joinlist.RATE // 2)
                errors = joinlist.join_errors(found)
                rows[(name, player)] = errors
                windows[(name, player)] = found
                print("  %s, %s: %s (windows at %s)" % (label_of(name), player, errors, found),
                      flush=True)
        print()
        print("| list | %s |" % " | ".join("%s, error at the three joins" % p
                                           for p, _ in players))
        print("|---|%s" % ("---|" * len(players)))
        for name in LISTS:
            print("| %s | %s |" % (label_of(name), " | ".join(
                "%s samples" % ", ".join("%+d" % e if e else "0" for e in rows[(name, p)])
                for p, _ in players)))
        print()
        print("samples at 44.1 kHz: positive inserted, negative lost, 0 seamless")
        print()
        print("| list | %s |" % " | ".join("%s, where the 50 ms before and after each join lie"
                                           % p for p, _ in players))
        print("|---|%s" % ("---|" * len(players)))
        for name in LISTS:
            print("| %s | %s |" % (label_of(name), " | ".join(
                "; ".join("%s/%s" % tuple("%+d" % e if e else "0" for e in
                                         windows[(name, p)][k: k + 2]) for k in (0, 2, 4))
                for p, _ in players)))
        print()
        print("samples later than the signal has them, counted from the middle of the first "
              "track; a change between one join's after and the next one's before is inside "
              "a track")
    finally:
        shutil.rmtree(work_root, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
