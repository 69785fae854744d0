#!/usr/bin/env bash
# Registers or unregisters the simulator with regsvr32 and checks the system
# registry with "reg query" afterwards.
#
#   registration.sh DLL [RUNNER...] register|unregister|guard
#
# RUNNER is what runs a Windows program (scripts/wine-run.sh PREFIX under
# Wine; nothing on Windows itself). "guard" checks that the simulator never
# replaces or removes another server's registration, and that it knows its
# own file by any spelling of its path; it registers and unregisters the
# class many times, so it wants a prefix (or machine) of its own.
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

# A 32-bit DLL under Wine needs Wine's 32-bit half (wine32).
if [ "${MONVIA_REQUIRES_WINE32:-0}" = 1 ] && ((${#runner[@]})) && [ ! -x /usr/lib/wine/wine ]; then
  echo "skipped: $dll is a 32-bit DLL and this Wine has no 32-bit half (wine32 is not installed)"
  exit 77
fi
run() { "${runner[@]}" "$@"; }
# reg.exe in the registry view of the DLL's bitness (MONVIA_REGISTRY_VIEW,
# 32 or 64): where both Wine loaders are installed, the prefix's plain "reg"
# is the 32-bit one, which would read the 32-bit view of a 64-bit server.
reg_view=()
[ -n "${MONVIA_REGISTRY_VIEW:-}" ] && reg_view=("/reg:$MONVIA_REGISTRY_VIEW")
reg() { run reg "$@" "${reg_view[@]}"; }
fail() {
  echo "FAILED: $*" >&2
  exit 1
}
# True when the key is there.
key_exists() { reg query "$1" >/dev/null 2>&1; }

case "$action" in
  register)
    for attempt in first second; do
      run regsvr32 /s "$dll" || fail "regsvr32 $dll ($attempt time) exited with $?"
    done
    where=""
    key_exists "$user_key\\InprocServer32" && where="$user_key"
    key_exists "$machine_key\\InprocServer32" && where="$machine_key"
    [ -n "$where" ] || fail "no InprocServer32 key after regsvr32"
    entry=$(reg query "$where\\InprocServer32" 2>/dev/null | tr -d '\r')
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
      reg add "$key\InprocServer32" /ve /d "$other" /f >/dev/null 2>&1 || continue
      run regsvr32 /u /s "$dll" || fail "regsvr32 /u $dll exited with $? beside another server"
      key_exists "$key\InprocServer32" || fail "regsvr32 /u removed another server's registration under $key"
      reg delete "$key" /f >/dev/null 2>&1
      echo "another server's registration under $key is left alone"
    done
    ;;
  guard)
    run regsvr32 /s "$dll" || fail "regsvr32 $dll exited with $?"
    where="$user_key"
    key_exists "$machine_key\\InprocServer32" && where="$machine_key"
    entry() { reg query "$where\\InprocServer32" 2>/dev/null | tr -d '\r'; }
    first=$(entry)
    grep -qiF "$dll" <<<"$first" || fail "InprocServer32 under $where does not name $dll"
    run regsvr32 /s "$dll" || fail "regsvr32 $dll (second time) exited with $?"
    [ "$(entry)" = "$first" ] || fail "registering twice changed the entry: $(entry)"
    echo "registering twice leaves the entry as it was"

    # Another spelling of the simulator's own path is the same file: /u
    # through it removes the simulator's keys.
    spellings=("${dll^^}" "${dll,,}")
    mapped=""
    if [ ${#runner[@]} -gt 0 ]; then
      # Under Wine: drive Y: mapped to the simulator's folder as well.
      prefix="${runner[-1]}"
      folder=$(dirname "$(tr '\\' / <<<"${dll#[Zz]:}")")
      ln -sfn "$folder" "$prefix/dosdevices/y:" && mapped="Y:\\${dll##*\\}"
    else
      subst Y: "${dll%\\*}" >/dev/null 2>&1 && mapped="Y:\\${dll##*\\}"
    fi
    [ -n "$mapped" ] && spellings+=("$mapped")
    for spelling in "${spellings[@]}"; do
      run regsvr32 /s "$dll" || fail "regsvr32 $dll exited with $?"
      run regsvr32 /u /s "$spelling" || fail "regsvr32 /u $spelling exited with $?"
      if key_exists "$where"; then fail "regsvr32 /u $spelling left $where behind"; fi
      echo "regsvr32 /u $spelling removes the registration of $dll"
    done
    if [ -n "$mapped" ]; then
      if [ ${#runner[@]} -gt 0 ]; then rm -f "$prefix/dosdevices/y:"; else subst Y: /d >/dev/null 2>&1; fi
    fi

    # Another server that exists keeps its registration through regsvr32
    # and regsvr32 /u of the simulator; a registration naming a file that no
    # longer exists serves nothing and is replaced.
    other='C:\Windows\System32\oleaut32.dll'
    reg add "$where\\InprocServer32" /ve /d "$other" /f >/dev/null 2>&1 || fail "cannot write $where"
    if run regsvr32 /s "$dll"; then fail "regsvr32 $dll replaced the registration of $other"; fi
    grep -qiF "$other" <<<"$(entry)" || fail "regsvr32 $dll changed the registration of $other: $(entry)"
    run regsvr32 /u /s "$dll" || fail "regsvr32 /u $dll exited with $? beside $other"
    grep -qiF "$other" <<<"$(entry)" || fail "regsvr32 /u $dll removed the registration of $other"
    echo "the registration of $other is left alone by regsvr32 and regsvr32 /u"
    stale='C:\Program Files\Vendor\removed long ago.dll'
    reg add "$where\\InprocServer32" /ve /d "$stale" /f >/dev/null 2>&1 || fail "cannot write $where"
    run regsvr32 /s "$dll" || fail "regsvr32 $dll over a registration of a missing file exited with $?"
    grep -qiF "$dll" <<<"$(entry)" || fail "regsvr32 $dll did not replace the registration of $stale"
    echo "a registration of a missing file is replaced"
    run regsvr32 /u /s "$dll" || fail "regsvr32 /u $dll exited with $?"
    if key_exists "$where"; then fail "$where is left behind"; fi
    ;;
  *) fail "unknown action $action" ;;
esac
