#!/usr/bin/env bash
# Runs every benchmark script of bench/ against the build folder given ($1).
set -euo pipefail
build=${1:-build/release}
here=$(cd "$(dirname "$0")" && pwd)
for s in "$here"/*/run.sh; do
    [ -f "$s" ] || continue
    echo "== $(basename "$(dirname "$s")")"
    bash "$s" "$build"
done
