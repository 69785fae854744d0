#!/usr/bin/env bash
# Runs both programs on a private virtual display with a private session bus
# and the desktop accessibility bus (at-spi2-core), and checks through it, as
# a screen reader or test automation tool would (python3-pyatspi), that every
# control is found by its accessible name and role; in the panel it presses
# Connect through the accessibility action and waits for the report box.
#
#   atspi_check.sh <build dir>
#
# Skips (exit 77, one line) only when the session or accessibility bus cannot
# be started; everything else that goes wrong fails. Every wait is bounded.
set -euo pipefail

build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
checker=$here/atspi_check.py
# Debian's own interpreter, which python3-pyatspi installs into.
python=/usr/bin/python3

skip() {
  echo "SKIP: $*"
  exit 77
}
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

"$python" -c 'import pyatspi' 2>/dev/null ||
  fail "python3-pyatspi is not installed (scripts/setup.sh installs it)"
launcher=/usr/libexec/at-spi-bus-launcher
[ -x "$launcher" ] || fail "at-spi2-core is not installed (scripts/setup.sh installs it)"

work=$(mktemp -d "${TMPDIR:-/tmp}/monvia-atspi-XXXXXX")
pids=()
cleanup() {
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do wait "${pids[i]}" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

. "$here/../../tools/xvfb.sh"
start_xvfb "$work"
pids+=("$xvfb_pid")

# A session bus of this check's own; the accessibility bus is announced on it.
dbus-daemon --session --nofork --nopidfile --print-address=3 3>"$work/bus" 2>"$work/bus.log" &
pids+=($!)
for _ in $(seq 50); do
  [ -s "$work/bus" ] && break
  sleep 0.1
done
[ -s "$work/bus" ] || skip "the session bus (dbus-daemon) does not start here: $(head -c 200 "$work/bus.log")"
export DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$work/bus")

"$launcher" --launch-immediately >"$work/launcher.log" 2>&1 &
pids+=($!)
up=0
for _ in $(seq 100); do
  if dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress \
    >"$work/a11y" 2>/dev/null; then
    up=1
    break
  fi
  kill -0 "${pids[-1]}" 2>/dev/null || break
  sleep 0.1
done
[ "$up" = 1 ] || skip "the accessibility bus (at-spi-bus-launcher) does not start here: $(head -c 200 "$work/launcher.log")"

# Qt's programs speak on the accessibility bus when it is asked for; a desktop
# asks through the bus's status, here it is asked for directly.
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_QPA_PLATFORM=xcb
export MONVIA_CLASS_REGISTRY=$build/registry

run_check() {
  local program=$1
  shift
  "$build/$program" >"$work/program.log" 2>&1 &
  local pid=$!
  pids+=("$pid")
  local status=0
  timeout 120 "$python" "$checker" "$@" || status=$?
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  if [ "$status" != 0 ]; then
    sed 's/^/  program: /' "$work/program.log" >&2
    fail "$program: the accessibility check failed (exit $status)"
  fi
}

panel=(push\ button:{Charge,Pay,AddChange,Configuration,Change,"CB Control",Color,Connect,GetAmounts}
  push\ button:{BlidCashBox,Disconnect,"Error Test","Empty CB",GetLevels,"Z by amount","Pay Specific"}
  text:Import text:Host label:Import)
run_check panel/Testing --app Testing --window "Monvia Test Program" --expect "${panel[@]}" \
  --press Connect --box-title Testing --box-text "Connect OK"

client=(push\ button:{Stop,Send} check\ box:{"Keep Conection",Automatic} radio\ button:{Create,"Check state"}
  text:{Host,Port,Ticket,Amount,Quantity,Transcript} label:{Host,Port,Ticket,Amount,Quantity} panel:Request)
run_check client/VeluntTest --app VeluntTest --window "Velunt Test" --expect "${client[@]}"
echo "every control of both programs found through the accessibility bus"
