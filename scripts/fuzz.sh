#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang and runs each for a bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ ! -f fuzz/CMakeLists.txt ]; then
    echo "fuzz: no targets yet"
    exit 0
fi
if ! command -v clang++ >/dev/null; then
    echo "fuzz: skipped, clang++ is not installed"
    exit 0
fi
exec bash fuzz/run.sh "${FUZZ_SECONDS:-60}"
