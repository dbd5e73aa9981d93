#!/usr/bin/env bash
# Checks the program's desktop files as built under <share> (an XDG data
# folder's layout): the desktop entry with desktop-file-validate, the
# metainfo with appstreamcli (no network), and the icon in every size.
#
#   check-desktop-files.sh <share> <application id> "<icon sizes>"
set -uo pipefail
share=$1 id=$2 sizes=$3
status=0
fail() { echo "FAILED: $*"; status=1; }

entry=$share/applications/$id.desktop
metainfo=$share/metainfo/$id.metainfo.xml
for tool in desktop-file-validate appstreamcli; do
    command -v "$tool" >/dev/null || { echo "FAILED: $tool is missing (scripts/setup.sh installs it)"; exit 1; }
done
desktop-file-validate "$entry" || fail "desktop-file-validate $entry"
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate $metainfo"

# The entry, the metainfo and the icon files name one another.
grep -qx "Icon=$id" "$entry" || fail "$entry does not name the icon $id"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" || fail "$metainfo does not launch $id.desktop"
[ -s "$share/icons/hicolor/scalable/apps/$id.svg" ] || fail "no scalable icon"
for size in $sizes; do
    png=$share/icons/hicolor/${size}x${size}/apps/$id.png
    # The PNG header's width and height (big-endian, bytes 16..23).
    got=$(od -An -tu1 -j16 -N8 "$png" 2>/dev/null | awk '{ printf "%dx%d", $3 * 256 + $4, $7 * 256 + $8 }')
    [ "$got" = "${size}x${size}" ] || fail "$png is ${got:-missing}, not ${size}x${size}"
done
[ $status -ne 0 ] || echo "passed: desktop entry, metainfo and icons of $id"
exit $status
