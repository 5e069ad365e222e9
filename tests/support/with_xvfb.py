#!/usr/bin/python3
"""Runs a command against a private Xvfb server on a free display, then stops the server.

usage: with_xvfb.py [--size WxHxD] COMMAND [ARGS...]
The command gets DISPLAY and QT_QPA_PLATFORM=xcb; its exit code is returned.
"""
import os
import signal
import subprocess
import sys


def main():
    args = sys.argv[1:]
    size = "1280x1024x24"
    if args[:1] == ["--size"]:
        size, args = args[1], args[2:]
    if not args:
        print(__doc__, file=sys.stderr)
        return 2
    read_fd, write_fd = os.pipe()
    server = subprocess.Popen(
        ["/usr/bin/Xvfb", "-displayfd", str(write_fd), "-screen", "0", size,
         "-nolisten", "tcp", "-noreset"],
        pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_fd)
    try:
        with os.fdopen(read_fd) as r:
            display = r.readline().strip()
        if not display:
            print("with_xvfb: Xvfb did not start", file=sys.stderr)
            return 1
        env = dict(os.environ, DISPLAY=":" + display, QT_QPA_PLATFORM="xcb")
        env.pop("WAYLAND_DISPLAY", None)
        return subprocess.call(args, env=env)
    finally:
        server.send_signal(signal.SIGTERM)
        try:
            server.wait(timeout=5)
        except subprocess.TimeoutExpired:
            server.kill()
            server.wait()


if __name__ == "__main__":
    sys.exit(main())
