#!/usr/bin/env bash
# Inside a virtual display: starts PROGRAM, waits for its window by the application id in its
# window class, records which window module it mapped into RECORD, presses the sidebar's first
# button (the setup guide) from the keyboard and waits until the opener has recorded the guide.
# Arguments: PROGRAM APP_ID RECORD
set -euo pipefail
program_path=$1 app_id=$2 record=$3
"$program_path" 2>"$record.stderr" &
program=$!
trap 'kill "$program" 2>/dev/null || true; wait "$program" 2>/dev/null || true' EXIT

class="^${app_id//./\\.}$"
window=
for _ in $(seq 1200); do
  kill -0 "$program" 2>/dev/null || { cat "$record.stderr" >&2; echo "the program ended before showing its window" >&2; exit 1; }
  window=$(xdotool search --onlyvisible --class "$class" 2>/dev/null | head -n 1) && [ -n "$window" ] && break
  sleep 0.1
done
[ -n "$window" ] || { echo "no window of class $app_id appeared within 120 s" >&2; exit 1; }
grep -o '/[^ ]*libcorvanel_window\.so$' "/proc/$program/maps" | sort -u | sed 's/^/module /' >>"$record"

xdotool windowfocus --sync "$window"
xdotool key --delay 100 Tab space
for _ in $(seq 1200); do
  grep -q '^file:' "$record" 2>/dev/null && exit 0
  sleep 0.1
done
echo "the setup guide was not opened within 120 s" >&2
exit 1
