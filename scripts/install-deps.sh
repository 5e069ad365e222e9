#!/usr/bin/env bash
# Installs every Debian package Ondrix 3 needs to build, run and test.
# Only what is missing is installed, so a warm machine pays one dpkg query.
set -euo pipefail

packages=(
    # build
    cmake ninja-build g++ pkg-config make
    qt6-base-dev qt6-qpa-plugins qt6-wayland libgl-dev libxcb-shape0-dev libxcb-xfixes0-dev
    libmpg123-dev libsoxr-dev libpulse-dev libflac-dev libvorbis-dev libopusfile-dev
    libavformat-dev libavcodec-dev libswresample-dev libavutil-dev
    libsdl2-dev libjpeg62-turbo-dev libcurl4-openssl-dev ca-certificates openssl
    # fonts the skins name, through their metric-compatible free clones
    fonts-liberation fonts-liberation2 fonts-dejavu-core fontconfig
    # tests, fuzzing, benchmarks
    googletest libgtest-dev libbenchmark-dev libtag1-dev clang libclang-rt-dev
    ffmpeg mpg123 sox python3
    # setpriv: the list-file tests drop root's rights to check a refused save
    util-linux
    # end-to-end: a real X server, input, screenshots, a private sound server
    xvfb xauth xdotool x11-utils imagemagick pulseaudio pulseaudio-utils
    # the other sound server a desktop runs, as Debian 12's desktops do: PipeWire, its session
    # manager and its PulseAudio server
    pipewire wireplumber pipewire-pulse
    # a real XEmbed notification area for the tray test
    trayer
    # a drag source as GTK file managers are one (tests/e2e/drag_source.py)
    gir1.2-gtk-3.0
    # a headless Wayland compositor with XWayland, its screenshots, and a pointer for it
    sway swaybg xwayland grim libwayland-dev
    # a compositing manager for X11
    xcompmgr
    # a private session bus with a StatusNotifierItem watcher, and the accessibility bus
    dbus python3-dbus python3-gi at-spi2-core python3-pyatspi
    # the desktop's player controls (MPRIS) on that bus
    dbus-daemon dbus-bin playerctl
    # the about window's end-to-end test answers for the maker's server in a private network
    iproute2
    # the Debian package and its checks
    dpkg-dev file desktop-file-utils appstream lintian
)

installed=$(dpkg-query -W -f='${Package} ${db:Status-Status}\n' "${packages[@]}" 2>/dev/null \
    | awk '$2 == "installed" { print $1 }' || true)
missing=()
for p in "${packages[@]}"; do
    grep -qx "$p" <<<"$installed" || missing+=("$p")
done

[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
