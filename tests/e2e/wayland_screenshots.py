#!/usr/bin/python3
"""Pictures of the windows' corners under a headless sway, taken with grim: the player on
Wayland itself and through XWayland (QT_QPA_PLATFORM=xcb).

usage: wayland_screenshots.py ONDRIX OUT_DIR
(ONDRIX_VIRTUAL_POINTER names the tests' virtual pointer tool, built as
build/release/tests/e2e/e2e_virtual_pointer.) Writes into OUT_DIR:
  wayland-corners.png, xwayland-corners.png  the main window's top-left and bottom-right
      corners and the editor's, 4 times enlarged
  wayland-main-window.png  the main window on the sway desktop
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

MARGIN = 8
CROP = (40, 30)


def corner_crops(s, window, screen, folder, name):
    """The top-left and bottom-right corners of a window, each with MARGIN of desktop."""
    x, y = window.pos
    w, h = window.size
    crops = []
    for tag, cx, cy in (("tl", x - MARGIN, y - MARGIN),
                        ("br", x + w + MARGIN - CROP[0], y + h + MARGIN - CROP[1])):
        out = os.path.join(folder, "%s-%s.png" % (name, tag))
        subprocess.run(["convert", screen, "-crop", "%dx%d+%d+%d" % (*CROP, cx, cy), "+repage",
                        "-scale", "400%", out], check=True)
        crops.append(out)
    return crops


def take(s, out):
    s.start_pointer()
    for platform, label in ((None, "wayland"), ("xcb", "xwayland")):
        if platform:
            s.env["QT_QPA_PLATFORM"] = platform
        else:
            s.env.pop("QT_QPA_PLATFORM", None)
        w = s.launch()
        time.sleep(0.8)
        screen = s.screenshot(os.path.join(s.folder, "screen.png"))
        crops = corner_crops(s, w, screen, s.folder, "main")
        if platform is None:
            path = os.path.join(out, "wayland-main-window.png")
            subprocess.run(["convert", screen, "-crop", "%dx%d+%d+%d" % (
                w.size[0] + 2 * MARGIN, w.size[1] + 2 * MARGIN, w.pos[0] - MARGIN,
                w.pos[1] - MARGIN), "+repage", "-strip", path], check=True)
            print("wrote " + path)

        scenarios.click(s, w, scenarios.PLAYLIST)
        editor = harness.wait_for(lambda: s.sway_windows(scenarios.EDITOR_TITLE), 5,
                                  "the playlist editor")[0]
        time.sleep(0.8)
        screen = s.screenshot(os.path.join(s.folder, "screen.png"))
        crops += corner_crops(s, editor, screen, s.folder, "editor")
        scenarios.click(s, editor, scenarios.EDITOR_CLOSE)
        harness.wait_for(lambda: not s.sway_windows(scenarios.EDITOR_TITLE), 5,
                         "the editor to close")
        scenarios.close_program(s, s.main_window())

        path = os.path.join(out, "%s-corners.png" % label)
        subprocess.run(["montage", *crops, "-tile", "4x1", "-geometry", "+4+4", "-background",
                        "white", "-strip", path], check=True)
        print("wrote " + path)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    ondrix, out = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    os.makedirs(out, exist_ok=True)
    # a quiet desktop colour, so the pictures read as a desktop would show them
    harness.Session.BACKGROUND = (0xd8, 0xd0, 0xb8)
    scenarios.SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(
        os.path.abspath(__file__))))
    work = tempfile.mkdtemp(prefix="ondrix-wayland-shots-")
    os.chmod(work, 0o755)  # the compositor may run as another user
    try:
        return harness.run("wayland-shots", lambda s: take(s, out), ondrix, work, wayland=True)
    finally:
        os.rmdir(work) if not os.listdir(work) else None


if __name__ == "__main__":
    sys.exit(main())
