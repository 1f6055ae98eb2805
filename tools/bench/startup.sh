#!/usr/bin/env bash
# The start-up benchmark: the editor against a floor window, on an Xvfb of
# its own (no window manager, no controller, no MIDI server).
#
#   bash tools/bench/startup.sh [BUILD] [RUNS] [EDITOR]
#
# Defaults: the folder build, 15 runs of each program, the editor of BUILD
# (another editor binary, e.g. an older one, can be given for comparison).
#
# Needs the packages xvfb and libxcb-damage0-dev (bash tools/setup.sh bench
# installs them, builds and runs this).
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${1:-$top/build}
runs=${2:-15}
bench=$build/tools/bench/vlx_bench_startup
floor=$build/tools/bench/vlx_bench_startup_floor
editor=${3:-$build/app/VLX210_MIDI_Editor}
for f in "$bench" "$floor" "$editor"; do
  [ -x "$f" ] || { echo "missing $f (build the targets vlx_bench_startup, vlx_bench_startup_floor, VLX210_MIDI_Editor)" >&2; exit 1; }
done

# The editor keeps its settings beside itself: run a copy in a folder of its
# own, on its second start, so that every measured run is alike.
work=$(mktemp -d)
xvfb_pid=
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
cp "$editor" "$work/VLX210_MIDI_Editor"

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 3>"$work/display" &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
[ -s "$work/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$(head -n1 "$work/display")
unset WAYLAND_DISPLAY
export JACK_NO_START_SERVER=1
export XDG_RUNTIME_DIR=$work

"$bench" -n 1 "$floor" "$work/VLX210_MIDI_Editor" >/dev/null  # warm-up, first start
"$bench" -n "$runs" ${VERBOSE:+-v} "$floor" "$work/VLX210_MIDI_Editor"
