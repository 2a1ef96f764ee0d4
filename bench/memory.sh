#!/usr/bin/env bash
# Peak memory of a full demo install, on the fixture kit and on the same installer with a
# game archive grown by BYTES of incompressible data (default 500 MB). Hashing and unpacking
# stream, so the two peaks should be about equal. Prints one line with their ratio.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$here/build}
bytes=${1:-500000000}
kit=$build/fixtures
work=$(mktemp -d)
cleanup() {
  for root in "$work"/root-*; do
    [ -x "$root/Runtime/wswine.bundle/bin/wineserver" ] && \
      WINEPREFIX="$root/Install/prefix" "$root/Runtime/wswine.bundle/bin/wineserver" -w 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

# The grown installer: the fixture game plus one large map, as a stored 7-Zip archive.
mkdir -p "$work/game" "$work/large/h2pc_installer_2.1"
cp -a "$kit/game/." "$work/game/"
head -c "$bytes" /dev/urandom > "$work/game/maps/large.map"
(cd "$work/game" && bsdtar --format 7zip --options 7zip:compression=store -cf "$work/large/h2pc_installer_2.1/h2pc_data.bin" .)
cp "$kit/h2pc_installer_2.1/h2pc_installer.exe" "$work/large/h2pc_installer_2.1/" 2>/dev/null || true

peak() { # installer folder, root -> prints the peak resident set of the installing process in kB
  python3 - "$build/corvanel-demo" "$1" "$kit/cache" "$2" <<'PY'
import subprocess, sys, time
program, game, cache, root = sys.argv[1:]
child = subprocess.Popen([program, "--cli", "--install", "--game", game, "--cache", cache, "--home", root],
                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
high = 0
while child.poll() is None:
    try:
        for line in open(f"/proc/{child.pid}/status"):
            if line.startswith("VmHWM:"):
                high = max(high, int(line.split()[1]))
    except OSError:
        pass
    time.sleep(0.02)
if child.returncode != 0:
    sys.exit("install failed: " + child.stderr.read().decode())
print(high)
PY
}

small_archive=$(stat -c %s "$kit/h2pc_installer_2.1/h2pc_data.bin")
large_archive=$(stat -c %s "$work/large/h2pc_installer_2.1/h2pc_data.bin")
small=$(peak "$kit/h2pc_installer_2.1" "$work/root-small")
large=$(peak "$work/large/h2pc_installer_2.1" "$work/root-large")
python3 - "$small" "$large" "$small_archive" "$large_archive" <<'PY'
import sys
small, large, small_archive, large_archive = map(int, sys.argv[1:])
print(f"peak memory of a full demo install: {small / 1000:.1f} MB with a {small_archive / 1e6:.2f} MB game archive, "
      f"{large / 1000:.1f} MB with a {large_archive / 1e6:.0f} MB one, ratio {large / small:.2f} (target: about 1)")
PY
