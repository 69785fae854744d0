#!/usr/bin/env bash
# The desktop integration files as the desktop reads them: every menu entry
# passes desktop-file-validate, every AppStream metainfo file passes
# appstreamcli (offline), and each screenshot address names a picture in
# docs/ of this tree.
#
#   desktop_files.sh <source dir>
set -euo pipefail
src=$1
fail() { echo "FAIL: $*" >&2; exit 1; }

for entry in "$src"/packaging/*.desktop; do
    desktop-file-validate "$entry" || fail "$(basename "$entry") is not a valid desktop entry"
    echo "$(basename "$entry"): valid"
done
for info in "$src"/packaging/*.metainfo.xml; do
    appstreamcli validate --no-net --pedantic "$info" >"${TMPDIR:-/tmp}/appstream.$$" 2>&1 ||
        { cat "${TMPDIR:-/tmp}/appstream.$$" >&2; rm -f "${TMPDIR:-/tmp}/appstream.$$"; fail "$(basename "$info") is not valid"; }
    rm -f "${TMPDIR:-/tmp}/appstream.$$"
    images=$(sed -n 's|.*<image>\(.*\)</image>.*|\1|p' "$info")
    [ -n "$images" ] || fail "$(basename "$info") shows no screenshot"
    for image in $images; do
        case $image in
            */docs/*) [ -f "$src/docs/${image##*/docs/}" ] || fail "$(basename "$info"): $image names no file in docs/" ;;
            *) fail "$(basename "$info"): $image is not one of the pictures in docs/" ;;
        esac
        echo "$(basename "$info"): valid, screenshot docs/${image##*/docs/}"
    done
done
