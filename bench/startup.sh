#!/bin/sh
# Start-up of `corvanel --cli --status` against /bin/true, measured by hyperfine in one run.
# Prints one line: the medians, the time added and the ratio.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$here/build}
program=${1:-$build/corvanel}
root=$(mktemp -d)
json=$(mktemp)
trap 'rm -rf "$root" "$json"' EXIT
hyperfine -N --warmup 30 --runs 300 --export-json "$json" \
  "$program --cli --status --home $root" /bin/true >/dev/null 2>&1
python3 - "$json" <<'PY'
import json, sys
results = json.load(open(sys.argv[1]))["results"]
status, true = (r["median"] * 1000 for r in results)
print(f"--cli --status start-up: {status:.2f} ms, /bin/true {true:.2f} ms, "
      f"added {status - true:.2f} ms (target < 10 ms), ratio {status / true:.2f}")
PY
