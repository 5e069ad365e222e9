#!/usr/bin/env bash
# The public corpus beside the project, as the player meets it: bench/playback/corpus.sh
# [BUILD_DIR [CORPUS_DIR]]. Opens, measures and decodes every file and compares with each
# format's own length (corpus.py). The corpus is not part of the project: without it this says
# so and does nothing.
set -euo pipefail
build=${1:-build/release}
corpus=${2:-../shared/corpus}
if [ ! -d "$corpus/public-formats" ]; then
    echo "corpus.sh: no corpus at $corpus (public-formats/, public-mp3/); skipped"
    exit 0
fi
here=$(dirname "$0")
folders=("$corpus/public-formats")
[ -d "$corpus/public-mp3" ] && folders+=("$corpus/public-mp3")
exec python3 "$here/corpus.py" "$build/bench/playback/corpus_check" "${folders[@]}"
