#!/usr/bin/env bash
# Black-box check of the Windows installer and zip under Wine, driven the way
# a user drives the programs: on a virtual display (Xvfb) that this run
# starts, in a Wine prefix of its own that it creates and removes, with mouse
# clicks and keys (xdotool); the texts of the report boxes and of the
# transcript are read as text through the clipboard (Ctrl+C), never from
# pixels.
#
#   scripts/test-windows-programs.sh BUILD_DIR TICKET_SERVICE [--screenshots DIR]
#
# BUILD_DIR holds the installer and zip CPack made (windows-mingw build);
# TICKET_SERVICE is the Linux ticket service simulator, run on loopback for
# VeluntTest to talk to. With --screenshots, pictures of both windows as
# installed are saved into DIR. Every wait is bounded; the whole run is
# meant to be bounded from outside too (scripts/test-windows.sh).
set -euo pipefail

build=$(cd "$1" && pwd)
ticket_service=$(realpath "$2")
shift 2
shots=""
if [ "${1:-}" = "--screenshots" ]; then
  shots=$(mkdir -p "$2" && cd "$2" && pwd)
fi

installer=$(ls "$build"/monvia-test-tools-*-win64.exe)
zip=$(ls "$build"/monvia-test-tools-*-win64.zip)
work="$build/blackbox"
prefix="$work/wineprefix"
started=$SECONDS
passed=0

wine_loader=wine
if command -v wine64 >/dev/null 2>&1; then
  wine_loader=wine64
elif [ -x /usr/lib/wine/wine64 ]; then
  wine_loader=/usr/lib/wine/wine64
fi
# Wine's menu builder would copy the Start menu into the desktop's menus of
# the Linux user; it is turned off, and the user's own folders are not this
# run's in any case.
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" WINEARCH=win64
export XDG_DATA_HOME="$work/home/data" XDG_CONFIG_HOME="$work/home/config" XDG_CACHE_HOME="$work/home/cache"
win() { "$wine_loader" "$@"; }

say() { printf 'blackbox [%3d s] %s\n' "$((SECONDS - started))" "$*"; }
ok() {
  passed=$((passed + 1))
  say "ok: $*"
}
fail() {
  say "FAILED: $*" >&2
  if [ -n "${DISPLAY:-}" ]; then
    import -window root "$work/failure.png" 2>/dev/null && say "the screen at the failure: $work/failure.png" >&2
  fi
  exit 1
}

xvfb_pid=""
service_pid=""
cleanup() {
  set +e
  [ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null
  wineserver -k >/dev/null 2>&1
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$prefix"
}
trap cleanup EXIT

rm -rf "$work"
mkdir -p "$work"
source "$(dirname "$0")/../tools/xvfb.sh"
start_xvfb "$work" 1280x1024x24
say "virtual display $DISPLAY"

# --- Helpers that act and read like a user -----------------------------------

# Waits until a visible window with exactly this title is there; prints its id.
wait_window() {
  local title=$1 limit=${2:-30} id
  for _ in $(seq $((limit * 5))); do
    id=$(xdotool search --onlyvisible --name "^${title}\$" 2>/dev/null | head -1 || true)
    if [ -n "$id" ]; then
      echo "$id"
      return 0
    fi
    sleep 0.2
  done
  return 1
}

# Waits until no visible window has this title.
wait_window_gone() {
  local title=$1 limit=${2:-20}
  for _ in $(seq $((limit * 5))); do
    xdotool search --onlyvisible --name "^${title}\$" >/dev/null 2>&1 || return 0
    sleep 0.2
  done
  return 1
}

window_size() { xwininfo -id "$1" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h}'; }

click() { xdotool mousemove --window "$1" "$2" "$3" click 1; }

# Types text into the field at the given point, replacing what it held.
type_into() {
  click "$1" "$2" "$3"
  sleep 0.3
  xdotool key ctrl+a
  xdotool type --delay 30 "$4"
}

# Presses Ctrl+C (after the given keys, if any) and prints what the program
# put on the clipboard, line ends as LF. The clipboard is first set to a
# marker, so that a copy that did not happen is told from one that did.
copy_text() {
  local marker="nothing copied $RANDOM$RANDOM" got
  printf '%s' "$marker" | xclip -selection clipboard -i
  for key in "$@" ctrl+c; do xdotool key "$key"; done
  for _ in $(seq 25); do
    got=$(timeout 5 xclip -selection clipboard -o 2>/dev/null | tr -d '\r' || true)
    if [ -n "$got" ] && [ "$got" != "$marker" ]; then
      printf '%s' "$got"
      return 0
    fi
    sleep 0.2
  done
  return 1
}

# The text of the report box that is open now, then the box dismissed with
# Enter, as a user would.
box_text() {
  local title=$1 box text
  box=$(wait_window "$title" 30) || fail "no \"$title\" box appeared"
  sleep 0.3
  text=$(copy_text) || fail "Ctrl+C on the \"$title\" box copied nothing"
  xdotool key Return
  wait_window_gone "$title" 20 || fail "the \"$title\" box did not close on Enter"
  printf '%s' "$text"
}

# Waits for a started program's process to end.
wait_exit() {
  local pid=$1 limit=${2:-30}
  for _ in $(seq $((limit * 5))); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.2
  done
  return 1
}

expect_text() {
  local what=$1 got=$2 want=$3
  [ "$got" = "$want" ] || fail "$what: expected \"$want\", got \"$got\""
  ok "$what: \"$got\""
}

expect_contains() {
  local what=$1 got=$2
  shift 2
  for want in "$@"; do
    grep -qF -- "$want" <<<"$got" || fail "$what: \"$want\" is not in \"$got\""
  done
  ok "$what: \"$(tr '\n' ' ' <<<"$got")\""
}

# Every registry line and file of the prefix that names the product or the
# simulator's class, with Wine's registry written out first.
traces() {
  timeout 30 wineserver -w || wineserver -k
  grep -hiE 'monvia|3F6A1D20-8B4C-4E57-9A12-6C0D5B7E2A91|cashdevice_sim|velunttest' \
    "$prefix"/system.reg "$prefix"/user.reg | sort || true
  (cd "$prefix/drive_c" && find . -path ./windows -prune -o -path './users/*/Temp' -prune -o -print) | sort
}

# Window layouts, in pixels at 96 dpi (15 twips a pixel).
# Testing: Connect, Charge, the amount field.
connect_x=81 connect_y=30
charge_x=81 charge_y=64
amount_x=314 amount_y=62
# VeluntTest: the port field, Send (inside its frame), the transcript.
port_x=112 port_y=53
send_x=224 send_y=220
transcript_x=152 transcript_y=308

# --- A prefix of our own -----------------------------------------------------
timeout 120 "$wine_loader" wineboot -i >/dev/null 2>&1 || fail "wineboot could not create the prefix"
# The panel's font, Times New Roman, is not part of Wine; its metric-compatible
# stand-in is, as on Linux.
win reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "Times New Roman" /t REG_SZ /d "Liberation Serif" /f >/dev/null 2>&1
timeout 60 wineserver -w || true
say "Wine prefix ready"

# --- The zip, before anything is installed -----------------------------------
# Unpacked and started as a user who did not register the simulator:
# Connect gives the unhandled-failure report, which names the class and how
# to register a server; dismissing it ends the program.
zip_dir="$prefix/drive_c/monvia-zip"
mkdir -p "$zip_dir"
unzip -q "$zip" -d "$zip_dir"
zip_root=$(basename "$zip" .zip)
# Every library a shipped file needs is shipped beside the program it belongs
# to (the 64-bit ones in the top folder, the 32-bit ones in x86) or is part
# of Windows: in Wine's system folder, which holds the same set, or one of
# the system's API sets, which the loader maps and no folder holds.
missing=""
while IFS= read -r -d '' binary; do
  program_dir="$zip_dir/$zip_root"
  case "${binary#"$zip_dir/$zip_root/"}" in x86/*) program_dir="$zip_dir/$zip_root/x86" ;; esac
  for dep in $(x86_64-w64-mingw32-objdump -p "$binary" | sed -n 's/^\s*DLL Name: //p'); do
    grep -qiE '^(api|ext)-ms-win-' <<<"$dep" && continue
    [ -n "$(find "$program_dir" -maxdepth 1 -iname "$dep")" ] && continue
    [ -n "$(find "$prefix/drive_c/windows/system32" -maxdepth 1 -iname "$dep")" ] && continue
    missing+=" ${binary#"$zip_dir/$zip_root/"} needs $dep;"
  done
done < <(find "$zip_dir/$zip_root" \( -iname '*.exe' -o -iname '*.dll' \) -print0)
[ -z "$missing" ] || fail "zip: libraries neither shipped nor part of Windows:$missing"
ok "zip: every library the programs and plugins need is in the zip or part of Windows"
# The 32-bit panel and simulator are 32-bit, beside the 32-bit Qt and run-time.
for name in Testing.exe cashdevice_sim.dll monvia_journal.dll Qt6Core.dll Qt6Widgets.dll libgcc_s_dw2-1.dll platforms/qwindows.dll; do
  [ -f "$zip_dir/$zip_root/x86/$name" ] || fail "zip: x86/$name is missing"
  x86_64-w64-mingw32-objdump -f "$zip_dir/$zip_root/x86/$name" | grep -q '^architecture: i386,' ||
    fail "zip: x86/$name is not a 32-bit binary"
done
ok "zip: the 32-bit panel and simulator are in x86, with the 32-bit Qt and run-time"
win "C:\\monvia-zip\\$zip_root\\Testing.exe" >"$work/zip-testing.log" 2>&1 &
pid=$!
main=$(wait_window "Monvia Test Program" 60) || fail "Testing.exe from the zip showed no window"
click "$main" $connect_x $connect_y
text=$(box_text Testing)
expect_contains "zip: Connect with nothing registered" "$text" \
  "80040154" "Class not registered" "{3F6A1D20-8B4C-4E57-9A12-6C0D5B7E2A91}" "regsvr32"
wait_exit "$pid" 30 || fail "Testing.exe did not end after its unhandled-failure report"
ok "zip: the program ended after the report"

before=$(traces)

# --- Install, silently; then again over it ------------------------------------
install_dir="$prefix/drive_c/Program Files/Monvia Test Tools"
menu_dir="$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Monvia Test Tools"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Monvia Test Tools'

# 32-bit Windows programs run only where Wine has its 32-bit half (wine32).
wine32=0
[ -x /usr/lib/wine/wine ] && wine32=1

# The class's registrations as the product itself lists them: the shipped
# monvia-register.exe --list (the installed copy, or the zip's, the same
# file, while nothing is installed): both registry views, the user's and the
# machine's registration in each, with whether its file is there, its
# bitness and threading model, which one a panel creates, and any surrogate.
registrations() {
  local lister="C:\\monvia-zip\\$zip_root\\monvia-register.exe" listing
  [ -f "$install_dir/monvia-register.exe" ] && lister='C:\Program Files\Monvia Test Tools\monvia-register.exe'
  listing=$(win "$lister" --list 2>&1 | tr -d '\r') || fail "monvia-register --list exited with $?: $listing"
  printf '%s\n' "$listing"
}
# The one registration of a root (HKLM, HKCU) and view (64, 32), by its path
# ("" where there is none).
registration() {
  local scope=machine
  [ "$1" = HKCU ] && scope=user
  registrations | awk -v view="$2" -v scope="$scope:" '
    /^  [0-9][0-9]-bit programs/ { on = (substr($0, 3, 2) == view) }
    on && $1 == scope { line = $0; sub(/^ *[a-z]*: */, "", line); sub(/  \(.*$/, "", line); if (line != "(none)") print line }'
}

check_installed() {
  local what=$1 name
  for name in Testing.exe VeluntTest.exe cashdevice_sim.dll ticket-service.exe monvia-register.exe monvia-journal.exe Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll \
    Qt6Network.dll platforms/qwindows.dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll Uninstall.exe \
    Registration.log monvia_journal.dll monvia-register.exe x86/monvia-register.exe x86/Testing.exe x86/cashdevice_sim.dll x86/monvia_journal.dll x86/Qt6Core.dll x86/Qt6Gui.dll x86/Qt6Widgets.dll \
    x86/platforms/qwindows.dll x86/libstdc++-6.dll x86/libgcc_s_dw2-1.dll x86/libwinpthread-1.dll; do
    [ -f "$install_dir/$name" ] || fail "$what: $name is not installed"
  done
  ls "$install_dir"/styles/*.dll "$install_dir"/x86/styles/*.dll >/dev/null 2>&1 || fail "$what: no style plugin installed"
  win reg query "$uninstall_key" /v UninstallString >/dev/null 2>&1 || fail "$what: no entry among the installed programs"
  local links
  links=$(cd "$menu_dir" 2>/dev/null && ls ./*.lnk | LC_ALL=C sort | tr '\n' ' ') || fail "$what: no Start menu folder"
  [ "$links" = "./Testing (64-bit components).lnk ./Testing.lnk ./Ticket service simulator.lnk ./Uninstall.lnk ./VeluntTest (ticket service test client).lnk " ] ||
    fail "$what: Start menu shortcuts are $links"
  cmp -s "$install_dir/monvia-register.exe" "$zip_dir/$zip_root/monvia-register.exe" ||
    fail "$what: the installed monvia-register.exe is not the zip's"
  ok "$what: files of both bitnesses, the uninstall entry and the shortcuts are there"
}

# The simulators' registrations after an install where nothing else had the
# class: each in its own view, naming its own file.
check_simulators_registered() {
  local what=$1
  [ "$(registration HKLM 64)" = 'C:\Program Files\Monvia Test Tools\cashdevice_sim.dll' ] ||
    fail "$what: the 64-bit view has \"$(registration HKLM 64)\", not the 64-bit simulator"
  if ((wine32)); then
    [ "$(registration HKLM 32)" = 'C:\Program Files\Monvia Test Tools\x86\cashdevice_sim.dll' ] ||
      fail "$what: the 32-bit view has \"$(registration HKLM 32)\", not the 32-bit simulator"
    ok "$what: each simulator is registered in the view of its bitness"
  else
    ok "$what: the 64-bit simulator is registered in the 64-bit view"
    say "skipped: the 32-bit simulator's registration (32-bit regsvr32 does not run: wine32 is not installed);" \
      "the installer says: $(grep -m1 '32-bit simulator' "$install_dir/Registration.log" | tr -d '\r')"
  fi
}

# Starts an installed program and waits for its window (pid and main), checks
# the window's size and, with --screenshots, saves a picture of it.
start_installed() {
  local exe=$1 title=$2 size=$3 picture=$4
  win "C:\\Program Files\\Monvia Test Tools\\$exe" >"$work/$exe.log" 2>&1 &
  pid=$!
  main=$(wait_window "$title" 60) || fail "the installed $exe showed no window"
  sleep 1
  expect_text "${exe%.exe}: window size" "$(window_size "$main")" "$size"
  if [ -n "$shots" ]; then import -window "$main" "$shots/$picture"; fi
}

# Connect and Charge 125 in the installed panel of the given bitness ("" for
# the 64-bit one, "x86\" for the 32-bit one), then closing its window.
panel_session() {
  local folder=$1 what=$2 charged=$3
  start_installed "${folder}Testing.exe" "Monvia Test Program" 522x288 "${4:-}"
  click "$main" $connect_x $connect_y
  expect_text "$what: Connect" "$(box_text Testing)" "Connect OK"
  type_into "$main" $amount_x $amount_y 125
  click "$main" $charge_x $charge_y
  expect_text "$what: Charge 125" "$(box_text Testing)" "$charged"
  click "$main" 400 270 # an empty spot of the window, which then has the focus
  xdotool key alt+F4
  wait_exit "$pid" 30 || fail "$what: Testing.exe did not end when its window was closed"
  ok "$what: closing the window ended the program"
}
install() { timeout 180 "$wine_loader" "$(winepath -w "$installer" 2>/dev/null)" /S || fail "the installer ($1) exited with $?"; }
uninstall() {
  # The uninstaller hands over to a copy of itself and returns at once; the
  # installation is gone when that copy has ended.
  timeout 60 "$wine_loader" "C:\\Program Files\\Monvia Test Tools\\Uninstall.exe" /S || fail "the uninstaller exited with $?"
  for _ in $(seq 300); do
    [ -e "$install_dir" ] || break
    sleep 0.2
  done
  [ -e "$install_dir" ] && fail "the installation folder is still there: $(ls -R "$install_dir")"
  return 0
}

# --- A machine where another server has the class ------------------------------
# A vendor's component, registered for the machine in both views before the
# installer runs, as its own regsvr32 would have written it: a CashDevice
# server of its own whose creation fails with its own status and text (the
# tests' failing server, of each bitness), so that a panel that answers
# from it cannot be answering from a simulator. Install, repair and
# uninstall leave its registration as it was, the installer says so, and
# the installed panel reports the vendor's failure: nothing else has the
# class.
vendor_dir="$prefix/drive_c/Vendor"
mkdir -p "$vendor_dir/x64" "$vendor_dir/x86"
x86_build=$(sed -n 's/^MONVIA_X86_BUILD_DIR:[A-Z]*=//p' "$build/CMakeCache.txt")
for vendor_server in "$build/tests/win/monvia_failing_cash_server.dll" "$x86_build/tests/win/monvia_failing_cash_server.dll"; do
  [ -f "$vendor_server" ] || fail "no vendor server to register: $vendor_server is not built"
done
cp "$build/tests/win/monvia_failing_cash_server.dll" "$vendor_dir/x64/cash_device.dll"
cp "$x86_build/tests/win/monvia_failing_cash_server.dll" "$vendor_dir/x86/cash_device.dll"
for view in 64 32; do
  server='C:\Vendor\x64\cash_device.dll'
  [ $view = 32 ] && server='C:\Vendor\x86\cash_device.dll'
  key='HKLM\Software\Classes\CLSID\{3F6A1D20-8B4C-4E57-9A12-6C0D5B7E2A91}\InprocServer32'
  win reg add "$key" /ve /d "$server" "/reg:$view" /f >/dev/null 2>&1 || fail "reg add $key ($view-bit) failed"
  win reg add "$key" /v ThreadingModel /d Apartment "/reg:$view" /f >/dev/null 2>&1 || fail "reg add ThreadingModel failed"
done
# Connect in the installed panel of the given bitness creates the vendor's
# server, whose failure the panel reports before it ends.
vendor_session() {
  local folder=$1 what=$2
  start_installed "${folder}Testing.exe" "Monvia Test Program" 522x288 ""
  click "$main" $connect_x $connect_y
  expect_contains "$what: Connect" "$(box_text Testing)" "80040201" "the cash drawer does not answer on COM3"
  wait_exit "$pid" 30 || fail "$what: Testing.exe did not end after its unhandled-failure report"
  ok "$what: the program ended after the report"
}
vendor=$(registrations)
say "the class's registrations before the installer runs:"
echo "$vendor"
for step in install repair; do
  install "$step over the vendor's registration"
  say "after $step:"
  registrations
  [ "$(registrations)" = "$vendor" ] || fail "$step changed the vendor's registration"
  for want in 'C:\Vendor\x64\cash_device.dll' 'C:\Vendor\x86\cash_device.dll' 'The simulators were not registered'; do
    grep -qF "$want" "$install_dir/Registration.log" ||
      fail "$step: Registration.log does not say \"$want\": $(cat "$install_dir/Registration.log")"
  done
  ok "$step: the vendor's registration is as it was; the installer says: $(tr -d '\r' <"$install_dir/Registration.log" | tr '\n' ' ')"
done
check_installed "install over the vendor's registration"
# Nothing but the vendor's server has the class, so the panel creates it.
vendor_session "" "Testing (64-bit) on the vendor's server"
if ((wine32)); then
  vendor_session 'x86\' "Testing (32-bit) on the vendor's server"
else
  say "skipped: the installed 32-bit Testing on the vendor's 32-bit server (wine32 is not installed)"
fi
uninstall
say "after uninstall:"
registrations
[ "$(registrations)" = "$vendor" ] || fail "uninstall changed the vendor's registration"
ok "uninstall: the vendor's registration is as it was"
win reg delete 'HKLM\Software\Classes\CLSID\{3F6A1D20-8B4C-4E57-9A12-6C0D5B7E2A91}' /reg:64 /f >/dev/null 2>&1
win reg delete 'HKLM\Software\Classes\CLSID\{3F6A1D20-8B4C-4E57-9A12-6C0D5B7E2A91}' /reg:32 /f >/dev/null 2>&1
rm -rf "$vendor_dir"

# --- A machine where nothing has the class -----------------------------------
install "first"
check_installed "install"
check_simulators_registered "install"
# A second run over a damaged installation repairs it and adds nothing.
rm -f "$install_dir/Qt6Widgets.dll"
install "second"
check_installed "install again over a damaged installation"
check_simulators_registered "install again"
entries=$(win reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' 2>/dev/null | tr -d '\r' | grep -c 'Monvia' || true)
[ "$entries" = 1 ] || fail "install again: $entries entries among the installed programs"
ok "install again: one entry among the installed programs"


# --- monvia-journal, as installed ---------------------------------------------
# Its status names the simulator of each view; with the journal DLLs
# installed, --system on and off leave the class's registrations as they were.
journal_exe='C:\Program Files\Monvia Test Tools\monvia-journal.exe'
status=$(win "$journal_exe" status 2>&1 | tr -d '\r') || fail "monvia-journal status exited with $?: $status"
expect_contains "monvia-journal status" "$status" \
  "served by C:\Program Files\Monvia Test Tools\cashdevice_sim.dll (the machine's registration" "journal: off"
if [ -f "$install_dir/monvia_journal.dll" ]; then
  installed=$(registrations)
  win "$journal_exe" on --system >"$work/journal-on.log" 2>&1 || fail "monvia-journal on --system: $(cat "$work/journal-on.log")"
  grep -qF 'C:\Program Files\Monvia Test Tools\monvia_journal.dll' <<<"$(registration HKLM 64)" ||
    fail "monvia-journal on --system: the 64-bit view has \"$(registration HKLM 64)\""
  win "$journal_exe" off --system >"$work/journal-off.log" 2>&1 || fail "monvia-journal off --system: $(cat "$work/journal-off.log")"
  [ "$(registrations)" = "$installed" ] || fail "monvia-journal on and off changed the registrations: $(registrations)"
  ok "monvia-journal: on and off --system leave the registrations as they were"
else
  say "skipped: monvia-journal on and off (no monvia_journal.dll in the installation)"
fi

# --- Testing, as installed: "Testing (64-bit components)" and "Testing" ----------
panel_session "" "Testing (64-bit)" "Charge OK, inserted = 200, returned = 75" testing-windows.png
if ((wine32)); then
  panel_session 'x86\' "Testing (32-bit)" "Charge OK, inserted = 200, returned = 75"
else
  say "skipped: the installed 32-bit Testing on the 32-bit simulator (wine32 is not installed)"
fi

# --- VeluntTest, as installed, against the Linux ticket service ----------------
# Starts the ticket service on a free loopback port (its log in $1, further
# options after it); sets service_pid and service_port.
start_service() {
  local log=$1
  shift
  "$ticket_service" --port 0 "$@" >"$log" 2>&1 &
  service_pid=$!
  service_port=""
  for _ in $(seq 50); do
    service_port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$log" | head -1)
    [ -n "$service_port" ] && return 0
    sleep 0.1
  done
  fail "the ticket service did not start: $(cat "$log")"
}
# A port nothing listens on: one the service was given, after it has stopped.
start_service "$work/ticket-service-probe.log"
refused_port=$service_port
kill "$service_pid"
wait "$service_pid" 2>/dev/null || true
start_service "$work/ticket-service.log"
port=$service_port

start_installed VeluntTest.exe "Velunt Test" 305x426 velunttest-windows.png

# The transcript as text, once it shows what is waited for.
transcript_until() {
  local want=$1 text=""
  for _ in $(seq 40); do
    click "$main" $transcript_x $transcript_y
    text=$(copy_text ctrl+a || true)
    grep -qF -- "$want" <<<"$text" && break
    sleep 0.5
  done
  printf '%s' "$text"
}

type_into "$main" $port_x $port_y "$port"
click "$main" $send_x $send_y
expect_text "VeluntTest: Send to the ticket service" "$(transcript_until '<-- ')" \
  "$(printf -- '--> C|1|100\n<-- OK|1|CREATED|100')"
type_into "$main" $port_x $port_y "$refused_port"
click "$main" $send_x $send_y
expect_text "VeluntTest: Send to a port nothing listens on" "$(transcript_until '10061')" \
  "10061 - Connection is forcefully rejected"
if [ -n "$shots" ]; then import -window "$main" "$shots/velunttest-windows-refused.png"; fi
# A handshake that never completes ends in the socket's own time-out (20 s).
# (A reset by the service, 10054 on Windows, cannot be checked here: Wine
# hands a reset connection to a Windows program as an orderly close.)
kill "$service_pid" 2>/dev/null || true
start_service "$work/ticket-service-backlog.log" --backlog-full
type_into "$main" $port_x $port_y "$service_port"
click "$main" $send_x $send_y
sleep 18
expect_text "VeluntTest: a handshake that never completes" "$(transcript_until '10060')" \
  "10060 - Connection timed out"
kill "$service_pid" 2>/dev/null || true
# The ticket service simulator as installed, under Wine.
"$wine_loader" "C:\\Program Files\\Monvia Test Tools\\ticket-service.exe" --port 0 >"$work/ticket-service-windows.log" 2>&1 &
windows_service_pid=$!
windows_port=""
for _ in $(seq 100); do
  windows_port=$(tr -d '\r' <"$work/ticket-service-windows.log" | sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' | head -1)
  [ -n "$windows_port" ] && break
  sleep 0.2
done
[ -n "$windows_port" ] || fail "the installed ticket-service.exe did not start: $(cat "$work/ticket-service-windows.log")"
type_into "$main" $port_x $port_y "$windows_port"
click "$main" $send_x $send_y
expect_text "VeluntTest: Send to the installed ticket-service.exe" "$(transcript_until '<-- ')" \
  "$(printf -- '--> C|1|100\n<-- OK|1|CREATED|100')"
kill "$windows_service_pid" 2>/dev/null || true
wait_exit "$windows_service_pid" 20 || fail "ticket-service.exe did not stop"
click "$main" 290 20 # beside the host field
xdotool key alt+F4
wait_exit "$pid" 30 || fail "VeluntTest.exe did not end when its window was closed"
ok "VeluntTest: closing the window ended the program"
kill "$service_pid" 2>/dev/null || true
service_pid=""

# --- Uninstall ----------------------------------------------------------------------
# With the journal left on, for the machine and for the user: the uninstaller
# takes it away before the files go, so that no registration names the
# removed journal DLL (the traces below would show it).
if [ -f "$install_dir/monvia_journal.dll" ]; then
  # The user's first: once the machine's server is the journal, on for the
  # user refuses to put the journal in front of itself.
  win "$journal_exe" on >"$work/journal-on-user.log" 2>&1 || fail "monvia-journal on: $(cat "$work/journal-on-user.log")"
  win "$journal_exe" on --system >"$work/journal-on.log" 2>&1 || fail "monvia-journal on --system: $(cat "$work/journal-on.log")"
  grep -qF 'C:\Program Files\Monvia Test Tools\monvia_journal.dll' <<<"$(registration HKLM 64)" ||
    fail "monvia-journal on --system: the 64-bit view has \"$(registration HKLM 64)\""
  grep -qF 'C:\Program Files\Monvia Test Tools\monvia_journal.dll' <<<"$(registration HKCU 64)" ||
    fail "monvia-journal on: the user's 64-bit registration is \"$(registration HKCU 64)\""
fi
uninstall
after=$(traces)
if [ "$before" != "$after" ]; then
  diff <(echo "$before") <(echo "$after") >&2 || true
  fail "the uninstaller left the lines marked > above behind"
fi
ok "uninstall: no file, no shortcut and no registry key of the tools is left"

say "$passed passed, 0 failed"
