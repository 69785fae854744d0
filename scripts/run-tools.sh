#!/usr/bin/env bash
# Sets everything up, then starts the ticket service simulator and both tools:
# Testing against the bundled cash device simulator, VeluntTest against the
# ticket service simulator on 127.0.0.1:16501. Closing both windows stops the
# simulator again.
set -euo pipefail
cd "$(dirname "$0")/.."

# Only what building and running needs; the tests are not built here.
bash scripts/setup.sh --run run
build=build/run

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  cat >&2 <<'MSG'
run-tools: there is no display (DISPLAY is not set), so the windows cannot be shown.
Everything is built. To run the tools on a virtual display, use:

    xvfb-run -a -s "-screen 0 1280x1024x24" bash scripts/run-tools.sh

and look at them with a screenshot (tools/screenshot.sh), or run this script
from a desktop session.
MSG
  exit 2
fi

# The panel finds the simulator through the registration entry the build wrote.
export MONVIA_CLASS_REGISTRY="$PWD/$build/registry"

"$build/simulators/ticket-service/ticket-service" &
sim=$!
trap 'kill "$sim" 2>/dev/null || true' EXIT

"$build/client/VeluntTest" &
client=$!
"$build/panel/Testing" &
panel=$!
wait "$panel" "$client" || true
