#!/usr/bin/python3
"""Takes the README's screenshots from the real program on a private Xvfb: the main window with a
list loaded, the playlist editor, and the about window (its text served locally, so it runs in
a private network namespace like the about scenario, and needs root).

usage: screenshots.py ONDRIX OUT_DIR [SERVER_URL]
Writes main-window.png, playlist-editor.png and about.png into OUT_DIR, each the window
with a 20-pixel black border.
"""
import os
import subprocess
import sys
import tempfile
import time

# the harness is imported from the source tree, which must stay clean
sys.dont_write_bytecode = True
import harness
import scenarios
import webserver

MARGIN = 20


def crop(s, window, path):
    full = s.screenshot(os.path.join(s.folder, "screen.png"))
    w, h = window.size
    x, y = window.pos
    subprocess.run(["convert", full, "-crop", "%dx%d+%d+%d" % (w + 2 * MARGIN, h + 2 * MARGIN,
                                                              x - MARGIN, y - MARGIN),
                    "+repage", "-strip", path], check=True)
    print("wrote " + path)


def take(s, out, server_url):
    paths = scenarios.tagged_tracks(s, [
        ("01.mp3", 440, 200, "The Sine Waves", "Concert Pitch"),
        ("02.mp3", 660, 180, "The Sine Waves", "A Fifth Above"),
        ("03.mp3", 880, 240, "The Sine Waves", "One Octave Up"),
        ("04.mp3", 550, 210, "Square One", "Overtones")])
    harness.write_list(os.path.join(s.cwd, "patch.dat"), paths)
    webserver.serve_as(s, server_url, {"/soft/ondrix/info.qd3": (
        b"Ondrix 3.0 is the latest version.\r\n"
        b"It plays MP3, WMA and WAV files.\r\n")})
    w = s.launch()
    scenarios.click(s, w, scenarios.PLAY)
    time.sleep(2.5)
    crop(s, s.main_window(), os.path.join(out, "main-window.png"))

    scenarios.click(s, w, scenarios.PLAYLIST)
    editor = harness.wait_for(lambda: s.visible_windows(scenarios.EDITOR_TITLE), 5,
                              "the playlist editor")[0]
    time.sleep(0.5)
    crop(s, editor, os.path.join(out, "playlist-editor.png"))
    scenarios.click(s, editor, scenarios.EDITOR_CLOSE)
    harness.wait_for(lambda: not s.visible_windows(scenarios.EDITOR_TITLE), 5,
                     "the editor to close")

    scenarios.click(s, w, scenarios.ABOUT)
    about = harness.wait_for(lambda: s.visible_windows(scenarios.ABOUT_TITLE), 10,
                             "the about window")[0]
    time.sleep(0.5)
    crop(s, about, os.path.join(out, "about.png"))
    scenarios.click(s, about, scenarios.ABOUT_CLOSE)
    scenarios.close_program(s, s.main_window())


def main():
    ondrix, out = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    server_url = sys.argv[3] if len(sys.argv) > 3 else "https://ondrix.example"
    if not webserver.in_private_network():
        return webserver.rerun_in_private_network()
    scenarios.SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(
        os.path.abspath(__file__))))
    work = tempfile.mkdtemp(prefix="ondrix-shots-")
    try:
        return harness.run("screenshots", lambda s: take(s, out, server_url), ondrix, work)
    finally:
        os.rmdir(work) if not os.listdir(work) else None


if __name__ == "__main__":
    sys.exit(main())
