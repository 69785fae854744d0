# Sourced by the screenshot and measurement scripts: starts a private Xvfb
# server on a free display and exports DISPLAY.
#
#   start_xvfb WORKDIR [SCREEN]      sets xvfb_pid; SCREEN defaults to 1280x1024x24
#
# Xvfb picks a free display itself and writes its number once it accepts
# clients. The caller kills $xvfb_pid when it is done.
start_xvfb() {
    local work=$1 screen=${2:-1280x1024x24}
    Xvfb -displayfd 3 -screen 0 "$screen" -dpi 96 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
    xvfb_pid=$!
    for _ in $(seq 100); do
        [[ -s $work/display ]] && break
        kill -0 "$xvfb_pid" 2>/dev/null || { cat "$work/xvfb.log" >&2; echo "$0: Xvfb did not start" >&2; exit 1; }
        sleep 0.1
    done
    [[ -s $work/display ]] || { echo "$0: Xvfb did not report its display" >&2; exit 1; }
    export DISPLAY=":$(tr -d '[:space:]' <"$work/display")"
}
