# Sourced by the scripts that work in a fresh Debian 12 root, as root.
#
#   fresh_root_options "$@"   takes [--root <dir>] [--keep] from the front and
#                             sets base, keep and operands (what is left)
#   open_fresh_root           makes the root in $root: copies $base when set,
#                             else runs mmdebstrap; mounts /proc (and with
#                             "full", /sys and /dev as well) and copies the
#                             name resolution; removes it all on exit unless
#                             --keep was given
fresh_root_options() {
    base=""
    keep=0
    operands=()
    while [[ $# -gt 0 ]]; do
        case $1 in
            --root) [[ $# -ge 2 ]] || usage; base=$2; shift 2 ;;
            --keep) keep=1; shift ;;
            -*) usage ;;
            *) operands+=("$1"); shift ;;
        esac
    done
}

open_fresh_root() {
    [[ $(id -u) == 0 ]] || { echo "$0: needs root (chroot, mounts)" >&2; exit 2; }
    root=$(mktemp -d "${TMPDIR:-/tmp}/monvia-root-XXXXXX")
    fresh_root_mounts=()
    trap close_fresh_root EXIT
    if [[ -n $base ]]; then
        cp -a "$base/." "$root/"
    else
        mmdebstrap --variant=apt --include=ca-certificates bookworm "$root" >"$root.log" 2>&1 ||
            { cat "$root.log" >&2; exit 1; }
        rm -f "$root.log"
    fi
    fresh_root_mount proc /proc -t proc
    if [[ ${1:-} == full ]]; then
        fresh_root_mount sysfs /sys -t sysfs
        fresh_root_mount /dev /dev --rbind
    fi
    cp /etc/resolv.conf "$root/etc/resolv.conf"
}

fresh_root_mount() {
    mkdir -p "$root$2"
    mount "${@:3}" "$1" "$root$2"
    fresh_root_mounts+=("$root$2")
}

close_fresh_root() {
    local i
    for ((i = ${#fresh_root_mounts[@]} - 1; i >= 0; i--)); do
        umount -l "${fresh_root_mounts[i]}" 2>/dev/null || true
    done
    if [[ $keep == 1 ]]; then echo "root kept in $root"; else rm -rf --one-file-system -- "$root"; fi
}
