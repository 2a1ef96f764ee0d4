#!/bin/sh
# Builds and runs the digest benchmark: Installer::sha256 against `openssl dgst -sha256` on the
# same file in the same run. Arguments pass through: [FILE] [ROUNDS].
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$here/build}
cmake --build "$build" --target bench_sha256 >/dev/null
exec "$build/bench/bench_sha256" "$@"
