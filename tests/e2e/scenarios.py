#!/usr/bin/python3
"""End-to-end scenarios: the real ondrix binary on a private X server, used as a person uses it.

usage: scenarios.py SCENARIO ONDRIX SOURCE_DIR WORK_ROOT [SERVER_URL]
Exit 0 passed, 1 failed, 77 skipped (with the reason printed).
"""
import json
import math
import os
import re
import shutil
import signal
import subprocess
import sys
import time
import urllib.parse

# the harness is imported from the source tree, which must stay clean
sys.dont_write_bytecode = True
import harness
from harness import PAUSE, PLAY, STOP, Skipped, check, read_bytes, wait_for, write_list, make_tone

# Controls of the main window, client coordinates (left, top, width, height).
CLOSE = (512, 0, 12, 23)
MOVE = (8, 0, 11, 23)
ABOUT = (25, 0, 12, 22)
HIDE = (493, 8, 13, 22)
REPEAT_BOX = (8, 165, 13, 17)  # the box at the left of "Repeat"
SPEAKER = (440, 155, 24, 27)
PLAYLIST = (432, 188, 92, 22)
OPEN_FILE = (5, 188, 101, 22)
INFO = (140, 188, 253, 13)

EDITOR_TITLE = "Ondrix - Playlist"
EDITOR_SIZE = (540, 519)
EDITOR_CLOSE = (512, 0, 12, 23)
EDITOR_LIST = (8, 29, 521, 444)
EDITOR_ITEM_HEIGHT = 13

ABOUT_TITLE = "frmMenu"
ABOUT_SIZE = (266, 426)
ABOUT_CLOSE = (246, -3, 12, 23)
ABOUT_MEMO = (10, 296, 248, 89)
ABOUT_MEMO_TEXT = (14, 300, 215, 80)  # inside the memo, left of its scroll bar
ABOUT_UPDATE = (133, 397, 127, 25)  # "Check for new version"

SCREEN = (1280, 1024)

SOURCE = None  # the source tree, to tell which windows are built yet


def built(relative_path):
    return os.path.exists(os.path.join(SOURCE, relative_path))


def require(relative_path, what):
    if not built(relative_path):
        raise Skipped("%s is not built yet (%s is missing)" % (what, relative_path))


def click(s, window, control):
    s.click(*window.centre_of(*control))


def white_pixels(s, window, rect):
    left, top, width, height = rect
    x, y = window.at(left, top)
    return sum(1 for row in s.pixels(x, y, width, height) for p in row if min(p) >= 200)


def caption_shown(s, window):
    return white_pixels(s, window, INFO) >= 15


def close_program(s, window):
    click(s, window, CLOSE)
    s.wait_exit()


def tagged_tracks(s, tones):
    """Makes the tracks [(file name, frequency, seconds, artist, title)] and returns the paths."""
    return [make_tone(os.path.join(s.media, name), freq, seconds, artist, title)
            for name, freq, seconds, artist, title in tones]


# --- scenarios ------------------------------------------------------------------------------------

def first_start(s):
    """An empty working directory: an empty patch.dat, the window centred with its corners cut,
    and the transport does nothing."""
    w = s.launch()
    patch = os.path.join(s.cwd, "patch.dat")
    wait_for(lambda: os.path.exists(patch), 5, "patch.dat to be created")
    check(os.path.getsize(patch) == 0, "patch.dat has %d bytes, expected 0"
          % os.path.getsize(patch))
    cx = (SCREEN[0] - w.size[0]) // 2
    cy = (SCREEN[1] - w.size[1]) // 2
    check(abs(w.pos[0] - cx) <= 1 and abs(w.pos[1] - cy) <= 1,
          "the main window is at %s, expected centred at about %s" % (w.pos, (cx, cy)))

    time.sleep(0.3)  # let it paint
    img = s.pixels(w.pos[0], w.pos[1], *w.size)
    black = (0, 0, 0)
    right, bottom = w.size[0] - 1, w.size[1] - 1
    for x, y in ((0, 0), (1, 1), (3, 0), (right, 0), (right - 1, 1), (0, bottom),
                 (right, bottom), (0, 3)):
        check(img[y][x] == black, "pixel (%d, %d) of the window is %s: the rounded region "
              "does not cut that corner" % (x, y, img[y][x]))
    for x, y in ((7, 7), (w.size[0] // 2, 0), (0, w.size[1] // 2), (right, w.size[1] // 2),
                 (w.size[0] // 2, bottom), (w.size[0] // 2, w.size[1] // 2)):
        check(img[y][x] != black, "pixel (%d, %d) of the window is black: the skin is not drawn "
              "or the region cuts too much" % (x, y))
    check(not caption_shown(s, w), "the information label is not empty")

    for control in (PLAY, PAUSE, STOP, PLAY):
        click(s, w, control)
    time.sleep(0.3)
    s.check_running()
    check(os.path.getsize(patch) == 0, "patch.dat changed after clicks on play, pause and stop")
    check(len(s.visible_windows(harness.MAIN_TITLE)) == 1,
          "another window appeared (an error box?): %s" % s.window_titles())

    close_program(s, w)
    check(read_bytes(patch) == b"", "patch.dat is not empty after exit")
    check(sorted(os.listdir(s.cwd)) == ["patch.dat"],
          "stray files in the working directory: %s" % sorted(os.listdir(s.cwd)))


def play_through(s):
    """Three tagged tracks in patch.dat: play, hear each in turn, stop after the last."""
    paths = tagged_tracks(s, [("one.mp3", 440, 1.5, "Band", "First"),
                              ("two.mp3", 660, 1.5, "Band", "Second"),
                              ("three.mp3", 880, 1.5, "Band", "Third")])
    patch = os.path.join(s.cwd, "patch.dat")
    write_list(patch, paths)
    before = read_bytes(patch)
    w = s.launch()
    if built("src/app/TrackCaption.cpp"):
        wait_for(lambda: caption_shown(s, w), 3, "the first track's caption")
    time.sleep(1.0)
    check(harness.rms(s.recorded()) < harness.SILENT_RMS,
          "sound before play was clicked: the first track must be opened, not played")

    since = s.mark()
    click(s, w, PLAY)
    runs = s.wait_for_tones([440, 660, 880], since, timeout=15, then_silence=1.5)
    for _, length, freq in runs[-3:]:
        check(1.2 <= length <= 1.6, "a 1.5 s track sounded for %.2f s (%.0f Hz); all: %s"
              % (length, freq, harness.describe_runs(runs)))
    time.sleep(1.0)
    tail = s.recorded(s.mark() - harness.RATE)
    check(max(map(abs, tail)) == 0, "sound after the end of the list")
    if built("src/app/TrackCaption.cpp"):
        check(not caption_shown(s, w), "the information label was not cleared at the end")
    check(read_bytes(patch) == before, "patch.dat changed while playing")

    close_program(s, w)
    check(read_bytes(patch) == before, "patch.dat after exit differs from the list it held")


def repeat(s):
    """Repeat checked: after the last track the list starts again; Stop ends it."""
    paths = tagged_tracks(s, [("low.wma", 523, 1.0, None, None),
                              ("high.wav", 784, 1.0, None, None)])
    patch = os.path.join(s.cwd, "patch.dat")
    write_list(patch, paths)
    before = read_bytes(patch)
    w = s.launch()
    click(s, w, REPEAT_BOX)
    since = s.mark()
    click(s, w, PLAY)
    s.wait_for_tones([523, 784, 523, 784, 523], since, timeout=15)

    click(s, w, STOP)
    stopped = s.mark()
    time.sleep(2.5)  # longer than a track: a list still running would sound again
    after = s.recorded(stopped + harness.RATE // 5)
    check(max(map(abs, after), default=0) == 0,
          "sound after Stop: %s" % harness.describe_runs(harness.tone_runs(after)))
    close_program(s, w)
    check(read_bytes(patch) == before, "patch.dat after exit differs from the list it held")


def mute(s):
    """Mute while the first track plays: silence, also on the next track; Unmute brings it."""
    paths = tagged_tracks(s, [("a.mp3", 440, 1.5, "A", "One"), ("b.mp3", 660, 3.0, "B", "Two")])
    write_list(os.path.join(s.cwd, "patch.dat"), paths)
    w = s.launch()
    since = s.mark()
    click(s, w, PLAY)
    s.wait_for_tones([440], since, timeout=5)
    click(s, w, SPEAKER)
    muted = s.mark()
    # the first track ends at 1.5 s; the second would sound from then on
    time.sleep(2.2)
    heard = s.recorded(muted + harness.RATE // 5)
    check(max(map(abs, heard), default=0) == 0,
          "sound while muted: %s" % harness.describe_runs(harness.tone_runs(heard)))
    check(len(heard) > 1.8 * harness.RATE, "the recording stalled while muted")
    s.check_running()

    unmuted = s.mark()
    click(s, w, SPEAKER)  # the crossed-out speaker now sits in the same place
    s.wait_for_tones([660], unmuted, timeout=3)
    close_program(s, w)


def server_restart(s):
    """The sound server dies during a track and a new one starts: the player goes on through
    the new server from where it was heard, and the next tracks follow; no error box."""
    paths = tagged_tracks(s, [("long.mp3", 440, 5.0, "A", "Long"),
                              ("next.mp3", 660, 1.5, "B", "Next"),
                              ("last.wav", 880, 1.5, None, None)])
    write_list(os.path.join(s.cwd, "patch.dat"), paths)
    w = s.launch()
    since = s.mark()
    click(s, w, PLAY)
    s.wait_for_tones([440], since, timeout=5)
    time.sleep(1.0)
    s.restart_pulse()
    runs = s.wait_for_tones([440, 660, 880], 0, timeout=20, then_silence=1.0)
    # the new recording starts when the new server answers
    print("on the new server: %s" % harness.describe_runs(runs))
    rest = runs[-3][1]
    check(1.0 <= rest <= 4.3, "after the restart the first track sounded for %.2f s: it should "
          "go on from where it was, with about 3 s left of 5 s" % rest)
    for _, length, freq in runs[-2:]:
        check(1.2 <= length <= 1.6, "a 1.5 s track sounded for %.2f s (%.0f Hz)" % (length, freq))
    check(len(s.visible_windows(harness.MAIN_TITLE)) == 1,
          "another window appeared (an error box?): %s" % s.window_titles())
    close_program(s, w)


def exit_save_fails(s):
    """"X" while a list plays and the exit save cannot write: the sound stops at once, the error
    box waits for the user while the list would have moved on, then the program ends cleanly;
    also when a signal ends the session while the box waits."""
    paths = tagged_tracks(s, [("a.mp3", 440, 1.0, "A", "One"), ("b.mp3", 660, 1.0, "B", "Two")])
    write_list(os.path.join(s.cwd, "patch.dat"), paths)
    w = s.launch()
    since = s.mark()
    click(s, w, PLAY)
    s.wait_for_tones([440], since, timeout=5)
    shutil.rmtree(s.cwd)  # nowhere left to save "patch.dat"
    click(s, w, CLOSE)
    box = wait_for(lambda: [b for b in s.visible_windows(harness.MAIN_TITLE)
                            if b.size != harness.MAIN_SIZE], 5, "the error box")[0]
    shown = s.mark()
    time.sleep(2.5)  # both tracks would have ended meanwhile
    s.check_running()
    heard = s.recorded(shown + harness.RATE // 5)
    check(max(map(abs, heard), default=0) == 0,
          "sound behind the error box: %s" % harness.describe_runs(harness.tone_runs(heard)))
    s.key(box, "Return")
    s.wait_exit()

    # again, and this time the session ends (SIGINT) while the box waits: a clean exit too
    os.makedirs(s.cwd)
    write_list(os.path.join(s.cwd, "patch.dat"), paths)
    w = s.launch()
    shutil.rmtree(s.cwd)
    click(s, w, CLOSE)
    wait_for(lambda: [b for b in s.visible_windows(harness.MAIN_TITLE)
                      if b.size != harness.MAIN_SIZE], 5, "the error box")
    s.program.send_signal(signal.SIGINT)
    s.wait_exit()


def move(s):
    """Holding "+" and moving the mouse carries the window along; letting go leaves it."""
    w = s.launch()
    grab_x, grab_y = w.centre_of(*MOVE)
    s.move_pointer(grab_x, grab_y)
    s.xdotool("mousedown", 1)
    x, y = grab_x, grab_y
    for _ in range(10):
        x, y = x + 15, y + 8
        s.move_pointer(x, y)
        time.sleep(0.03)
    time.sleep(0.2)
    moved = s.main_window()
    s.xdotool("mouseup", 1)
    check(moved.pos == (x - 12, y - 12), "while held at %s the window is at %s, expected %s"
          % ((x, y), moved.pos, (x - 12, y - 12)))
    time.sleep(0.1)
    s.move_pointer(x + 100, y + 60)
    time.sleep(0.3)
    after = s.main_window()
    check(after.pos == moved.pos, "the window went on following the mouse after the release: "
          "%s, was %s" % (after.pos, moved.pos))
    close_program(s, after)


def playlist(s):
    """PLAYLIST opens the editor at (400, 210); Delete removes the selected line from patch.dat;
    after the editor closes the main window keeps the shorter list."""
    require("src/app/frmTracklist.cpp", "the playlist editor")
    paths = tagged_tracks(s, [("one.mp3", 440, 1.0, "Band", "One"),
                              ("two.mp3", 660, 1.0, "Band", "Two"),
                              ("three.mp3", 880, 1.0, "Band", "Three")])
    patch = os.path.join(s.cwd, "patch.dat")
    write_list(patch, paths)
    w = s.launch()
    click(s, w, PLAYLIST)
    editor = wait_for(lambda: [e for e in s.visible_windows(EDITOR_TITLE)
                               if e.size == EDITOR_SIZE], 5, "the playlist editor")[0]
    check(editor.pos == (400, 210), "the editor is at %s, expected (400, 210)" % (editor.pos,))
    time.sleep(0.3)
    check(white_pixels(s, editor, (EDITOR_LIST[0], EDITOR_LIST[1], 300, 3 * 13 + 4)) >= 30,
          "the editor's list shows no lines")

    # the second line; then a key other than Delete, one that no line holds (typing a letter
    # that a line holds would move to that line)
    s.click(*editor.at(EDITOR_LIST[0] + 60, EDITOR_LIST[1] + 2 + EDITOR_ITEM_HEIGHT + 6))
    s.key(editor, "x")
    time.sleep(0.3)
    check(read_bytes(patch) == b"".join(p.encode() + b"\r\n" for p in paths),
          "a key other than Delete changed patch.dat")
    s.key(editor, "Delete")
    expected = [paths[0], paths[2]]
    wait_for(lambda: read_bytes(patch) == b"".join(p.encode() + b"\r\n" for p in expected), 3,
             "patch.dat to lose its second line")

    click(s, editor, EDITOR_CLOSE)
    wait_for(lambda: not s.visible_windows(EDITOR_TITLE), 5, "the editor to close")
    w = s.main_window()
    close_program(s, w)
    check(read_bytes(patch) == b"".join(p.encode() + b"\r\n" for p in expected),
          "patch.dat after exit is %r" % read_bytes(patch))


def tray(s):
    """"─" hides the window to the tray while the music goes on; a click on the icon brings
    the window back where it was, and the icon goes; so does "Show Ondrix" in its menu."""
    if "QSystemTrayIcon" not in open(os.path.join(SOURCE, "src/app/dmData.cpp")).read():
        raise Skipped("the tray icon is not built yet (src/app/dmData.cpp has no "
                      "QSystemTrayIcon)")
    paths = tagged_tracks(s, [("a.mp3", 440, 1.0, "A", "One"), ("b.mp3", 660, 2.5, "B", "Two")])
    write_list(os.path.join(s.cwd, "patch.dat"), paths)
    icons_before = [i.id for i in tray_icons(s)]
    w = s.launch()
    since = s.mark()
    click(s, w, PLAY)
    s.wait_for_tones([440], since, timeout=5)
    click(s, w, HIDE)
    wait_for(lambda: not s.visible_windows(harness.MAIN_TITLE), 5, "the main window to hide")
    icon = wait_for(lambda: [i for i in tray_icons(s) if i.id not in icons_before], 5,
                    "an icon in the tray")[0]
    # hidden, the list goes on to the second track
    s.wait_for_tones([440, 660], since, timeout=5)

    s.click(*icon.centre_of(0, 0, *icon.size))
    back = s.main_window(timeout=5)
    check(back.pos == w.pos, "the window came back at %s, it was at %s" % (back.pos, w.pos))
    wait_for(lambda: icon.id not in [i.id for i in tray_icons(s)], 5,
             "the tray icon to go")

    # once more, back through the icon's menu
    click(s, back, HIDE)
    wait_for(lambda: not s.visible_windows(harness.MAIN_TITLE), 5, "the main window to hide")
    icon = wait_for(lambda: [i for i in tray_icons(s) if i.id not in icons_before], 5,
                    "the icon in the tray again")[0]
    s.click(*icon.centre_of(0, 0, *icon.size), button=3)
    menu = wait_for(lambda: [m for m in s.visible_windows(class_name=harness.MAIN_TITLE)
                             if m.size[1] < 60 and m.size != harness.MAIN_SIZE], 5,
                    "the icon's menu")[0]
    s.click(*menu.centre_of(0, 0, *menu.size))  # its one item, "Show Ondrix"
    back = s.main_window(timeout=5)
    check(back.pos == w.pos, "the window came back at %s, it was at %s" % (back.pos, w.pos))
    wait_for(lambda: icon.id not in [i.id for i in tray_icons(s)], 5,
             "the tray icon to go after the menu")
    close_program(s, back)


def tray_sni(s):
    """The tray through the StatusNotifierItem protocol, with a watcher and host of our own on a
    private session bus (as Plasma, swaybar or GNOME's AppIndicator extension offer it): "─"
    registers the icon; Activate brings the window back and the icon goes; so does the menu's
    "Show Ondrix"; a watcher that restarts gets the icon again, and it still works."""
    try:
        import dbus
    except ImportError:
        raise Skipped("python3-dbus is not installed")
    s.start_sni_watcher()
    bus = dbus.bus.BusConnection(s.env["DBUS_SESSION_BUS_ADDRESS"])
    item_iface = "org.kde.StatusNotifierItem"
    props = "org.freedesktop.DBus.Properties"

    def items():
        try:
            watcher = bus.get_object("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher")
            return [str(i) for i in watcher.Get("org.kde.StatusNotifierWatcher",
                                                "RegisteredStatusNotifierItems",
                                                dbus_interface=props)]
        except dbus.exceptions.DBusException:
            return []

    def hide(window):
        click(s, window, HIDE)
        wait_for(lambda: not s.visible_windows(harness.MAIN_TITLE), 5, "the main window to hide")
        item = wait_for(items, 5, "the icon to register with the watcher")[0]
        name, path = item.split("/", 1)
        return bus.get_object(name, "/" + path)

    def back(what):
        w = s.main_window(timeout=5)
        wait_for(lambda: not items(), 5, "the icon to go after %s" % what)
        return w

    first = s.launch()
    check(not items(), "an icon registered while the window shows")
    item = hide(first)
    check(item.Get(item_iface, "Title", dbus_interface=props) == "Ondrix 3",
          "the icon's title is %r" % item.Get(item_iface, "Title", dbus_interface=props))
    item.Activate(0, 0, dbus_interface=item_iface)
    w = back("Activate")
    check(w.pos == first.pos, "the window came back at %s, it was at %s" % (w.pos, first.pos))

    # the menu, through its com.canonical.dbusmenu object
    item = hide(w)
    menu = bus.get_object(item.bus_name, item.Get(item_iface, "Menu", dbus_interface=props))
    _, layout = menu.GetLayout(0, -1, [], dbus_interface="com.canonical.dbusmenu")
    labels = {str(child[1].get("label", "")): int(child[0]) for child in layout[2]}
    check(list(labels) == ["Show Ondrix"], "the icon's menu holds %s" % list(labels))
    menu.Event(labels["Show Ondrix"], "clicked", dbus.Int32(0, variant_level=1), dbus.UInt32(0),
               dbus_interface="com.canonical.dbusmenu")
    w = back("Show Ondrix")

    # the panel restarts while the icon shows
    hide(w)
    s.stop_sni_watcher()
    s.start_sni_watcher()
    item = wait_for(items, 5, "the icon to register with the new watcher")[0]
    name, path = item.split("/", 1)
    bus.get_object(name, "/" + path).Activate(0, 0, dbus_interface=item_iface)
    w = back("Activate after the watcher restarted")
    close_program(s, w)


def accessibility(s):
    """What a screen reader finds through AT-SPI: every control of the three windows with its
    name and role; a control pressed through its action; Tab through the main window's
    controls to a button, and Space presses it."""
    s.start_accessibility_bus()
    os.environ["DBUS_SESSION_BUS_ADDRESS"] = s.env["DBUS_SESSION_BUS_ADDRESS"]
    os.environ.pop("AT_SPI_BUS_ADDRESS", None)
    try:
        import pyatspi
    except ImportError:
        raise Skipped("python3-pyatspi is not installed")

    def app():
        for a in pyatspi.Registry.getDesktop(0):
            if a is not None and a.name == harness.MAIN_TITLE:
                return a
        return None

    def window(title):
        found = app()
        return found and next((f for f in found if f and f.name == title and
                               f.getState().contains(pyatspi.STATE_SHOWING)), None)

    def controls(top):
        """{name: (role name, state set)} of the showing, named objects under top."""
        out = {}

        def walk(node):
            for child in node:
                if child is None:
                    continue
                states = child.getState()
                if not states.contains(pyatspi.STATE_SHOWING):
                    continue
                if child.name:
                    out[child.name] = (child.getRoleName(), states)
                walk(child)
        walk(top)
        return out

    def find(top, name):
        def walk(node):
            for child in node:
                if child is None:
                    continue
                if child.name == name and child.getState().contains(pyatspi.STATE_SHOWING):
                    return child
                hit = walk(child)
                if hit:
                    return hit
            return None
        return walk(top)

    def press(top, name):
        action = find(top, name).queryAction()
        names = [action.getName(i) for i in range(action.nActions)]
        check("Press" in names, "%r offers the actions %s, no Press" % (name, names))
        action.doAction(names.index("Press"))

    def expect(top, what, wanted):
        found = controls(top)
        for name, role in wanted.items():
            check(name in found, "%s has no control named %r; it has: %s"
                  % (what, name, sorted(found)))
            check(found[name][0] == role, "%r in %s is a %s, expected a %s"
                  % (name, what, found[name][0], role))

    w = s.launch()
    main = wait_for(lambda: window(harness.MAIN_TITLE), 10, "the main window in AT-SPI")
    check(main.getRoleName() == "frame", "the main window is a %s" % main.getRoleName())
    button = "push button"
    expect(main, "the main window", {
        "Play": button, "Pause": button, "Stop": button, "Mute": button, "Volume": "slider",
        "Repeat": "check box", "Shuffle": "check box", "Open file": button, "Playlist": button, "Hide to tray": button,
        "About": button, "Exit": button, "Move": button, "Position": "progress bar"})
    check("Unmute" not in controls(main), "the hidden Unmute button is announced")

    # a control pressed through its action
    press(main, "Mute")
    wait_for(lambda: "Unmute" in controls(main) and "Mute" not in controls(main), 5,
             "Mute to give way to Unmute")
    check(not controls(main)["Volume"][1].contains(pyatspi.STATE_ENABLED),
          "the volume slider is still enabled while muted")

    # Tab from Play, where the focus starts, to Unmute; Space presses it
    def focused():
        return next((n for n, (_, st) in controls(main).items()
                     if st.contains(pyatspi.STATE_FOCUSED)), None)
    s.xdotool("windowfocus", "--sync", w.id)
    wait_for(lambda: focused() == "Play", 5, "the focus on Play")
    order = []
    for _ in range(4):
        s.xdotool("key", "Tab")
        order.append(wait_for(lambda: focused() not in (None, *order[-1:], "Play")
                              and focused(), 5, "the focus to move on"))
    check(order == ["Stop", "Repeat", "Shuffle", "Unmute"], "Tab from Play goes to %s" % order)
    s.xdotool("key", "space")
    wait_for(lambda: "Mute" in controls(main) and "Unmute" not in controls(main), 5,
             "Space on Unmute to bring Mute back")
    check(controls(main)["Volume"][1].contains(pyatspi.STATE_ENABLED),
          "the volume slider is still disabled after Unmute")
    check(focused() == "Mute", "the focus went to %r, not to the speaker" % focused())

    # the playlist editor
    press(main, "Playlist")
    editor = wait_for(lambda: window(EDITOR_TITLE), 10, "the editor in AT-SPI")
    expect(editor, "the editor", {"Playlist": "list", "Open": button, "Add folder": button,
                                  "Add tracks": button, "Save": button, "Close": button})
    press(editor, "Close")
    wait_for(lambda: not window(EDITOR_TITLE), 5, "the editor to close")

    # the about window, after the error box of its failed download
    press(main, "About")
    wait_for(lambda: find(app(), "OK"), 20, "the download's error box")
    press(app(), "OK")
    about = wait_for(lambda: window("About Ondrix 3"), 10, "the about window in AT-SPI")
    expect(about, "the about window", {
        "Close": button, "Contact us": button, "Check for new version": button,
        "Version information": "text", "Ondrix 3 logo": "image"})
    links = [n for n, (role, _) in controls(about).items() if role == "link"]
    check(len(links) == 1, "the about window has the links %s, expected the home page" % links)
    press(about, "Close")
    wait_for(lambda: not window("About Ondrix 3"), 5, "the about window to close")

    press(main, "Exit")
    s.wait_exit()


def tray_icons(s):
    """The windows embedded in the tray host's panel."""
    tree = subprocess.run(["xwininfo", "-display", s.display, "-tree", "-id",
                           str(s.trayer_window.id)], capture_output=True, text=True).stdout
    icons = []
    for line in tree.splitlines():
        line = line.strip()
        if not line.startswith("0x"):
            continue
        wid = int(line.split()[0], 16)
        w = harness.Window.query(s, wid)
        if w is not None and 8 <= w.size[0] <= 64 and 8 <= w.size[1] <= 64:
            icons.append(w)
    return icons


def about(s, server_url):
    """"?" opens the about window centred, which shows the text the maker's server sends."""
    require("src/app/frmMenu.cpp", "the about window")
    import webserver
    served = b"Ondrix 3.0.1 is out.\r\nIt plays longer lists.\r\n"
    host = webserver.serve_as(s, server_url, {"/soft/ondrix/info.qd3": served})
    w = s.launch()
    click(s, w, ABOUT)
    box = wait_for(lambda: [a for a in s.visible_windows(ABOUT_TITLE) if a.size == ABOUT_SIZE],
                   10, "the about window")[0]
    cx = (SCREEN[0] - ABOUT_SIZE[0]) // 2
    cy = (SCREEN[1] - ABOUT_SIZE[1]) // 2
    check(abs(box.pos[0] - cx) <= 1 and abs(box.pos[1] - cy) <= 1,
          "the about window is at %s, expected centred at about %s" % (box.pos, (cx, cy)))
    info = os.path.join(s.cwd, "info.qd3")
    check(os.path.exists(info) and read_bytes(info) == served,
          "info.qd3 does not hold what %s served" % host)
    time.sleep(0.3)
    check(white_pixels(s, box, ABOUT_MEMO_TEXT) >= 40,
          "the version information box shows no text")
    check(len(s.visible_windows(harness.MAIN_TITLE)) == 1,
          "an error box appeared: %s" % s.window_titles())

    click(s, box, ABOUT_CLOSE)
    wait_for(lambda: not s.visible_windows(ABOUT_TITLE), 5, "the about window to close")
    close_program(s, s.main_window())


def second_instance(s):
    """A second ondrix in the same folder hands its files to the running player, which comes
    back from the tray, plays them and keeps them, and ends with status 0; started in another
    folder it is a player of its own, also after one there crashed. --help needs no display; no
    session bus, no complaint. SIGTERM saves the list as the close button does."""
    env = dict(s.env)
    env.pop("DISPLAY")
    code, out = s.run_ondrix(["--help"], s.cwd, env=env)
    check(code == 0 and out.startswith("Usage: ondrix"), "ondrix --help without a display: "
          "status %d, %r" % (code, out))
    code, out = s.run_ondrix(["--shuffle"], s.cwd, env=env)
    check(code == 2 and "'--shuffle'" in out, "an unknown option: status %d, %r" % (code, out))

    paths = tagged_tracks(s, [("one.mp3", 440, 4.0, "A", "One"), ("two.mp3", 660, 4.0, "B", "Two")])
    patch = os.path.join(s.cwd, "patch.dat")
    write_list(patch, [paths[0]])
    w = s.launch()
    click(s, w, HIDE)
    wait_for(lambda: not s.visible_windows(harness.MAIN_TITLE), 5, "the main window to hide")
    wait_for(lambda: tray_icons(s), 5, "the icon in the tray")

    since = s.mark()
    # named as a terminal in that folder would name it
    code, out = s.run_ondrix([os.path.relpath(paths[1], s.cwd)], s.cwd)
    check(code == 0, "the second ondrix ended with status %d: %r" % (code, out))
    check(out == "", "the second ondrix printed %r" % out)
    back = s.main_window(timeout=5)
    check(back.pos == w.pos, "the window came back at %s, it was at %s" % (back.pos, w.pos))
    check(len(s.visible_windows(harness.MAIN_TITLE)) == 1,
          "more than one window: %s" % s.window_titles())
    s.wait_for_tones([660], since, timeout=5)
    check(read_bytes(patch) == paths[1].encode() + b"\r\n",
          "patch.dat holds %r, expected the handed-over file alone" % read_bytes(patch))

    elsewhere = os.path.join(s.folder, "elsewhere")
    os.makedirs(elsewhere)
    other = s.spawn("ondrix (elsewhere)", [s.ondrix], cwd=elsewhere)
    wait_for(lambda: len([v for v in s.visible_windows(harness.MAIN_TITLE)
                          if v.size == harness.MAIN_SIZE]) == 2, 10, "a second player")
    check(other.poll() is None, "the player in another folder ended")
    wait_for(lambda: os.path.exists(os.path.join(elsewhere, "patch.dat")), 5,
             "the other folder's patch.dat")
    check(read_bytes(patch) == paths[1].encode() + b"\r\n",
          "the other player touched this folder's list")
    # a player that crashed leaves its socket behind; the next start there takes it over
    os.kill(other.pid, signal.SIGKILL)
    other.wait()
    wait_for(lambda: len(s.visible_windows(harness.MAIN_TITLE)) == 1, 5, "the crashed window")
    other = s.spawn("ondrix (elsewhere, again)", [s.ondrix], cwd=elsewhere)
    second = wait_for(lambda: [v for v in s.visible_windows(harness.MAIN_TITLE)
                               if v.id != back.id and v.size == harness.MAIN_SIZE], 10,
                      "a player in the crashed one's folder")[0]
    code, out = s.run_ondrix([], elsewhere)
    check(code == 0 and out == "", "a later start did not find the new player there: status "
          "%d, %r" % (code, out))
    check(len(s.visible_windows(harness.MAIN_TITLE)) == 2, "windows: %s" % s.window_titles())
    click(s, second, CLOSE)
    check(other.wait(timeout=10) == 0, "the other player ended with %s" % other.returncode)
    # the end of the session: SIGTERM ends the player as its close button does, saving the list
    write_list(patch, ["changed behind its back"])
    os.kill(s.program.pid, signal.SIGTERM)
    s.wait_exit()
    check(read_bytes(patch) == paths[1].encode() + b"\r\n",
          "patch.dat after SIGTERM holds %r" % read_bytes(patch))
    # no session bus here: the desktop's player controls are simply absent
    check(read_bytes(s.log) == b"", "the player printed %r" % read_bytes(s.log))


def mpris(s):
    """The desktop's player controls (playerctl on a private session bus): the current track's
    metadata, play-pause and next heard on the sink, volume 0 silent and refused while muted, the
    loop status and the Repeat box mirror each other, a click on the window's Pause reaches the
    desktop, seeking from the desktop and from the window's bar (the position read back and the
    Seeked signal), a SetPosition meant for a track no longer loaded is ignored also when the
    same file was opened again in its place, a player of another folder is a second instance,
    and Quit saves the list as "X" does."""
    if not all(map(shutil.which, ("playerctl", "dbus-send", "dbus-monitor"))):
        raise Skipped("playerctl, dbus-send and dbus-monitor are not installed")
    paths = tagged_tracks(s, [("one.mp3", 440, 40.0, "Band", "First"),
                              ("two.mp3", 660, 40.0, "Band", "Second")])
    patch = os.path.join(s.cwd, "patch.dat")
    write_list(patch, paths)
    w = s.launch()

    def ctl(*args):
        return subprocess.run(["playerctl", "-p", "ondrix", *args], env=s.env, text=True,
                              capture_output=True, timeout=10).stdout.strip()

    def silent_since(mark):
        # half a second for the command to be heard, on a loaded machine too
        heard = s.recorded(mark + harness.RATE // 2)
        return max(map(abs, heard), default=0) == 0 and len(heard) > harness.RATE // 2

    def dbus_player(*args):
        return subprocess.run(["dbus-send", "--session", "--print-reply",
                               "--dest=org.mpris.MediaPlayer2.ondrix", "/org/mpris/MediaPlayer2",
                               *args], env=s.env, text=True, capture_output=True,
                              timeout=10).stdout

    def ctl_property(name):
        reply = dbus_player("org.freedesktop.DBus.Properties.Get",
                            "string:org.mpris.MediaPlayer2.Player", "string:" + name)
        return reply.split()[-1] if reply else ""

    wait_for(lambda: ctl("status") == "Stopped", 10, "the player on the session bus")
    # the desktop is told of the same types as the desktop entry opens
    reply = subprocess.run(["dbus-send", "--session", "--print-reply",
                            "--dest=org.mpris.MediaPlayer2.ondrix", "/org/mpris/MediaPlayer2",
                            "org.freedesktop.DBus.Properties.Get",
                            "string:org.mpris.MediaPlayer2", "string:SupportedMimeTypes"],
                           env=s.env, text=True, capture_output=True, timeout=10).stdout
    told = set(re.findall(r'string "([^"]+)"', reply))
    entry = open(os.path.join(SOURCE, "packaging/io.github.ondrix.Ondrix3.desktop")).read()
    opened = set(re.search(r"^MimeType=(.*)$", entry, re.M).group(1).strip(";").split(";"))
    check(told == opened, "SupportedMimeTypes %s, the desktop entry's MimeType %s"
          % (sorted(told), sorted(opened)))
    meta = ctl("metadata", "--format",
               "{{xesam:artist}}|{{xesam:title}}|{{mpris:length}}|{{xesam:url}}")
    check(meta == "Band|First|40000000|file://" + paths[0], "metadata: %r" % meta)
    first_id = ctl("metadata", "mpris:trackid").strip("'")
    followed = os.path.join(s.folder, "followed.txt")
    with open(followed, "w") as out:
        s.spawn("playerctl --follow", ["playerctl", "-p", "ondrix", "--follow", "status"],
                stdout=out)

    since = s.mark()
    ctl("play-pause")
    s.wait_for_tones([440], since, timeout=5)
    ctl("play-pause")
    paused = s.mark()
    wait_for(lambda: ctl("status") == "Paused", 5, "the status Paused")
    time.sleep(1.2)
    check(silent_since(paused), "sound after play-pause paused: %s"
          % harness.describe_runs(harness.tone_runs(s.recorded(paused))))
    since = s.mark()
    ctl("play-pause")
    s.wait_for_tones([440], since, timeout=5)
    since = s.mark()
    ctl("next")
    s.wait_for_tones([660], since, timeout=5)
    check(ctl("metadata", "--format", "{{xesam:title}}") == "Second",
          "metadata after next: %r" % ctl("metadata"))

    # seeking while playing: SetPosition, then Seek relative to it; each is announced
    seeked_log = os.path.join(s.folder, "seeked.txt")
    with open(seeked_log, "w") as out:
        s.spawn("dbus-monitor", ["dbus-monitor", "--session", "type='signal',interface="
                                 "'org.mpris.MediaPlayer2.Player',member='Seeked'"], stdout=out)
    wait_for(lambda: b"NameLost" in read_bytes(seeked_log), 5, "dbus-monitor to listen")

    def seeked():
        return [int(line.split()[1]) for line in read_bytes(seeked_log).decode().splitlines()
                if line.strip().startswith("int64 ")]

    def position():
        return float(ctl("position"))
    check(ctl_property("CanSeek") == "true", "CanSeek with a track: %s" % ctl_property("CanSeek"))
    # the position read back is the target plus what was played since, never more: each
    # playerctl call takes a while on a loaded machine, so the bound is the time it all took
    def read_position_after(target, since):
        before = time.monotonic()
        now = position()
        check(target <= now <= target + (before - since) + 0.5,
              "position %.3f s, %.1f s after a seek to %.3f s" % (now, before - since, target))
    first = time.monotonic()
    ctl("position", "10")
    wait_for(lambda: seeked() == [10000000], 5, "Seeked(10 s) after position 10")
    read_position_after(10.0, first)
    second = time.monotonic()
    ctl("position", "5+")
    wait_for(lambda: len(seeked()) == 2, 5, "Seeked after position 5+")
    target, sought = seeked()[1] / 1e6, time.monotonic()
    check(15.0 <= target <= 15.0 + (sought - first) + 0.5, "Seeked after position 5+: %s, "
          "%.1f s after the seek to 10 s" % (seeked(), sought - first))
    read_position_after(target, second)
    # a position meant for another track, or past the end, is ignored
    ctl("position", "45")
    dbus_player("org.mpris.MediaPlayer2.Player.SetPosition", "objpath:" + first_id,
                "int64:1000000")
    time.sleep(0.5)
    check(len(seeked()) == 2 and position() >= 15.0, "an ignored SetPosition seeked to %s (%s)"
          % (ctl("position"), seeked()))

    ctl("volume", "0")
    quiet = s.mark()
    time.sleep(1.2)
    check(silent_since(quiet), "sound at volume 0")
    since = s.mark()
    ctl("volume", "1")
    s.wait_for_tones([660], since, timeout=3)
    click(s, w, SPEAKER)  # mute: the slider is locked, for the desktop too
    ctl("volume", "0.5")
    quiet = s.mark()
    time.sleep(1.2)
    check(silent_since(quiet), "the desktop's volume was heard while muted")
    check(float(ctl("volume")) == 0.0, "volume while muted: %s" % ctl("volume"))
    click(s, w, SPEAKER)

    def box():
        return s.pixels(*w.at(REPEAT_BOX[0], REPEAT_BOX[1]), REPEAT_BOX[2], REPEAT_BOX[3])
    unchecked = box()
    ctl("loop", "Playlist")
    wait_for(lambda: box() != unchecked, 5, "the Repeat box to be checked")
    click(s, w, REPEAT_BOX)
    wait_for(lambda: ctl("loop") == "None", 5, "the loop status None after a click on Repeat")
    check(box() == unchecked, "the Repeat box is not unchecked")

    wait_for(lambda: read_bytes(followed).split()[-1:] == [b"Playing"], 5,
             "the desktop to know the player plays")
    click(s, w, PAUSE)
    wait_for(lambda: read_bytes(followed).split()[-1:] == [b"Paused"], 5,
             "the desktop to hear of a click on Pause")
    # a click on the window's bar seeks there, paused, and the desktop hears of it with the
    # position read right after the seek
    click(s, w, (400, 216, 1, 11))
    wait_for(lambda: len(seeked()) == 3, 5, "Seeked after a click on the bar")
    check(seeked()[2] == round(400 / 534 * 40000) * 1000 and ctl("status") == "Paused",
          "after a click on the bar, paused: Seeked %s, %s" % (seeked(), ctl("status")))
    # back from there: the bar on the screen is filled up to the new place and no further
    # (the bar repaints only the columns that change)
    ctl("position", "5")
    wait_for(lambda: len(seeked()) == 4, 5, "Seeked after position 5")
    edge = round(5 / 40 * 534)

    def filled(x):
        r, g, b = s.pixels(*w.at(x, 221), 1, 1)[0][0]
        return b > 150 and g > 60
    wait_for(lambda: not filled(edge + 3), 5, "the bar to move back")
    check(all(filled(x) for x in (0, edge - 3)) and not any(
        filled(x) for x in (edge + 3, 200, 399, 400, 533)),
        "the bar after a seek back to 5 s of 40 is not filled to column %d" % edge)

    # the first track opened again takes the place it had: a late SetPosition meant for it as
    # it was then is ignored, as for any other track
    since = s.mark()
    ctl("open", "file://" + paths[0])
    s.wait_for_tones([440], since, timeout=5)
    again_id = ctl("metadata", "mpris:trackid").strip("'")
    check(again_id not in ("", first_id), "the track opened again has the id %r, it had %r"
          % (again_id, first_id))
    told = len(seeked())
    dbus_player("org.mpris.MediaPlayer2.Player.SetPosition", "objpath:" + first_id,
                "int64:30000000")
    time.sleep(0.5)
    check(len(seeked()) == told and position() < 10.0, "a SetPosition for the track as it was "
          "first opened seeked the one opened again to %s (%s)" % (ctl("position"), seeked()))

    def quit(name):
        subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=" + name,
                        "/org/mpris/MediaPlayer2", "org.mpris.MediaPlayer2.Quit"],
                       env=s.env, capture_output=True, timeout=10, check=True)

    # the player of another folder takes the name the standard gives a second one
    elsewhere = os.path.join(s.folder, "elsewhere")
    os.makedirs(elsewhere)
    other = s.spawn("ondrix (elsewhere)", [s.ondrix], cwd=elsewhere)
    instance = "ondrix.instance%d" % other.pid
    wait_for(lambda: instance in subprocess.run(["playerctl", "-l"], env=s.env, text=True,
                                                capture_output=True).stdout.split(), 10,
             "the second player as %s" % instance)
    quit("org.mpris.MediaPlayer2." + instance)
    check(other.wait(timeout=10) == 0, "the second player ended with %s" % other.returncode)

    write_list(patch, ["changed behind its back"])
    quit("org.mpris.MediaPlayer2.ondrix")
    s.wait_exit()
    check(read_bytes(patch) == paths[0].encode() + b"\r\n",
          "patch.dat after Quit is %r" % read_bytes(patch))


# --- the volume, one wherever it is set -----------------------------------------------------------

def playerctl(s, *args):
    return subprocess.run(["playerctl", "-p", "ondrix", *args], env=s.env, text=True,
                          capture_output=True, timeout=10).stdout.strip()


def gain_of(volume):
    """The amplitude factor of a player volume 0..1000: 0 silent, 1..1000 over 60 dB."""
    return 0.0 if volume <= 0 else 10 ** (3 * (volume - 1000) / 1000)


def volume_of_share(share):
    """The player volume the sound server's linear volume share (pactl's 50 %) is."""
    return max(1, min(1000, round(1000 + 1000 * math.log10(share))))


def heard(s, seconds=0.4):
    """The RMS of the next `seconds` of the recording."""
    start = s.mark()
    wait_for(lambda: s.mark() - start >= seconds * harness.RATE, seconds + 5, "the recording")
    return harness.rms(s.recorded(start, start + int(seconds * harness.RATE)))


def wait_heard(s, expected, what, timeout=5):
    """Waits until the sound is heard at `expected` RMS (within 5 %), then checks it stays
    there."""
    def matches():
        level = heard(s)
        return abs(level - expected) <= 0.05 * expected + 1, level
    deadline = time.monotonic() + timeout
    ok, level = matches()
    while not ok and time.monotonic() < deadline:
        s.check_running()
        ok, level = matches()
    check(ok, "%s: heard at RMS %.1f, expected %.1f" % (what, level, expected))
    ok, level = matches()
    check(ok, "%s: heard at RMS %.1f for a moment, then %.1f" % (what, expected, level))


def wait_shown(s, volume, what, timeout=5):
    """Waits until the desktop's player controls (the slider's value) show `volume`."""
    def shown():
        text = playerctl(s, "volume")
        return text and abs(float(text) - volume / 1000) < 0.0015
    check(harness.wait_for_quietly(shown, timeout), "%s: the player's volume is %s, expected "
          "%.3f" % (what, playerctl(s, "volume"), volume / 1000))


def start_playing(s, paths):
    """Starts the player on the list and plays it until the first tone is heard; returns the
    main window."""
    write_list(os.path.join(s.cwd, "patch.dat"), paths)
    w = s.launch()
    wait_for(lambda: playerctl(s, "status") == "Stopped", 10, "the player on the session bus")
    since = s.mark()
    click(s, w, PLAY)
    s.wait_for_tones([440], since, timeout=5)
    return w


def volume_restore(s):
    """The sound server keeps the volume of the program's stream from one run to the next, as
    WirePlumber does for every stream of the role Music (and PulseAudio's stream-restore): the
    next player still plays at the volume its slider and the desktop's player controls show,
    also after a pause long enough for the output to close, and its full volume is heard."""
    if shutil.which("playerctl") is None:
        raise Skipped("playerctl is not installed")
    if s.want_sound is True:
        s.pactl("load-module", "module-stream-restore")
    paths = [make_tone(os.path.join(s.media, "tone.wav"), 440, 60)]
    w = start_playing(s, paths)
    full = heard(s)
    playerctl(s, "volume", "0.5")
    wait_heard(s, full * gain_of(500), "the first run at volume 0.5")
    close_program(s, w)

    w = start_playing(s, paths)
    shown = round(float(playerctl(s, "volume")) * 1000)
    wait_heard(s, full * gain_of(shown), "the next run, which shows volume %.3f" % (shown / 1000))
    playerctl(s, "volume", "1.0")
    wait_shown(s, 1000, "set to 1.0 from the desktop")
    wait_heard(s, full, "the next run at volume 1.0")
    click(s, w, PAUSE)
    time.sleep(4)  # the output closes after 3 s without sound
    click(s, w, PLAY)
    wait_shown(s, 1000, "after a long pause")
    wait_heard(s, full, "after a long pause, at volume 1.0")
    close_program(s, w)


def sink_input_volume(s, stream):
    """The sound server's volume of the stream, as pactl lists it (its first channel)."""
    block = s.pactl("list", "sink-inputs").split("Sink Input #%d" % stream)[1]
    return int(re.search(r"Volume: [\w-]+: (\d+) /", block).group(1))


def volume_outside(s):
    """The desktop's own volume for the program (what GNOME's sound settings and pavucontrol
    set, pactl set-sink-input-volume here): the slider and the desktop's player controls follow
    it, and the player does not send another back; set while the player is muted, it is heard
    and the player is no longer muted; the desktop's mute of the program reads as volume 0."""
    if shutil.which("playerctl") is None:
        raise Skipped("playerctl is not installed")
    paths = [make_tone(os.path.join(s.media, "tone.wav"), 440, 60)]
    w = start_playing(s, paths)
    full = heard(s)
    streams = s.pactl("list", "short", "sink-inputs").split()
    check(streams, "the player's stream is not on the server")
    stream = int(streams[0])
    followed = os.path.join(s.folder, "followed.txt")
    with open(followed, "w") as out:
        s.spawn("playerctl --follow", ["playerctl", "-p", "ondrix", "--follow", "volume"],
                stdout=out)
    wait_for(lambda: read_bytes(followed).strip(), 5, "playerctl to follow the volume")

    s.pactl("set-sink-input-volume", str(stream), "50%")
    half = volume_of_share(0.5)
    wait_shown(s, half, "the desktop set 50 %")
    wait_for(lambda: b"%.6f" % (half / 1000) in read_bytes(followed), 5,
             "the desktop to be told of the new volume")
    wait_heard(s, full * 0.5 ** 3, "the desktop set 50 %")
    check(sink_input_volume(s, stream) == 32768, "the player sent back %d for 50 %% (32768)"
          % sink_input_volume(s, stream))

    click(s, w, SPEAKER)
    wait_shown(s, 0, "muted")
    wait_heard(s, 0, "muted")
    s.pactl("set-sink-input-volume", str(stream), "70%")
    wait_shown(s, volume_of_share(0.7), "the desktop set 70 % while muted")
    wait_heard(s, full * 0.7 ** 3, "the desktop set 70 % while muted")
    # no longer muted: the desktop's player controls may set the volume again
    playerctl(s, "volume", "0.5")
    wait_shown(s, 500, "set to 0.5 from the player controls")
    wait_heard(s, full * gain_of(500), "set to 0.5 from the player controls")

    s.pactl("set-sink-input-mute", str(stream), "1")
    wait_shown(s, 0, "muted on the desktop")
    s.pactl("set-sink-input-mute", str(stream), "0")
    wait_shown(s, 500, "unmuted on the desktop")
    wait_heard(s, full * gain_of(500), "unmuted on the desktop")
    close_program(s, w)


def wayland(s):
    """Under a Wayland compositor the player runs natively without being told to, and through
    XWayland when told: in both the main window's and the editor's corners show the desktop
    behind them with soft edges, and "+" drags the window. Natively, a second ondrix started
    with the launcher's activation token brings the player's window to the front."""
    s.start_pointer()
    # nowhere near a window, so the player has had no input of its own before the hand-over
    s.pointer_do(("to", 1279, 1023))
    for platform, shell in ((None, "xdg_shell"), ("xcb", "xwayland")):
        if platform:
            s.env["QT_QPA_PLATFORM"] = platform
        else:
            s.env.pop("QT_QPA_PLATFORM", None)
        w = s.launch()
        check(w.shell == shell, "the main window is a %s window, expected %s" % (w.shell, shell))
        time.sleep(0.5)  # let it paint
        soft_corners(s, w, "the main window (%s)" % shell)
        if not platform:
            hand_over_activates(s)

        click(s, w, PLAYLIST)
        editor = wait_for(lambda: [e for e in s.sway_windows(EDITOR_TITLE)
                                   if e.size == EDITOR_SIZE], 5, "the playlist editor")[0]
        time.sleep(0.5)
        soft_corners(s, editor, "the editor (%s)" % shell)
        click(s, editor, EDITOR_CLOSE)
        wait_for(lambda: not s.sway_windows(EDITOR_TITLE), 5, "the editor to close")

        # "+" held and dragged 100 px right and 60 down
        s.pointer_do(("to", *w.centre_of(*MOVE)), ("press",))

        def nudged():
            # the compositor takes over the drag once the program has asked it to
            s.pointer_do(("by", 1, 0))
            return [m for m in s.sway_windows(harness.MAIN_TITLE) if m.pos != w.pos]
        start = wait_for(nudged, 5, "the window to follow the pointer (%s)" % shell, 0.1)[0]
        for _ in range(10):
            s.pointer_do(("by", 10, 6))
            time.sleep(0.03)
        s.pointer_do(("release",))
        s.pointer_do(("by", 50, 50))
        time.sleep(0.3)
        moved = s.main_window()
        check(moved.pos == (start.pos[0] + 100, start.pos[1] + 60),
              "dragged by (100, 60) the window went from %s to %s" % (start.pos, moved.pos))
        close_program(s, moved)


def hand_over_activates(s):
    """Another window takes the focus; a second ondrix in the player's folder, started with an
    activation token as a launcher starts it, hands over and the player's window takes the
    focus back. The compositor is told to let a valid token focus a window (sway's default only
    marks it urgent); without one nothing may steal the focus."""
    def focused_pid():
        def walk(node):
            if node.get("focused"):
                return node.get("pid")
            for child in node.get("nodes", []) + node.get("floating_nodes", []):
                found = walk(child)
                if found:
                    return found
            return None
        return walk(json.loads(s.swaymsg("-t", "get_tree", "-r")))

    s.swaymsg("focus_on_window_activation focus")
    elsewhere = os.path.join(s.folder, "elsewhere")
    os.makedirs(elsewhere)
    if s.user:
        os.chown(elsewhere, *s.user)
    other = s.spawn("ondrix (elsewhere)", [s.ondrix], cwd=elsewhere)
    wait_for(lambda: focused_pid() == other.pid, 10, "the other player to take the focus")
    s.pointer.stdin.write(b"token\n")
    s.pointer.stdin.flush()
    answer = s.pointer.stdout.readline().decode().split()
    check(answer[:1] == ["token"] and len(answer) == 2,
          "the compositor gave no activation token: %r" % answer)
    code, out = s.run_ondrix([], s.cwd, env=dict(s.env, XDG_ACTIVATION_TOKEN=answer[1]))
    check(code == 0 and out == "", "the hand-over: status %d, %r" % (code, out))
    came = harness.wait_for_quietly(lambda: focused_pid() == s.program.pid, 5)
    check(came, "the player's window did not take the focus with the token (focused: pid %s; "
          "the player is %d, the other %d)" % (focused_pid(), s.program.pid, other.pid))
    os.kill(other.pid, signal.SIGTERM)
    check(other.wait(timeout=10) == 0, "the other player ended with %s" % other.returncode)
    wait_for(lambda: len(s.sway_windows(harness.MAIN_TITLE)) == 1, 5, "the other window to go")


def soft_corners(s, window, what):
    """The desktop shows through the window's four corners, the skin covers the rest, and the
    edge of the top-left corner is blended, not cut."""
    bg = harness.Session.BACKGROUND
    img = s.pixels(window.pos[0], window.pos[1], *window.size)
    right, bottom = window.size[0] - 1, window.size[1] - 1
    for x, y in ((0, 0), (1, 1), (right, 0), (right - 1, 1), (0, bottom), (1, bottom - 1),
                 (right, bottom), (right - 1, bottom - 1)):
        check(img[y][x] == bg, "pixel (%d, %d) of %s is %s, not the desktop behind it"
              % (x, y, what, img[y][x]))
    for x, y in ((7, 7), (right - 7, bottom - 7), (window.size[0] // 2, 0), (0, bottom // 2)):
        check(img[y][x] != bg, "pixel (%d, %d) of %s shows the desktop" % (x, y, what))
    # the skin is grey there; a blend with the magenta desktop is redder and bluer than green
    blended = [(x, y) for y in range(8) for x in range(8)
               if img[y][x] != bg and min(img[y][x][0], img[y][x][2]) - img[y][x][1] > 20]
    check(blended, "the corner of %s has no soft edge: %s" % (what, img[3][:8]))


# Stands in for the desktop's opener (Qt hands files to xdg-open when no desktop session
# runs): notes what it was given, waits until the test says the player has exited, and then
# notes whether the file is still there to be run.
STAND_IN_OPENER = """#!/usr/bin/python3
import os, sys, time, urllib.parse
folder = %r
path = urllib.parse.unquote(urllib.parse.urlsplit(sys.argv[1]).path)
with open(os.path.join(folder, "opened"), "w") as f:
    f.write(path)
deadline = time.monotonic() + 30
while not os.path.exists(os.path.join(folder, "player-exited")) and time.monotonic() < deadline:
    time.sleep(0.05)
with open(os.path.join(folder, "result.tmp"), "wb") as f:
    f.write(open(path, "rb").read() if os.path.exists(path) else b"<gone>")
os.rename(os.path.join(folder, "result.tmp"), os.path.join(folder, "result"))
"""


def update(s, server_url):
    """"Check for new version" downloads the updater, hands it to the desktop's opener and
    quits; the file is still there when the opener gets to it after the player has exited."""
    require("src/app/frmMenu.cpp", "the about window")
    import webserver
    updater = b"#!/bin/sh\necho the new version\n"
    webserver.serve_as(s, server_url, {"/soft/ondrix/info.qd3": b"Ondrix 3.0.1\r\n",
                                       "/soft/ondrix/updater.exe": updater})
    opener = os.path.join(s.folder, "opener")
    os.makedirs(opener)
    with open(os.path.join(opener, "xdg-open"), "w") as f:
        f.write(STAND_IN_OPENER % opener)
    os.chmod(os.path.join(opener, "xdg-open"), 0o755)
    s.env["PATH"] = opener + os.pathsep + s.env.get("PATH", "/usr/bin:/bin")

    w = s.launch()
    click(s, w, ABOUT)
    box = wait_for(lambda: [a for a in s.visible_windows(ABOUT_TITLE) if a.size == ABOUT_SIZE],
                   10, "the about window")[0]
    click(s, box, ABOUT_UPDATE)
    s.wait_exit()
    with open(os.path.join(opener, "player-exited"), "w"):
        pass
    result = os.path.join(opener, "result")
    wait_for(lambda: os.path.exists(result), 35, "the stand-in opener to look at the file")
    opened = open(os.path.join(opener, "opened")).read()
    check(opened == os.path.join(s.cwd, "updater.exe"), "the opener was handed %r" % opened)
    check(read_bytes(result) == updater, "after the player exited the opener found %r in "
          "updater.exe, expected what the server sent" % read_bytes(result))


# --- building the list: drops, folders, other players' lists, shuffle, any line -------------------

SHUFFLE_BOX = (108, 165, 13, 17)  # the box at the left of "Shuffle"
EDITOR_OPEN = (24, 489, 50, 22)
EDITOR_ADD_FOLDER = (100, 489, 98, 22)
EDITOR_SAVE = (456, 489, 46, 22)


def list_bytes(paths):
    """patch.dat as the player writes it: each entry's bytes, CR LF after each."""
    return b"".join((p if isinstance(p, bytes) else p.encode()) + b"\r\n" for p in paths)


def editor_window(s):
    return wait_for(lambda: [e for e in s.visible_windows(EDITOR_TITLE) if e.size == EDITOR_SIZE],
                    5, "the playlist editor")[0]


def dismiss_box(s, what):
    """Waits for one error box, lets it go with Return, and checks that no second one comes."""
    box = wait_for(s.error_boxes, 10, "the box naming %s" % what)[0]
    s.key(box, "Return")
    wait_for(lambda: not s.error_boxes(), 5, "the box to close")
    time.sleep(0.5)
    check(not s.error_boxes(), "a second box after the one naming %s" % what)


def drop(s):
    """Files, a folder and a play list dragged from a file manager onto the main window replace
    the list and play, as a confirmed OPEN FILE does; while the drag is over the window it shows
    that it takes it; a name that is not valid UTF-8 is kept byte for byte; a text file and a
    web address are refused in one box. Dropped on the editor, a folder is added as Add tracks
    adds."""
    album = os.path.join(s.media, "album")
    os.makedirs(album)
    make_tone(os.path.join(album, "1 - a.wav"), 550, 1.2)
    make_tone(os.path.join(album, "2 - b.ogg"), 660, 1.2)
    with open(os.path.join(album, "cover.txt"), "w") as f:
        f.write("not music\n")
    raw = os.fsencode(s.media) + b"/caf\xe9 - latin-1.mp3"
    os.rename(make_tone(os.path.join(s.media, "cafe.mp3"), 770, 1.2), raw)
    one = make_tone(os.path.join(s.media, "one.mp3"), 440, 1.2)
    mix = os.path.join(s.media, "mix.m3u8")
    with open(mix, "w") as f:
        f.write("#EXTM3U\n#EXTINF:1,One\none.mp3\n")
    notes = os.path.join(s.media, "notes.txt")
    with open(notes, "w") as f:
        f.write("a text file\n")
    patch = os.path.join(s.cwd, "patch.dat")
    write_list(patch, [])
    w = s.launch()
    time.sleep(0.3)
    edge = (2, 100, 3, 20)  # inside the window's left edge, where the mark shows

    def edge_pixels():
        return s.pixels(*w.at(edge[0], edge[1]), edge[2], edge[3])
    before = edge_pixels()
    shown = []
    since = s.mark()
    outcome = s.drag([album, raw, mix, notes, "http://example.org/x.mp3"], *w.centre_of(*PLAY),
                     while_over=lambda: shown.append(edge_pixels()))
    check(outcome == "dropped", "the drop was %s" % outcome)
    check(shown and shown[0] != before, "the window showed nothing while the drag was over it")
    wait_for(lambda: edge_pixels() == before, 5, "the drop mark to go after the drop")
    dismiss_box(s, "the text file and the web address")
    expected = [os.path.join(album, "1 - a.wav"), os.path.join(album, "2 - b.ogg"), raw, one]
    wait_for(lambda: read_bytes(patch) == list_bytes(expected), 10,
             "patch.dat to hold the dropped files (it holds %r)" % read_bytes(patch))
    s.wait_for_tones([550, 660, 770, 440], since, timeout=20)

    # on the editor: added after the lines there, as Add tracks adds
    more = os.path.join(s.media, "more")
    os.makedirs(more)
    extra = make_tone(os.path.join(more, "x.mp3"), 880, 1.0)
    click(s, w, PLAYLIST)
    editor = editor_window(s)
    outcome = s.drag([more], *editor.centre_of(*EDITOR_LIST))
    check(outcome == "dropped", "the drop on the editor was %s" % outcome)
    wait_for(lambda: read_bytes(patch) == list_bytes(expected + [extra]), 10,
             "the folder dropped on the editor to be added (patch.dat: %r)" % read_bytes(patch))
    check(os.path.exists(os.path.join(s.cwd, "kontrola.tmp")), "no kontrola.tmp after the add")
    click(s, editor, EDITOR_CLOSE)
    wait_for(lambda: not s.visible_windows(EDITOR_TITLE), 5, "the editor to close")
    check(not s.error_boxes(), "an error box: %s" % s.window_titles())
    close_program(s, s.main_window())
    check(read_bytes(patch) == list_bytes(expected + [extra]), "patch.dat after exit: %r"
          % read_bytes(patch))


def folders(s):
    """A folder handed to the player (the command line, then "Add folder" in the editor, by the
    keyboard) gives every playable file under it, recognised by content, in natural order;
    links are followed once, and a folder that cannot be read is named once at the end. A tree
    of 20,000 files in 1,000 folders shows its progress and can be cancelled, leaving the list
    as it was."""
    music = os.path.join(s.media, "Music")
    first = os.path.join(music, "1 - First")
    for folder in (first, os.path.join(music, "2 - Second"), os.path.join(music, "10 - Tenth"),
                   os.path.join(music, "3 - Wrong"), os.path.join(music, "4 - Locked"),
                   os.path.join(s.media, "elsewhere")):
        os.makedirs(folder)
    a = make_tone(os.path.join(first, "01 - a.mp3"), 440, 1.0)
    b = make_tone(os.path.join(first, "2 - b.flac"), 550, 1.0)
    c = make_tone(os.path.join(first, "10 - c.wav"), 660, 1.0)
    d = make_tone(os.path.join(music, "2 - Second", "track.ogg"), 770, 1.0)
    with open(os.path.join(music, "2 - Second", "cover.jpg"), "wb") as f:
        f.write(b"\xff\xd8\xff\xe0" + bytes(range(256)) * 64)
    with open(os.path.join(music, "2 - Second", "notes.txt"), "w") as f:
        f.write("liner notes\n")
    # by content, not by name: a WAV named .mp3 is taken, a text named .mp3 is not
    e = os.path.join(music, "3 - Wrong", "really a wav.mp3")
    os.rename(make_tone(os.path.join(music, "3 - Wrong", "w.wav"), 880, 1.0), e)
    with open(os.path.join(music, "3 - Wrong", "not music.mp3"), "w") as f:
        f.write("not music\n")
    make_tone(os.path.join(music, "4 - Locked", "hidden.mp3"), 990, 1.0)
    far = make_tone(os.path.join(s.media, "elsewhere", "far.mp3"), 1100, 1.0)
    os.symlink(".", os.path.join(music, "5 - loop"))  # a loop back to the folder itself
    os.symlink(os.path.join(s.media, "elsewhere"), os.path.join(music, "6 - link"))
    g = make_tone(os.path.join(music, "10 - Tenth", "x.opus"), 1210, 1.0)
    s.hand_over(s.media)
    os.chmod(os.path.join(music, "4 - Locked"), 0)
    patch = os.path.join(s.cwd, "patch.dat")
    write_list(patch, [])
    s.hand_over(patch)

    since = s.mark()
    w = s.launch([music])
    dismiss_box(s, "the folder that cannot be read")
    expected = [a, b, c, d, e, os.path.join(music, "6 - link", "far.mp3"), g]
    wait_for(lambda: read_bytes(patch) == list_bytes(expected), 10,
             "patch.dat to hold the folder's files (it holds %r)" % read_bytes(patch))
    s.wait_for_tones([440, 550], since, timeout=10)
    check(os.path.exists(far), "the linked file went away")

    # "Add folder", reached by the keyboard: the list box has the focus, then Open, Add folder
    click(s, w, PAUSE)
    click(s, w, PLAYLIST)
    editor = editor_window(s)
    s.key(editor, "Tab")
    s.key(editor, "Tab")
    s.key(editor, "space")
    dialog = wait_for(lambda: s.visible_windows("Ondrix - Add folder"), 5, "the folder dialog")[0]
    s.xdotool("windowfocus", "--sync", dialog.id)
    s.xdotool("type", "--delay", "20", os.path.join(s.media, "elsewhere"))
    s.xdotool("key", "Return")
    wait_for(lambda: read_bytes(patch) == list_bytes(expected + [far]), 10,
             "the folder added in the editor (patch.dat: %r)" % read_bytes(patch))
    click(s, editor, EDITOR_CLOSE)
    wait_for(lambda: not s.visible_windows(EDITOR_TITLE), 5, "the editor to close")

    # 20,000 files in 1,000 folders, which take seconds to look at: the window shows how far
    # it got, the status keeps moving, and Cancel leaves the list as it was
    big = os.path.join(s.media, "Big")
    for i in range(1000):
        folder = os.path.join(big, "%04d" % i)
        os.makedirs(folder)
        for j in range(20):
            with open(os.path.join(folder, "%02d.mp3" % j), "wb") as f:
                f.truncate(1 << 20)  # no frames in it: read to its end to find none
    s.hand_over(big)
    before = read_bytes(patch)
    code, out = s.run_ondrix([big], s.cwd)
    check(code == 0 and out == "", "the hand-over of the big folder: %d %r" % (code, out))
    progress = wait_for(s.error_boxes, 10, "the progress window")[0]
    first_look = s.pixels(*progress.pos, *progress.size)
    time.sleep(1.0)
    check(s.pixels(*progress.pos, *progress.size) != first_look,
          "the progress window stood still")
    s.key(progress, "Escape")
    wait_for(lambda: not s.error_boxes(), 5, "the progress window to go")
    time.sleep(1.0)
    check(read_bytes(patch) == before, "the cancelled folder changed the list")
    check(not s.error_boxes(), "a box after Cancel: %s" % s.window_titles())
    close_program(s, s.main_window())
    check(read_bytes(patch) == before, "patch.dat after exit: %r" % read_bytes(patch)[:200])


def playlist_files(s):
    """The play lists of other players given on the command line: an M3U written in Latin-1
    with relative and absolute names, a PLS and an XSPF, read as the entries they name (a
    missing one kept, web addresses counted in one box); the editor's Save then writes M3U8 and
    XSPF, which read back as the same list."""
    lists = os.path.join(s.media, "lists")
    sub = os.path.join(lists, "sub")
    os.makedirs(sub)
    cafe = make_tone(os.path.join(sub, "Café del Mar.mp3"), 440, 3.0)
    strasse = make_tone(os.path.join(s.media, "Straße.wav"), 550, 1.0)
    gone = os.path.join(lists, "gone.mp3")
    m3u = os.path.join(lists, "latin.m3u")
    with open(m3u, "wb") as f:
        f.write("#EXTM3U\r\n#EXTINF:1,Café\r\nsub\\Café del Mar.mp3\r\n#EXTINF:1,Straße\r\n"
                "%s\r\ngone.mp3\r\nhttp://radio.example/stream\r\n".encode("cp1252") %
                strasse.encode("cp1252"))
    ogg = make_tone(os.path.join(lists, "two words.ogg"), 660, 1.0)
    pls = os.path.join(lists, "radio.pls")
    with open(pls, "w") as f:
        f.write("[playlist]\nFile1=two words.ogg\nTitle1=Two\nFile2=http://radio.example/"
                "\nNumberOfEntries=2\nVersion=2\n")
    flac = make_tone(os.path.join(s.media, "x #1.flac"), 770, 1.0)
    xspf = os.path.join(lists, "mix.xspf")
    with open(xspf, "w") as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\n<playlist version="1" xmlns='
                '"http://xspf.org/ns/0/"><trackList><track><location>file://%s</location>'
                '</track><track><location>sub/Caf%%C3%%A9%%20del%%20Mar.mp3</location></track>'
                '</trackList></playlist>\n' % urllib.parse.quote(flac))
    patch = os.path.join(s.cwd, "patch.dat")
    write_list(patch, [])
    since = s.mark()
    w = s.launch([m3u, pls, xspf])
    dismiss_box(s, "the web addresses")
    expected = [cafe, strasse, gone, ogg, flac, cafe]
    wait_for(lambda: read_bytes(patch) == list_bytes(expected), 10,
             "patch.dat to hold the lists' entries (it holds %r)" % read_bytes(patch))
    # paused before the list reaches the missing entry, whose open would fail
    s.wait_for_tones([440], since, timeout=10)
    click(s, w, PAUSE)

    # saved as M3U8 and XSPF from the editor, by the extension typed
    click(s, w, PLAYLIST)
    editor = editor_window(s)
    for name in ("saved.m3u8", "saved.xspf"):
        click(s, editor, EDITOR_SAVE)
        dialog = wait_for(lambda: s.visible_windows("Ondrix - Ulozenie tracklistu"), 5,
                          "the save dialog")[0]
        s.xdotool("windowfocus", "--sync", dialog.id)
        s.xdotool("type", "--delay", "20", os.path.join(lists, name))
        s.xdotool("key", "Return")
        wait_for(lambda: os.path.exists(os.path.join(lists, name)), 5, name)
        wait_for(lambda: not s.visible_windows("Ondrix - Ulozenie tracklistu"), 5,
                 "the save dialog to close")
    m3u8 = read_bytes(os.path.join(lists, "saved.m3u8"))
    check(m3u8 == b"#EXTM3U\n" + b"".join(p + b"\n" for p in [
        "sub/Café del Mar.mp3".encode(), strasse.encode(), b"gone.mp3", b"two words.ogg",
        flac.encode(), "sub/Café del Mar.mp3".encode()]),
        "saved.m3u8 holds %r" % m3u8)
    xspf_saved = read_bytes(os.path.join(lists, "saved.xspf")).decode()
    locations = re.findall(r"<location>([^<]*)</location>", xspf_saved)
    check(locations == ["file://" + urllib.parse.quote(p) for p in expected],
          "saved.xspf names %s" % locations)
    click(s, editor, EDITOR_CLOSE)
    wait_for(lambda: not s.visible_windows(EDITOR_TITLE), 5, "the editor to close")
    # read back by the player: the same list
    for name in ("saved.m3u8", "saved.xspf"):
        write_list(patch, [])
        code, out = s.run_ondrix([os.path.join(lists, name)], s.cwd)
        check(code == 0, "ondrix %s: %d %r" % (name, code, out))
        wait_for(lambda: read_bytes(patch) == list_bytes(expected), 10,
                 "%s read back as the same list (patch.dat: %r)" % (name, read_bytes(patch)))
    # the same lists come in through OPEN FILE and the editor's Open too
    click(s, w, PAUSE)
    click(s, w, OPEN_FILE)
    dialog = wait_for(lambda: s.visible_windows("Open"), 5, "the music dialog")[0]
    s.xdotool("windowfocus", "--sync", dialog.id)
    s.xdotool("type", "--delay", "20", pls)
    s.xdotool("key", "Return")
    dismiss_box(s, "the PLS list's web address")
    wait_for(lambda: read_bytes(patch) == list_bytes([ogg]), 10,
             "OPEN FILE to take the PLS list's entry (patch.dat: %r)" % read_bytes(patch))
    click(s, w, PLAYLIST)
    editor = editor_window(s)
    click(s, editor, EDITOR_OPEN)
    dialog = wait_for(lambda: s.visible_windows("Open"), 5, "the editor's open dialog")[0]
    s.xdotool("windowfocus", "--sync", dialog.id)
    s.xdotool("type", "--delay", "20", xspf)
    s.xdotool("key", "Return")
    wait_for(lambda: not [d for d in s.visible_windows() if d.id == dialog.id], 5,
             "the open dialog to close")
    click(s, editor, EDITOR_CLOSE)
    wait_for(lambda: not s.visible_windows(EDITOR_TITLE), 5, "the editor to close")
    wait_for(lambda: read_bytes(patch) == list_bytes([flac, cafe]), 10,
             "the editor's Open to take the XSPF list (patch.dat: %r)" % read_bytes(patch))
    check(not s.error_boxes(), "an error box: %s" % s.window_titles())
    close_program(s, s.main_window())


def shuffle(s):
    """Shuffle, beside Repeat and mirrored in the desktop's player controls both ways: twenty
    tracks play each once, the first one first, in an order that is not the list's; with Repeat
    the next pass does not begin with the track that ended the last; unchecked, the list goes
    on in its own order from the track that plays."""
    if shutil.which("playerctl") is None:
        raise Skipped("playerctl is not installed")
    freqs = [round(300 * 1.06 ** i) for i in range(20)]
    paths = [make_tone(os.path.join(s.media, "%02d.wav" % i), f, 0.6)
             for i, f in enumerate(freqs)]
    write_list(os.path.join(s.cwd, "patch.dat"), paths)
    w = s.launch()
    wait_for(lambda: playerctl(s, "shuffle") == "Off", 10, "the player on the session bus")

    def box():
        return s.pixels(*w.at(SHUFFLE_BOX[0], SHUFFLE_BOX[1]), SHUFFLE_BOX[2], SHUFFLE_BOX[3])
    unchecked = box()
    playerctl(s, "shuffle", "On")
    wait_for(lambda: box() != unchecked, 5, "the Shuffle box to be checked from the desktop")
    click(s, w, SHUFFLE_BOX)
    wait_for(lambda: playerctl(s, "shuffle") == "Off", 5, "the desktop to see Shuffle off")
    check(box() == unchecked, "the Shuffle box is still checked")
    click(s, w, SHUFFLE_BOX)
    wait_for(lambda: playerctl(s, "shuffle") == "On", 5, "the desktop to see Shuffle on")
    click(s, w, REPEAT_BOX)

    def heard(since):
        """[(start s, track)] of the tracks heard since the mark, once whole. The pitch of a run
        is the median of its blocks' away from its ends: the tracks follow each other without a
        gap, so a block at a join has a pitch of neither, and a dropout on a loaded machine
        lowers the pitch of the block it falls in."""
        samples = s.recorded(since)
        pitches = harness.blocks(samples)
        out = []
        for start, length, _ in harness.tone_runs(samples):
            if (start + length) * harness.RATE > len(samples) - harness.RATE // 5:
                break  # still sounding: known once it is whole
            inner = sorted(f for t, level, f in pitches if start + 0.05 <= t <= start + length
                           - 0.1 and level >= harness.SILENT_RMS and f > 0)
            f = inner[len(inner) // 2] if inner else 0.0
            near = min(range(20), key=lambda i: abs(freqs[i] - f))
            check(harness.same_tone(f, freqs[near]), "a tone of %.0f Hz, which no track has, at "
                  "%.2f s: %s" % (f, start, harness.describe_runs(harness.tone_runs(samples))))
            out.append((start, near))
        return out

    def tracks(since):
        return [track for _, track in heard(since)]
    since = s.mark()
    click(s, w, PLAY)
    order = wait_for(lambda: (lambda h: len(h) >= 22 and h)(tracks(since)), 60,
                     "two passes to begin", interval=1.0)
    first = order[:20]
    print("heard: %s" % order)
    check(sorted(first) == list(range(20)), "the first pass is no permutation: %s" % first)
    check(first[0] == 0, "the first pass began with track %d, not the current one" % first[0])
    check(first != list(range(20)), "the shuffled pass played in list order")
    check(order[20] != first[19], "the next pass began with the track that ended the last")

    # unchecked while a track plays (just after it began): the list's own order from that
    # track on
    def pitch_now():  # of the last 100 ms: cheap enough to watch for the next track
        mark = s.mark()
        return harness.frequency(s.recorded(mark - harness.RATE // 10, mark))
    playing = pitch_now()
    wait_for(lambda: not harness.same_tone(pitch_now(), playing), 5, "the next track",
             interval=0.02)
    time.sleep(0.15)
    clicked = s.mark()
    click(s, w, SHUFFLE_BOX)
    # the entry the player has as current (what is heard lags it by the sound server's buffer)
    url = playerctl(s, "metadata", "xesam:url")
    current = next(i for i, p in enumerate(paths) if url == "file://" + p)

    def following():
        runs = heard(since)
        at = [i for i, (start, track) in enumerate(runs)
              if track == current and start * harness.RATE >= clicked - since - 2 * harness.RATE]
        return at and len(runs) >= at[-1] + 4 and [track for _, track in runs[at[-1] + 1:]]
    after = wait_for(following, 15, "the tracks after Shuffle was unchecked", interval=1.0)
    # The shuffled entry queued behind the current one may have begun to sound before the box
    # was unchecked (a join already made is not undone); the list's order comes right after it.
    expected = [(current + 1) % 20, (current + 2) % 20]
    check(after[:2] == expected or after[1:3] == expected,
          "after Shuffle was unchecked during track %d came %s" % (current, after))
    close_program(s, w)


def play_line(s):
    """In the editor a double-click or Return plays a line at once, from its start, and the line
    that plays is marked, the mark following the advance; lines move with Alt+Down and with the
    mouse, saved at once; typing finds a line; closed, the editor leaves the main window playing
    the same track, which then goes on to the one that follows it in the new order."""
    freqs = [330 + 55 * i for i in range(10)]
    paths = tagged_tracks(s, [("t%02d.mp3" % i, f, 6.0, "Band", "Tone %d" % (i + 1))
                              for i, f in enumerate(freqs)])
    patch = os.path.join(s.cwd, "patch.dat")
    write_list(patch, paths)
    w = s.launch()
    click(s, w, PLAYLIST)
    editor = editor_window(s)

    def line(row):
        return editor.at(EDITOR_LIST[0] + 60, EDITOR_LIST[1] + 2 + row * EDITOR_ITEM_HEIGHT + 5)

    def marked(row):
        x, y = editor.at(EDITOR_LIST[0] + 2, EDITOR_LIST[1] + 1 + row * EDITOR_ITEM_HEIGHT)
        return sum(1 for r in s.pixels(x, y, 200, EDITOR_ITEM_HEIGHT) for p in r
                   if p[0] > 200 and p[1] > 150 and p[2] < 140) >= 10

    check(not any(marked(r) for r in range(10)) or marked(0),
          "a line other than the loaded one is marked")
    since = s.mark()
    s.move_pointer(*line(6))
    s.xdotool("click", "--repeat", "2", "--delay", "80", 1)
    runs = s.wait_for_tones([freqs[6]], since, timeout=5)
    check(runs[0][0] < 1.5, "line 7 was heard %.2f s after the double-click" % runs[0][0])
    wait_for(lambda: marked(6), 5, "line 7 to be marked")
    check(not marked(0), "line 1 is still marked")
    s.wait_for_tones([freqs[6], freqs[7]], since, timeout=12)
    wait_for(lambda: marked(7) and not marked(6), 5, "the mark to follow to line 8")
    check(harness.tone_runs(s.recorded(since))[0][1] >= 5.5, "line 7 did not play from its start")

    # Return on a line plays it too; the lines are then moved around it while it plays
    since = s.mark()
    s.click(*line(2))
    s.key(editor, "Return")
    s.wait_for_tones([freqs[2]], since, timeout=5)
    wait_for(lambda: marked(2), 5, "line 3 to be marked")

    # lines moved, each move saved at once: line 1 two down with Alt+Down, then line 10 to the
    # top with the mouse
    s.click(*line(0))
    s.key(editor, "alt+Down")
    s.key(editor, "alt+Down")
    order = [paths[1], paths[2], paths[0]] + paths[3:]
    wait_for(lambda: read_bytes(patch) == list_bytes(order), 5,
             "Alt+Down to move line 1 (patch.dat: %r)" % read_bytes(patch))
    check(marked(1), "the mark did not move with its line")
    # pressed once and dragged (a click just before would make the press a double click)
    s.move_pointer(*line(9))
    s.xdotool("mousedown", 1)
    x, y = line(9)
    tx, ty = line(0)
    for i in range(1, 16):
        s.xdotool("mousemove", x, y + (ty - 4 - y) * i // 15)
        time.sleep(0.03)
    time.sleep(0.3)
    s.xdotool("mouseup", 1)
    order = [order[9]] + order[:9]
    wait_for(lambda: read_bytes(patch) == list_bytes(order), 5,
             "the line dragged to the top (patch.dat: %r)" % read_bytes(patch))

    # typing finds the first line that holds what was typed, wherever in the line
    s.xdotool("windowfocus", "--sync", editor.id)
    s.xdotool("type", "--delay", "30", "ne 5")
    s.key(editor, "Delete")
    order.remove(paths[4])
    wait_for(lambda: read_bytes(patch) == list_bytes(order), 5,
             "the line typed for to be found and deleted (patch.dat: %r)" % read_bytes(patch))

    # closed: the same track plays on, and what follows it is the line after it now
    playing = paths[2]
    nxt = order[order.index(playing) + 1]
    since = s.mark()
    click(s, editor, EDITOR_CLOSE)
    wait_for(lambda: not s.visible_windows(EDITOR_TITLE), 5, "the editor to close")
    runs = s.wait_for_tones([freqs[2], freqs[paths.index(nxt)]], since, timeout=8)
    check(runs[0][0] < 0.3, "the track stopped or started again when the editor closed: %s"
          % harness.describe_runs(runs))
    check(not s.error_boxes(), "an error box: %s" % s.window_titles())
    close_program(s, s.main_window())
    check(read_bytes(patch) == list_bytes(order), "patch.dat after exit: %r" % read_bytes(patch))


SCENARIOS = {
    "first_start": (first_start, {}),
    "play_through": (play_through, {"sound": True}),
    "repeat": (repeat, {"sound": True}),
    "mute": (mute, {"sound": True}),
    "server_restart": (server_restart, {"sound": True}),
    "exit_save_fails": (exit_save_fails, {"sound": True}),
    "move": (move, {}),
    "playlist": (playlist, {}),
    "tray": (tray, {"sound": True, "tray": True}),
    "about": (about, {}),
    "update": (update, {}),
    "wayland": (wayland, {"wayland": True}),
    "tray_sni": (tray_sni, {"bus": True}),
    "accessibility": (accessibility, {"bus": True}),
    "second_instance": (second_instance, {"sound": True, "tray": True}),
    "mpris": (mpris, {"sound": True, "bus": True}),
    "volume_restore": (volume_restore, {"sound": True, "bus": True}),
    "volume_restore_pipewire": (volume_restore, {"sound": "pipewire", "bus": True}),
    "volume_outside": (volume_outside, {"sound": True, "bus": True}),
    "volume_outside_pipewire": (volume_outside, {"sound": "pipewire", "bus": True}),
    "drop": (drop, {"sound": True}),
    "folders": (folders, {"sound": True, "nobody": True}),
    "playlist_files": (playlist_files, {"sound": True}),
    "shuffle": (shuffle, {"sound": True, "bus": True}),
    "play_line": (play_line, {"sound": True}),
}


def main():
    global SOURCE
    if len(sys.argv) < 5 or sys.argv[1] not in SCENARIOS:
        print(__doc__ + "scenarios: " + " ".join(SCENARIOS), file=sys.stderr)
        return 2
    name = sys.argv[1]
    ondrix, SOURCE, work_root = (os.path.abspath(a) for a in sys.argv[2:5])
    scenario, options = SCENARIOS[name]
    if name in ("about", "update"):
        import webserver
        server_url = sys.argv[5] if len(sys.argv) > 5 else ""
        if not webserver.in_private_network():
            return webserver.rerun_in_private_network()
        return harness.run(name, lambda s: scenario(s, server_url), ondrix, work_root,
                           **options)
    return harness.run(name, scenario, ondrix, work_root, **options)


if __name__ == "__main__":
    sys.exit(main())
