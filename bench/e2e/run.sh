#!/usr/bin/env bash
# The whole program beside Audacious and Qmmp from Debian, in one run on the same files:
# start-up to a mapped window, idle resident memory, CPU seconds per minute of MP3, WMA and WAV;
# then the errors at the joins of a list cut from one signal, beside Audacious (joins.py).
# Target: at least twice as good as the better of the two on each figure. $1: build folder.
# The two comparison players are installed here, for the benchmark only.
set -euo pipefail
build=$(cd "${1:-build/release}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
missing=()
for p in audacious qmmp; do
    command -v "$p" >/dev/null || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    echo "bench/e2e: installing ${missing[*]} for the comparison"
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
fi
/usr/bin/python3 "$here/compare.py" "$build/ondrix" audacious qmmp
/usr/bin/python3 "$here/joins.py" "$build/ondrix" audacious
