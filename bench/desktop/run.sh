#!/usr/bin/env bash
# The desktop's side: the MPRIS round trip of `playerctl play-pause` (to PropertiesChanged and to
# silence on the sink) beside Audacious with its MPRIS plugin, and the second-instance hand-off.
# $1: build folder. Audacious is installed here, for the comparison only.
set -euo pipefail
build=$(cd "${1:-build/release}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
if ! command -v audacious >/dev/null; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    echo "bench/desktop: installing audacious for the comparison"
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        audacious audacious-plugins >/dev/null
fi
exec /usr/bin/python3 "$here/desktop.py" "$build/ondrix" audacious
