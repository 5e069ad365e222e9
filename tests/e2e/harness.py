"""The end-to-end harness: per test a fresh folder, a private Xvfb (or a headless sway with
XWayland), and where asked a private sound server with a null sink (PulseAudio, or PipeWire
with WirePlumber and pipewire-pulse on a private session bus), a tray host (trayer) and a local
web server; then the real ondrix binary, driven with xdotool (or a virtual pointer)
and watched from outside (files, the window list, screenshots, the sink's monitor).

Every process started here runs in a process group of its own and is stopped through its PID,
also when a scenario fails. A scenario that fails leaves its folder behind with a screenshot and
the program's output; one that passes leaves nothing.
"""
import json
import math
import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time
import urllib.parse

RATE = 44100
SKIP = 77

MAIN_TITLE = "Ondrix 3"
MAIN_SIZE = (534, 227)
# the main window's transport controls, client coordinates (left, top, width, height)
PAUSE = (140, 94, 70, 59)
PLAY = (216, 76, 105, 88)
STOP = (325, 94, 68, 56)


class Failure(Exception):
    pass


class Skipped(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_for(predicate, timeout, what, interval=0.05):
    """Polls until predicate() gives a true value and returns it; fails after timeout."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure("timed out after %.1f s waiting for %s" % (timeout, what))
        time.sleep(interval)


def write_list(path, entries):
    # the play-list file format: every entry followed by CR LF, the last one too
    with open(path, "wb") as f:
        f.write(b"".join(e.encode("utf-8") + b"\r\n" for e in entries))


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def make_tone(path, freq, seconds, artist=None, title=None):
    """A short sine tone at half scale; MP3s get an ID3v2.3 tag when artist or title is given."""
    codec = {".mp3": ["-c:a", "libmp3lame", "-b:a", "128k"],
             ".wma": ["-c:a", "wmav2", "-b:a", "128k"],
             ".wav": ["-c:a", "pcm_s16le"],
             ".flac": ["-c:a", "flac"],
             ".ogg": ["-c:a", "libvorbis", "-q:a", "5"],
             ".opus": ["-c:a", "libopus", "-b:a", "128k"],
             ".m4a": ["-c:a", "aac", "-b:a", "192k"]}[os.path.splitext(path)[1]]
    tags = []
    if path.endswith(".mp3"):
        tags = ["-id3v2_version", "3", "-write_id3v1", "0"]
        if artist:
            tags += ["-metadata", "artist=" + artist]
        if title:
            tags += ["-metadata", "title=" + title]
    subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                    "sine=frequency=%g:duration=%g:sample_rate=%d,volume=0.5" % (freq, seconds,
                                                                                  RATE),
                    "-map_metadata", "-1", "-ac", "2", *codec, *tags, path], check=True)
    return path


# --- sound analysis -----------------------------------------------------------------------------

BLOCK = RATE // 20  # 50 ms


def left_channel(raw):
    n = len(raw) // 4
    return struct.unpack("<%dh" % (2 * n), raw[: 4 * n])[0::2]


def rms(xs):
    return math.sqrt(sum(x * x for x in xs) / len(xs)) if xs else 0.0


def frequency(xs):
    # rising zero crossings, placed between samples by linear interpolation
    first = last = None
    count = 0
    for i in range(1, len(xs)):
        a, b = xs[i - 1], xs[i]
        if a < 0 <= b:
            at = i - 1 + (-a) / (b - a)
            if first is None:
                first = at
            last = at
            count += 1
    if count < 2:
        return 0.0
    return (count - 1) * RATE / (last - first)


def blocks(samples):
    """(seconds, rms, frequency) of every 50 ms block."""
    out = []
    for start in range(0, len(samples) - BLOCK + 1, BLOCK):
        part = samples[start: start + BLOCK]
        out.append((start / RATE, rms(part), frequency(part)))
    return out


SILENT_RMS = 30.0


def tone_runs(samples, tolerance=0.03):
    """The sequence of steady tones in a recording: [(start s, length s, frequency Hz)].
    A run ends at silence or where the pitch changes; its frequency is the median of its blocks',
    so a block straddling a gapless join, with a pitch between the two tracks', does not name
    the run it begins."""
    runs = []
    pitches = []
    steady = False
    for t, level, freq in blocks(samples):
        if level < SILENT_RMS or freq <= 0:
            steady = False
        elif steady and abs(freq - runs[-1][2]) <= tolerance * runs[-1][2]:
            s, _, f = runs[-1]
            pitches[-1].append(freq)
            runs[-1] = (s, t + BLOCK / RATE - s, sorted(pitches[-1])[len(pitches[-1]) // 2])
        else:
            runs.append((t, BLOCK / RATE, freq))
            pitches.append([freq])
            steady = True
    # a block straddling the change between two tracks has a pitch of its own; drop such seams
    runs = [r for r in runs if r[1] >= 0.2]
    # a dropout on a loaded machine splits a tone in two; the same pitch resumed within a
    # quarter second is the same track
    merged = []
    for run in runs:
        if merged and same_tone(run[2], merged[-1][2]) and \
                run[0] - (merged[-1][0] + merged[-1][1]) < 0.25:
            merged[-1] = (merged[-1][0], run[0] + run[1] - merged[-1][0], merged[-1][2])
        else:
            merged.append(run)
    return merged


def describe_runs(runs):
    return ", ".join("%.0f Hz for %.2f s at %.2f s" % (f, d, s) for s, d, f in runs) or "silence"


def same_tone(freq, expected):
    return abs(freq - expected) <= 0.02 * expected


# --- the session --------------------------------------------------------------------------------


def closed_to_others(path):
    """The first folder on the way to `path` that other users may not pass, or None."""
    parts = os.path.abspath(path).split(os.sep)
    for i in range(1, len(parts)):
        folder = os.sep.join(parts[:i]) or os.sep
        if not os.stat(folder).st_mode & 0o001:
            return folder
    return None


def leftovers_of_x_server(display, pid):
    """What the stopped X server `pid` of `display` left in /tmp. Another test's server
    (XWayland of a test running alongside) may take the freed number at once: a socket that
    still answers, or a lock naming another process, is theirs."""
    number = display.lstrip(":")
    left = []
    lock = "/tmp/.X%s-lock" % number
    try:
        with open(lock) as f:
            if int(f.read().strip()) == pid:
                left.append(lock)
    except (OSError, ValueError):  # none (Xvfb -displayfd writes none), or one being written
        pass
    path = "/tmp/.X11-unix/X%s" % number
    if os.path.exists(path):
        probe = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        try:
            probe.connect(path)
        except OSError:
            left.append(path)
        finally:
            probe.close()
    return left


class Session:
    def __init__(self, name, ondrix, work_root, sound=False, tray=False, wayland=False,
                 bus=False, nobody=False):
        """sound: False, True (PulseAudio) or "pipewire". nobody: as root, everything runs as
        "nobody" (root reads every folder, so a folder closed to the user needs another one)."""
        self.name = name
        self.ondrix = ondrix
        self.folder = os.path.join(work_root, name)
        # sway and the program run as nobody when we are root (see start_sway): where the build
        # tree is closed to other users (a clone in root's 0700 home), they get a folder of
        # their own under /tmp with a copy of the program
        self.copy_program = ((wayland or nobody) and os.getuid() == 0 and
                             closed_to_others(work_root) is not None)
        self.want_nobody = nobody and os.getuid() == 0
        if self.copy_program:
            self.folder = tempfile.mkdtemp(prefix="ondrix-e2e-%s-" % name, dir="/tmp")
        self.cwd = os.path.join(self.folder, "cwd")
        self.media = os.path.join(self.folder, "media")
        self.home = os.path.join(self.folder, "home")
        self.runtime = None  # made by start()
        self.log = os.path.join(self.folder, "ondrix-output.txt")
        self.want_sound = sound
        self.want_tray = tray
        self.want_wayland = wayland
        self.want_bus = bus
        self.watcher = None
        self.user = None  # (uid, gid) every process runs as, when not ours
        self.pointer = None
        self.processes = []  # (label, Popen), in start order
        self.program = None
        self.program_log = None
        self.recorder = None
        self.recording = os.path.join(self.folder, "monitor.raw")
        self.display = None
        self.xvfb_pid = None
        self.env = None

    # -- start and stop --

    def start(self):
        shutil.rmtree(self.folder, ignore_errors=True)
        for d in (self.cwd, self.media, self.home):
            os.makedirs(d)
        if self.copy_program:
            os.chmod(self.folder, 0o755)
            built = os.path.dirname(self.ondrix)
            self.ondrix = self.copy_tool(self.ondrix)
            # the modules are looked for beside the executable first
            for name in os.listdir(built):
                if name.startswith("libondrix-") and name.endswith(".so"):
                    shutil.copy2(os.path.join(built, name), os.path.join(self.folder, "bin"))
        # Short, as /run/user/UID is: a socket's path may not exceed 107 bytes, and the
        # program's own socket is named inside it.
        self.runtime = tempfile.mkdtemp(prefix="ondrix-run-")
        # everything the program or a helper might write goes under the test's folder
        self.env = dict(os.environ, HOME=self.home, XDG_RUNTIME_DIR=self.runtime,
                        XDG_CONFIG_HOME=os.path.join(self.home, ".config"),
                        XDG_CACHE_HOME=os.path.join(self.home, ".cache"),
                        XDG_DATA_HOME=os.path.join(self.home, ".local", "share"),
                        TMPDIR=self.runtime,
                        QT_QPA_PLATFORM="xcb", LC_ALL="C.UTF-8",
                        # no session bus: nothing may start one behind the test's back, and
                        # the tray icon takes the X11 embedding the tray host offers
                        DBUS_SESSION_BUS_ADDRESS="disabled:")
        for var in ("WAYLAND_DISPLAY", "ONDRIX_AUDIO_OUTPUT", "QT_QPA_PLATFORMTHEME",
                    "SESSION_MANAGER"):
            self.env.pop(var, None)
        if self.want_nobody:
            self.become_nobody()
        if self.want_wayland:
            self.start_sway()
        else:
            self.start_xvfb()
        if self.want_sound == "pipewire":
            self.start_pipewire()
        elif self.want_sound:
            self.start_pulse()
        else:
            self.env["ONDRIX_AUDIO_OUTPUT"] = "null"
        if self.want_tray:
            self.start_trayer()
        if self.want_bus and self.env["DBUS_SESSION_BUS_ADDRESS"] == "disabled:":
            self.start_session_bus()

    def copy_tool(self, path):
        """A copy of a built program that the users of a closed build tree can run."""
        folder = os.path.join(self.folder, "bin")
        os.makedirs(folder, exist_ok=True)
        return shutil.copy2(path, folder)

    def spawn(self, label, args, **kwargs):
        kwargs.setdefault("env", self.env)
        kwargs.setdefault("stdin", subprocess.DEVNULL)
        kwargs.setdefault("stdout", subprocess.DEVNULL)
        kwargs.setdefault("stderr", subprocess.DEVNULL)
        if self.user:
            kwargs.update(user=self.user[0], group=self.user[1], extra_groups=[])
        proc = subprocess.Popen(args, start_new_session=True, **kwargs)
        self.processes.append((label, proc))
        return proc

    def become_nobody(self):
        """From here on every process runs as "nobody", in the test's folder handed to it."""
        self.user = (65534, 65534)
        closed = closed_to_others(self.folder)
        check(closed is None, "%s is closed to other users, so what runs as nobody cannot reach "
              "the test's folder" % closed)
        self.hand_over(self.folder)
        os.chown(self.runtime, *self.user)

    def hand_over(self, path):
        """Gives a file or folder made by the test to the user the program runs as."""
        if self.user:
            os.lchown(path, *self.user)
            for root, dirs, files in os.walk(path):
                for name in [root] + [os.path.join(root, n) for n in dirs + files]:
                    os.lchown(name, *self.user)

    def start_xvfb(self):
        read_fd, write_fd = os.pipe()
        # -br: a black root, so what shows through the cut corners is known
        xvfb = self.spawn("Xvfb", ["/usr/bin/Xvfb", "-displayfd", str(write_fd), "-screen", "0",
                                   "1280x1024x24", "-br", "-nolisten", "tcp", "-noreset"],
                          pass_fds=(write_fd,))
        self.xvfb_pid = xvfb.pid
        os.close(write_fd)
        with os.fdopen(read_fd) as r:
            number = r.readline().strip()
        check(number, "Xvfb did not start")
        self.display = ":" + number
        self.env["DISPLAY"] = self.display

    # sway refuses to run as root, and XWayland lets in only the user who started it: as root,
    # the compositor, its helpers and the program all run as "nobody".
    BACKGROUND = (0xff, 0x00, 0xff)

    def start_sway(self):
        for tool in ("sway", "grim", "Xwayland", "swaybg"):
            if shutil.which(tool) is None:
                raise Skipped("%s is not installed" % tool)
        if os.getuid() == 0:
            self.become_nobody()
            self.env["HOME"] = self.home
        config = os.path.join(self.folder, "sway.conf")
        with open(config, "w") as f:
            f.write("output HEADLESS-1 resolution %dx%d position 0 0 bg #%02x%02x%02x "
                    "solid_color\n" % (1280, 1024, *self.BACKGROUND))
            f.write("default_border none\ndefault_floating_border none\nxwayland enable\n"
                    "focus_follows_mouse no\n")
        self.env.update(WLR_BACKENDS="headless", WLR_LIBINPUT_NO_DEVICES="1",
                        WLR_RENDERER="pixman")
        self.env.pop("DISPLAY", None)
        log = open(os.path.join(self.folder, "sway-output.txt"), "w")
        sway = self.spawn("sway", ["sway", "-c", config], stderr=log)
        log.close()

        def sockets():
            check(sway.poll() is None, "sway exited; see " +
                  os.path.join(self.folder, "sway-output.txt"))
            names = os.listdir(self.runtime)
            display = [n for n in names if n.startswith("wayland-") and not n.endswith(".lock")]
            ipc = [n for n in names if n.startswith("sway-ipc.")]
            return display and ipc and (display[0], ipc[0])
        display, ipc = wait_for(sockets, 15, "sway's sockets", 0.1)
        self.env.update(WAYLAND_DISPLAY=display, SWAYSOCK=os.path.join(self.runtime, ipc))
        # XWayland's display, as sway hands it to the programs it starts
        where = os.path.join(self.runtime, "x-display")
        self.swaymsg("exec", "printenv DISPLAY > " + where)
        self.env["DISPLAY"] = wait_for(
            lambda: os.path.exists(where) and read_bytes(where).decode().strip(), 10,
            "XWayland's display name")
        self.display = None  # not ours to clean up: sway removes it

    def start_pointer(self):
        """A virtual pointer (virtual_pointer.c), for pointer() to move and click."""
        tool = os.environ.get("ONDRIX_VIRTUAL_POINTER")
        if not tool or not os.path.exists(tool):
            raise Skipped("the virtual pointer tool is not built (libwayland-dev missing?)")
        if self.copy_program:
            tool = self.copy_tool(tool)
            os.chown(tool, *self.user)
        log = os.path.join(self.folder, "virtual-pointer-output.txt")
        with open(log, "w") as f:
            self.pointer = self.spawn("virtual pointer", [tool], stdin=subprocess.PIPE,
                                      stdout=subprocess.PIPE, stderr=f)
        check(self.pointer.stdout.readline().strip() == b"ready",
              "no virtual pointer: %s" % read_bytes(log).decode(errors="replace").strip())

    def swaymsg(self, *args):
        r = subprocess.run(["swaymsg", *args], env=self.env, capture_output=True, text=True,
                           user=self.user[0] if self.user else None,
                           group=self.user[1] if self.user else None)
        if r.returncode != 0:
            raise Failure("swaymsg %s failed: %s %s" % (" ".join(args), r.stdout, r.stderr))
        return r.stdout

    def sway_windows(self, title=None):
        """The windows sway shows: Window objects with .shell "xdg_shell" or "xwayland"."""
        found = []

        def walk(node):
            if node.get("pid") and node.get("visible", True):
                r = node["rect"]
                w = Window(node["id"], node.get("name") or "", r["x"], r["y"], r["width"],
                           r["height"])
                w.shell = node.get("shell")
                found.append(w)
            for child in node.get("nodes", []) + node.get("floating_nodes", []):
                walk(child)
        walk(json.loads(self.swaymsg("-t", "get_tree", "-r")))
        return [w for w in found if title is None or w.title == title]

    def pointer_do(self, *commands):
        """Commands for the virtual pointer: ("to", x, y), ("by", dx, dy), ("press",),
        ("release",)."""
        for command in commands:
            if command[0] == "to":
                command = command + (1280, 1024)
            self.pointer.stdin.write((" ".join(map(str, command)) + "\n").encode())
            self.pointer.stdin.flush()
            check(self.pointer.stdout.readline().strip() == b"ok",
                  "the virtual pointer did not take %s" % (command,))

    def start_session_bus(self):
        """A private session bus, in place of the disabled one."""
        if shutil.which("dbus-daemon") is None:
            raise Skipped("dbus-daemon is not installed")
        socket = os.path.join(self.runtime, "bus")
        self.spawn("dbus-daemon", ["dbus-daemon", "--session", "--nofork", "--nopidfile",
                                   "--address=unix:path=" + socket])
        wait_for(lambda: os.path.exists(socket), 10, "the session bus")
        self.env["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + socket

    def start_accessibility_bus(self):
        """The AT-SPI bus beside the session bus, as a desktop with a screen reader has it; the
        program is told to speak to it without waiting for a reader to ask."""
        launcher = "/usr/libexec/at-spi-bus-launcher"
        if not os.path.exists(launcher):
            raise Skipped("at-spi2-core is not installed")
        self.spawn("at-spi-bus-launcher", [launcher, "--launch-immediately"])
        self.env["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1"

        def owned():
            return subprocess.run(
                ["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
                 "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner",
                 "string:org.a11y.Bus"], env=self.env, capture_output=True,
                text=True).stdout.strip().endswith("true")
        wait_for(owned, 10, "the accessibility bus")

    def start_sni_watcher(self):
        """Our StatusNotifierItem watcher and host (sni_watcher.py) on the session bus."""
        self.watcher = self.spawn("sni watcher", [sys.executable, os.path.join(
            os.path.dirname(os.path.abspath(__file__)), "sni_watcher.py")],
            stdout=subprocess.PIPE)
        check(self.watcher.stdout.readline().strip() == b"ready",
              "the StatusNotifierItem watcher did not start (python3-dbus and python3-gi?)")

    def stop_sni_watcher(self):
        stop_process(self.watcher)
        self.processes = [(l, p) for l, p in self.processes if p is not self.watcher]
        self.watcher = None

    def start_pulse(self):
        pulseaudio = shutil.which("pulseaudio")
        if pulseaudio is None or shutil.which("parec") is None:
            raise Skipped("pulseaudio and pulseaudio-utils are not installed")
        socket = os.path.join(self.runtime, "pulse-native")
        self.env.update(PULSE_RUNTIME_PATH=os.path.join(self.runtime, "pulse"),
                        PULSE_STATE_PATH=os.path.join(self.runtime, "pulse-state"),
                        PULSE_SERVER="unix:" + socket)
        self.pulse_command = [
            pulseaudio, "--daemonize=no", "--system=false", "-n", "--exit-idle-time=-1",
            "--disallow-exit", "--use-pid-file=no", "--disable-shm=yes", "--log-target=stderr",
            "--load=module-null-sink sink_name=ondrix_null rate=%d channels=2" % RATE,
            "--load=module-native-protocol-unix auth-anonymous=1 socket=" + socket]
        self.run_pulse()

    def run_pulse(self):
        """Starts the sound server and records its sink's monitor into self.recording."""
        log = open(os.path.join(self.folder, "pulseaudio-output.txt"), "a")
        server_env = dict(self.env)
        server_env.pop("DISPLAY")  # or it tries to reach the X session's services
        # --system=false and -n: runs as root too and loads only the modules named here
        server = self.spawn("pulseaudio", self.pulse_command, env=server_env, stderr=log)
        log.close()
        self.pulse = server

        def ready():
            check(server.poll() is None, "the PulseAudio server exited; see "
                  + os.path.join(self.folder, "pulseaudio-output.txt"))
            return subprocess.run(["pactl", "info"], env=self.env,
                                  capture_output=True).returncode == 0
        wait_for(ready, 15, "the PulseAudio server", 0.1)
        self.recorder = self.spawn("parec", [
            "parec", "-d", "ondrix_null.monitor", "--raw", "--format=s16le", "--rate=%d" % RATE,
            "--channels=2", "--latency-msec=20"], stdout=open(self.recording, "wb"))
        wait_for(lambda: os.path.getsize(self.recording) > 0, 10, "the monitor recording")

    def start_pipewire(self):
        """PipeWire as a desktop of Debian 12 runs it: the server, WirePlumber (which ends
        without a session bus, so the private one starts first) and pipewire-pulse, whose
        socket the program and pactl reach; then a null sink, recorded as start_pulse does."""
        tools = ("pipewire", "wireplumber", "pipewire-pulse", "pactl", "parec")
        missing = [t for t in tools if shutil.which(t) is None]
        if missing:
            raise Skipped("%s not installed" % " and ".join(missing))
        self.start_session_bus()
        self.env["PULSE_SERVER"] = "unix:" + os.path.join(self.runtime, "pulse", "native")
        server_env = dict(self.env)
        server_env.pop("DISPLAY")
        servers = []
        for tool in tools[:3]:
            log = open(os.path.join(self.folder, "%s-output.txt" % tool), "w")
            servers.append((tool, self.spawn(tool, [tool], env=server_env, stderr=log)))
            log.close()

        def ready():
            for tool, proc in servers:
                check(proc.poll() is None, "%s exited; see %s" % (tool, os.path.join(
                    self.folder, "%s-output.txt" % tool)))
            return subprocess.run(["pactl", "info"], env=self.env,
                                  capture_output=True).returncode == 0
        wait_for(ready, 15, "pipewire-pulse", 0.1)
        subprocess.run(["pactl", "load-module", "module-null-sink", "sink_name=ondrix_null",
                        "rate=%d" % RATE, "channels=2"], env=self.env, capture_output=True,
                       check=True)
        # WirePlumber makes it the default, at its own default volume for a new device
        wait_for(lambda: "Default Sink: ondrix_null" in subprocess.run(
            ["pactl", "info"], env=self.env, capture_output=True, text=True).stdout, 10,
            "the null sink as the default")
        self.pactl("set-sink-volume", "ondrix_null", "100%")
        self.recorder = self.spawn("parec", [
            "parec", "-d", "ondrix_null.monitor", "--raw", "--format=s16le", "--rate=%d" % RATE,
            "--channels=2", "--latency-msec=20"], stdout=open(self.recording, "wb"))
        wait_for(lambda: os.path.getsize(self.recording) > 0, 10, "the monitor recording")

    def pactl(self, *args):
        r = subprocess.run(["pactl", *args], env=self.env, capture_output=True, text=True)
        if r.returncode != 0:
            raise Failure("pactl %s failed: %s" % (" ".join(args), r.stderr.strip()))
        return r.stdout

    def restart_pulse(self, down=0.5):
        """Kills the sound server as a crash would and starts a new one after `down` seconds, as
        happens when PipeWire restarts or an output device comes and goes. The recording goes on
        in a new file: mark() and recorded() refer to the new server from then on."""
        os.killpg(self.pulse.pid, signal.SIGKILL)
        self.pulse.wait()
        stop_process(self.recorder)
        time.sleep(down)
        base, ext = os.path.splitext(self.recording)
        self.recording = "%s-%d%s" % (base, len(self.processes), ext)
        self.run_pulse()

    def start_trayer(self):
        trayer = shutil.which("trayer")
        if trayer is None:
            raise Skipped("trayer (the tray host) is not installed")
        self.spawn("trayer", [trayer, "--edge", "top", "--align", "right", "--widthtype",
                              "pixel", "--width", "120", "--heighttype", "pixel", "--height",
                              "32", "--SetDockType", "false", "--transparent", "false"])
        self.trayer_window = wait_for(
            lambda: self.visible_windows(name="panel"), 10, "the trayer panel")[0]

    def launch(self, args=()):
        """Starts the program in the test's working directory and waits for its main window."""
        self.program_log = open(self.log, "w")
        self.program = self.spawn("ondrix", [self.ondrix, *args], cwd=self.cwd,
                                  stdout=self.program_log, stderr=subprocess.STDOUT)
        return self.main_window()

    def run_ondrix(self, args, cwd, env=None, timeout=20):
        """Runs another ondrix to its end, as a command typed in a terminal; returns its exit
        status and what it printed."""
        proc = self.spawn("ondrix " + " ".join(args), [self.ondrix, *args], cwd=cwd,
                          env=env or self.env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        try:
            out, _ = proc.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Failure("ondrix %s did not end within %d s" % (" ".join(args), timeout))
        return proc.returncode, out.decode(errors="replace")

    def main_window(self, timeout=10):
        def found():
            self.check_running()
            windows = (self.sway_windows(MAIN_TITLE) if self.want_wayland
                       else self.visible_windows(MAIN_TITLE))
            return [w for w in windows if w.size == MAIN_SIZE]
        return wait_for(found, timeout, "the main window (%dx%d)" % MAIN_SIZE)[0]

    def check_running(self):
        if self.program is not None and self.program.poll() is not None:
            raise Failure("ondrix exited with code %d" % self.program.returncode)

    def wait_exit(self, timeout=10):
        try:
            code = self.program.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Failure("ondrix did not exit within %d s" % timeout)
        check(code == 0, "ondrix exited with code %d" % code)

    def stop(self):
        """Stops everything, last started first, and checks that no process of theirs is left."""
        left = []
        for label, proc in reversed(self.processes):
            stop_process(proc)
            # sway's helpers outlive it by a moment
            if group_alive(proc.pid) and not wait_for_quietly(
                    lambda: not group_alive(proc.pid), 3):
                left.append(label)
                try:
                    os.killpg(proc.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
        self.processes = []
        if self.display and self.xvfb_pid:
            for path in leftovers_of_x_server(self.display, self.xvfb_pid):
                left.append(path)
                os.remove(path)
        if self.program_log:
            self.program_log.close()
            self.program_log = None
        if self.runtime:
            shutil.rmtree(self.runtime, ignore_errors=True)
            self.runtime = None
        return left

    # -- the window list, from outside --

    def xdotool(self, *args, check_result=True):
        r = subprocess.run(["xdotool", *map(str, args)], env=self.env, capture_output=True,
                           text=True)
        if check_result and r.returncode != 0:
            raise Failure("xdotool %s failed: %s" % (" ".join(map(str, args)), r.stderr.strip()))
        return r.stdout

    def visible_windows(self, name=None, class_name=None):
        args = ["search", "--onlyvisible"]
        if name is not None:
            args += ["--name", "^" + re.sub(r"([.\[\]()*+?{}|^$\\])", r"\\\1", name)]
        if class_name is not None:
            args += ["--class", class_name]
        ids = self.xdotool(*args, check_result=False).split()
        windows = [w for w in (Window.query(self, int(i)) for i in ids) if w is not None]
        return [w for w in windows if name is None or w.title == name]

    def window_titles(self):
        if self.want_wayland:
            if "SWAYSOCK" not in self.env:
                return []
            return ["%r %dx%d (%s)" % (w.title, *w.size, w.shell) for w in self.sway_windows()]
        titles = []
        for i in self.xdotool("search", "--onlyvisible", "--name", ".",
                              check_result=False).split():
            w = Window.query(self, int(i))
            if w is not None:
                titles.append("%r %dx%d" % (w.title, *w.size))
        return titles

    # -- input, as a person gives it --

    def click(self, x, y, button=1):
        """Clicks at a screen position."""
        if self.want_wayland:
            check(button == 1, "the virtual pointer has only the left button")
            self.pointer_do(("to", x, y))
            time.sleep(0.05)
            self.pointer_do(("press",), ("release",))
            time.sleep(0.1)
            return
        self.move_pointer(x, y)
        time.sleep(0.05)
        self.xdotool("click", button)
        time.sleep(0.1)

    def move_pointer(self, x, y):
        # not "mousemove --sync": it waits for a motion that never comes when the pointer is
        # already there
        self.xdotool("mousemove", x, y)

        def arrived():
            where = dict(p.split(":") for p in self.xdotool("getmouselocation").split()
                         if ":" in p)
            return (int(where["x"]), int(where["y"])) == (x, y)
        wait_for(arrived, 5, "the pointer to reach %d, %d" % (x, y), 0.01)

    def drag(self, paths, x, y, while_over=None):
        """Drags files from a file manager (tests/e2e/drag_source.py, a GTK drag source, as
        Nautilus is one) and lets go at the screen position x, y; paths are bytes or text, sent
        as file: URIs percent-encoded byte for byte (other text is sent as it is). Calls
        while_over() with the pointer over the target before letting go. Returns the source's
        outcome, "dropped" or "refused"."""
        uris = []
        for p in paths:
            if isinstance(p, str) and "://" in p:
                uris.append(p)
            else:
                raw = p if isinstance(p, bytes) else p.encode()
                uris.append("file://" + urllib.parse.quote(raw))
        source = self.spawn("drag source", [
            "/usr/bin/python3", os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                             "drag_source.py"), *uris],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        if source.stdout.readline().strip() != b"ready":
            raise Skipped("the drag source did not start (python3-gi and gir1.2-gtk-3.0?)")
        window = wait_for(lambda: self.visible_windows(name="drag source"), 5,
                          "the drag source's window")[0]
        start_x, start_y = window.centre_of(0, 0, *window.size)
        self.move_pointer(start_x, start_y)
        self.xdotool("mousedown", 1)
        steps = 25
        for i in range(1, steps + 1):
            self.xdotool("mousemove", start_x + (x - start_x) * i // steps,
                         start_y + (y - start_y) * i // steps)
            time.sleep(0.03)
        time.sleep(0.3)
        if while_over:
            while_over()
        self.xdotool("mouseup", 1)
        outcome = source.stdout.readline().decode().strip()
        source.wait(timeout=10)
        return outcome

    def error_boxes(self):
        """The program's message boxes on the screen: its windows that are none of its own."""
        return [w for w in self.visible_windows(MAIN_TITLE) if w.size != MAIN_SIZE]

    def key(self, window, name):
        # Without a window manager nothing gives a window the keyboard focus on a click, so
        # the test does what the window manager would.
        self.xdotool("windowfocus", "--sync", window.id)
        self.xdotool("key", name)
        time.sleep(0.1)

    # -- screenshots --

    def screenshot(self, path):
        if self.want_wayland:
            with open(path, "wb") as out:
                subprocess.run(["grim", "-t", "png", "-"], env=self.env, stdout=out,
                               stderr=subprocess.DEVNULL, timeout=20)
            return path
        subprocess.run(["import", "-display", self.display, "-window", "root", path],
                       env=self.env, capture_output=True, timeout=20)
        return path

    def pixels(self, x, y, w, h):
        """The screen's pixels in a rectangle, as rows of (r, g, b)."""
        if self.want_wayland:
            ppm = subprocess.run(["grim", "-t", "ppm", "-g", "%d,%d %dx%d" % (x, y, w, h), "-"],
                                 env=self.env, capture_output=True, timeout=20,
                                 check=True).stdout
            # P6, width, height, maxval, one whitespace byte, then the pixels
            header = re.match(rb"P6\s+(\d+)\s+(\d+)\s+255\s", ppm)
            check(header and (int(header[1]), int(header[2])) == (w, h),
                  "grim gave no %dx%d picture" % (w, h))
            raw = ppm[header.end():]
            return [[tuple(raw[3 * (r * w + c): 3 * (r * w + c) + 3]) for c in range(w)]
                    for r in range(h)]
        raw = subprocess.run(["import", "-display", self.display, "-window", "root", "-crop",
                              "%dx%d+%d+%d" % (w, h, x, y), "-depth", "8", "rgb:-"],
                             env=self.env, capture_output=True, timeout=20, check=True).stdout
        check(len(raw) == w * h * 3, "screenshot of %dx%d+%d+%d has %d bytes"
              % (w, h, x, y, len(raw)))
        return [[tuple(raw[3 * (r * w + c): 3 * (r * w + c) + 3]) for c in range(w)]
                for r in range(h)]

    # -- sound --

    def mark(self):
        """The recording's current length in samples, a point on its time line."""
        return os.path.getsize(self.recording) // 4

    def recorded(self, start=0, end=None):
        raw = read_bytes(self.recording)
        return left_channel(raw[4 * start: None if end is None else 4 * end])

    def wait_for_tones(self, expected, since, timeout, then_silence=0.0):
        """Waits until the recording after `since` holds the expected tones in order (and, when
        asked, that much silence after the last); returns the runs found."""
        deadline = time.monotonic() + timeout
        while True:
            self.check_running()
            samples = self.recorded(since)
            runs = tone_runs(samples)
            freqs = [f for _, _, f in runs]
            if len(freqs) >= len(expected) and all(
                    same_tone(f, e) for f, e in zip(freqs[-len(expected):], expected)):
                end = runs[-1][0] + runs[-1][1]
                if len(samples) / RATE - end >= then_silence:
                    return runs
            if time.monotonic() > deadline:
                raise Failure("expected the tones %s%s; the recording holds: %s" % (
                    ", ".join("%g Hz" % e for e in expected),
                    " and then %.1f s of silence" % then_silence if then_silence else "",
                    describe_runs(runs)))
            time.sleep(0.2)


class Window:
    def __init__(self, wid, title, x, y, w, h):
        self.id = wid
        self.title = title
        self.pos = (x, y)
        self.size = (w, h)

    @staticmethod
    def query(session, wid):
        # xwininfo gives the position on the screen also for windows inside others (tray icons)
        info = subprocess.run(["xwininfo", "-display", session.display, "-id", str(wid)],
                              capture_output=True, text=True).stdout
        values = {}
        for line in info.splitlines():
            key, _, value = line.strip().partition(":")
            values[key] = value.strip()
        try:
            x, y = int(values["Absolute upper-left X"]), int(values["Absolute upper-left Y"])
            w, h = int(values["Width"]), int(values["Height"])
        except (KeyError, ValueError):
            return None  # gone meanwhile
        title = session.xdotool("getwindowname", wid, check_result=False).rstrip("\n")
        return Window(wid, title, x, y, w, h)

    def at(self, x, y):
        """Screen position of a point given in the window's client coordinates."""
        return self.pos[0] + x, self.pos[1] + y

    def centre_of(self, left, top, width, height):
        return self.at(left + width // 2, top + height // 2)


def group_alive(pgid):
    """Whether a process group still has a running member. Zombies do not count: a container
    may have no init to reap the children of a process that died before them."""
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % pid) as f:
                fields = f.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        if int(fields[2]) == pgid and fields[0] != "Z":
            return True
    return False


def wait_for_quietly(predicate, timeout):
    deadline = time.monotonic() + timeout
    while not predicate():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.05)
    return True


def stop_process(proc):
    if proc.poll() is not None:
        return
    try:
        os.killpg(proc.pid, signal.SIGTERM)
    except ProcessLookupError:
        return
    try:
        proc.wait(timeout=5)
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        proc.wait()


def run(name, scenario, ondrix, work_root, **options):
    """Runs one scenario in a fresh session; returns the process exit code for ctest."""
    session = Session(name, ondrix, work_root, **options)
    shot = os.path.join(session.folder, "failure.png")
    failure = None
    try:
        session.start()
        scenario(session)
    except Skipped as e:
        session.stop()
        shutil.rmtree(session.folder, ignore_errors=True)
        print("SKIPPED: %s" % e)
        return SKIP
    except Failure as e:
        failure = str(e)
    except Exception as e:  # a fault of the harness or an unexpected state: report it the same
        failure = "%s: %s" % (type(e).__name__, e)
    if failure is not None:
        if session.display or "SWAYSOCK" in (session.env or {}):
            session.screenshot(shot)
            failure += "\n  windows on the screen: %s" % (", ".join(session.window_titles())
                                                         or "none")
    left = session.stop()
    if left:
        failure = (failure + "\n  " if failure else "") + (
            "left behind (and removed): %s" % ", ".join(left))
    if failure is not None:
        print("FAILED: %s\n  screenshot: %s\n  program output: %s\n  test folder: %s" % (
            failure, shot if os.path.exists(shot) else "(none)", session.log, session.folder))
        return 1
    shutil.rmtree(session.folder, ignore_errors=True)
    print("PASSED: %s" % name)
    return 0


if __name__ == "__main__":
    sys.exit("harness.py is a module; run scenarios.py")
