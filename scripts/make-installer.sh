#!/usr/bin/env bash
# Builds the Linux release: the self-extracting installer
# kelvora-setup-<version>.run (scripts/installer-header.sh followed by a
# gzip-compressed tar archive of bin/kelvora, bin/kelvora-cli (when given),
# bin/libPFCP2.so, help/,
# config/ and share/, the desktop files as the build lays them out in
# build/share) and the matching update.xml for an update server.
#
#   make-installer.sh --program <kelvora> --library <libPFCP2.so>
#                     [--cli <kelvora-cli>]
#                     --help <folder> --config <folder> --share <folder>
#                     --out <folder>
#                     [--version <x.y.z>] [--url <base URL of the release>]
#                     [--name <release name>] [--description <text>]
#                     [--info-url <page about the release>]
#
# The version defaults to "software_version" of the configuration's
# params.xml; the revision in update.xml is always its "software_revision",
# the number the installed program compares with. The installer's URL is the
# base URL followed by the installer's file name. `cmake --build build
# --target installer` runs this with the build's own files.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
program= cli= library= help= config= share= out= version= url= name= description= info_url=
while [ $# -gt 0 ]; do
    case $1 in
    --program) program=$2 ;;
    --cli) cli=$2 ;;
    --library) library=$2 ;;
    --help) help=$2 ;;
    --config) config=$2 ;;
    --share) share=$2 ;;
    --out) out=$2 ;;
    --version) version=$2 ;;
    --url) url=$2 ;;
    --name) name=$2 ;;
    --description) description=$2 ;;
    --info-url) info_url=$2 ;;
    *) echo "make-installer.sh: unknown argument $1" >&2; exit 1 ;;
    esac
    shift 2
done
for required in program library help config share out; do
    if [ -z "${!required}" ]; then
        echo "make-installer.sh: --$required is required" >&2
        exit 1
    fi
done
[ -x "$program" ] || { echo "make-installer.sh: no program at $program" >&2; exit 1; }
[ -z "$cli" ] || [ -x "$cli" ] || { echo "make-installer.sh: no kelvora-cli at $cli" >&2; exit 1; }
[ -f "$library" ] || { echo "make-installer.sh: no crypto library at $library" >&2; exit 1; }
[ -f "$config/params.xml" ] || { echo "make-installer.sh: no params.xml in $config" >&2; exit 1; }
[ -d "$share/applications" ] || { echo "make-installer.sh: no desktop entry in $share" >&2; exit 1; }

param() {
    # The text of <param name="$1"> in params.xml.
    sed -n "s:.*<param name=\"$1\">\\([^<]*\\)</param>.*:\\1:p" "$config/params.xml" | head -n 1
}
[ -n "$version" ] || version=$(param software_version)
revision=$(param software_revision)
case $revision in
'' | *[!0-9]*) echo "make-installer.sh: params.xml has no numeric software_revision" >&2; exit 1 ;;
esac
case $version in
'' | *[!0-9A-Za-z._-]*) echo "make-installer.sh: unusable version \"$version\"" >&2; exit 1 ;;
esac
[ -n "$name" ] || name="Kelvora $version"
[ -n "$description" ] || description="Kelvora $version (ревізія $revision)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/root/bin" "$work/root/help" "$work/root/config" "$work/root/share" "$out"
cp "$program" "$work/root/bin/kelvora"
cp "$library" "$work/root/bin/libPFCP2.so"
chmod 755 "$work/root/bin/kelvora"
if [ -n "$cli" ]; then
    cp "$cli" "$work/root/bin/kelvora-cli"
    chmod 755 "$work/root/bin/kelvora-cli"
fi
chmod 644 "$work/root/bin/libPFCP2.so"
cp -R "$help/." "$work/root/help/"
cp -R "$config/." "$work/root/config/"
cp -R "$share/." "$work/root/share/"
# The same bytes from the same inputs: sorted names, fixed owners and times.
tar --sort=name --owner=0 --group=0 --numeric-owner --mtime='@0' -C "$work/root" -cf - bin help config share |
    gzip -6 -n >"$work/payload.tar.gz"
sha=$(sha256sum "$work/payload.tar.gz" | cut -d' ' -f1)

installer="$out/kelvora-setup-$version.run"
sed -e "s/@VERSION@/$version/g" -e "s/@PAYLOAD_SHA256@/$sha/g" "$here/installer-header.sh" >"$work/setup.run"
printf '__KELVORA_PAYLOAD_BELOW__\n' >>"$work/setup.run"
cat "$work/payload.tar.gz" >>"$work/setup.run"
chmod 755 "$work/setup.run"
mv "$work/setup.run" "$installer"

xml_escape() {
    printf '%s' "$1" | sed -e 's/&/\&amp;/g' -e 's/</\&lt;/g' -e 's/>/\&gt;/g' -e 's/"/\&quot;/g'
}
bytes=$(stat -c %s "$installer")
size=$(awk -v b="$bytes" 'BEGIN { printf "%.1f МБ", b / 1048576 }')
hash=$(md5sum "$installer" | cut -d' ' -f1 | tr '[:lower:]' '[:upper:]')
file_url="${url%/}/$(basename "$installer")"
[ -n "$url" ] || file_url=$(basename "$installer")
{
    printf '<?xml version="1.0" encoding="UTF-8"?>\n<update>\n'
    printf '  <info revision="%s" name="%s"' "$revision" "$(xml_escape "$name")"
    [ -z "$info_url" ] || printf ' url="%s"' "$(xml_escape "$info_url")"
    printf '>%s</info>\n' "$(xml_escape "$description")"
    printf '  <file size="%s" hash="%s" url="%s"/>\n' "$size" "$hash" "$(xml_escape "$file_url")"
    printf '</update>\n'
} >"$work/update.xml"
mv "$work/update.xml" "$out/update.xml"
echo "$installer"
echo "$out/update.xml"
