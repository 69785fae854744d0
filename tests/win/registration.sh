#!/usr/bin/env bash
# Registers or unregisters the simulator with regsvr32 and checks the system
# registry with "reg query" afterwards.
#
#   registration.sh DLL [RUNNER...] register|unregister
#
# RUNNER is what runs a Windows program (scripts/wine-run.sh PREFIX under
# Wine; nothing on Windows itself).
set -uo pipefail
# Git Bash on Windows would otherwise take "/s" and "/u" for paths.
export MSYS2_ARG_CONV_EXCL='*' MSYS_NO_PATHCONV=1

dll="$1"
shift
action="${*: -1}"
runner=("${@:1:$#-1}")
class='{3F6A1D20-8B4C-4E57-9A12-6C0D5B7E2A91}'
user_key="HKCU\\Software\\Classes\\CLSID\\$class"
machine_key="HKLM\\Software\\Classes\\CLSID\\$class"

run() { "${runner[@]}" "$@"; }
fail() {
  echo "FAILED: $*" >&2
  exit 1
}
# True when the key is there.
key_exists() { run reg query "$1" >/dev/null 2>&1; }

case "$action" in
  register)
    for attempt in first second; do
      run regsvr32 /s "$dll" || fail "regsvr32 $dll ($attempt time) exited with $?"
    done
    where=""
    key_exists "$user_key\\InprocServer32" && where="$user_key"
    key_exists "$machine_key\\InprocServer32" && where="$machine_key"
    [ -n "$where" ] || fail "no InprocServer32 key after regsvr32"
    entry=$(run reg query "$where\\InprocServer32" 2>/dev/null | tr -d '\r')
    echo "$entry"
    grep -qiF "$dll" <<<"$entry" || fail "InprocServer32 does not name $dll"
    grep -qE 'ThreadingModel[[:space:]]+REG_SZ[[:space:]]+Apartment' <<<"$entry" || fail "ThreadingModel is not Apartment"
    echo "registered under $where"
    ;;
  unregister)
    run regsvr32 /u /s "$dll" || fail "regsvr32 /u $dll exited with $?"
    for key in "$user_key" "$machine_key"; do
      if key_exists "$key"; then fail "$key is left behind"; fi
    done
    # Unregistering where nothing is registered succeeds and changes nothing.
    run regsvr32 /u /s "$dll" || fail "regsvr32 /u $dll on an unregistered class exited with $?"
    echo "no key left under $user_key or $machine_key"
    # Another server's registration of the class (the real component's) is
    # not the simulator's to remove.
    other='C:\Program Files\Vendor\component.dll'
    for key in "$user_key" "$machine_key"; do
      run reg add "$key\InprocServer32" /ve /d "$other" /f >/dev/null 2>&1 || continue
      run regsvr32 /u /s "$dll" || fail "regsvr32 /u $dll exited with $? beside another server"
      key_exists "$key\InprocServer32" || fail "regsvr32 /u removed another server's registration under $key"
      run reg delete "$key" /f >/dev/null 2>&1
      echo "another server's registration under $key is left alone"
    done
    ;;
  *) fail "unknown action $action" ;;
esac
