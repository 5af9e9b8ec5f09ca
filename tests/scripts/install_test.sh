#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks the result the way a
# desktop sees it: every file where the freedesktop specifications look, the
# desktop entry and the AppStream file valid, and our database type known to
# the shared MIME database of that prefix.
#
# usage: install_test.sh BUILD_DIR WITH_GUI(0|1)
set -euo pipefail
build=$1
with_gui=$2
prefix=$(mktemp -d /tmp/fetchora-install.XXXXXX)
trap 'rm -rf "$prefix"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null

expected=(
  bin/fetchora-cli
  bin/fetchora-host
  share/fetchora/mirrors.lst
  share/fetchora/browser/manifest.json
  share/fetchora/browser/background.js
  share/mime/packages/fetchora.xml
  share/metainfo/org.fetchora.fetchora.metainfo.xml
  share/man/man1/fetchora-cli.1
  share/man/man1/fetchora.1
)
if [ "$with_gui" = 1 ]; then
  expected+=(bin/fetchora share/applications/fetchora.desktop share/icons/hicolor/scalable/apps/fetchora.svg
    share/icons/hicolor/scalable/mimetypes/application-x-fetchora-database.svg)
  for size in 16 22 24 32 48 64 128 256; do
    expected+=("share/icons/hicolor/${size}x${size}/apps/fetchora.png")
  done
fi
for file in "${expected[@]}"; do
  [ -s "$prefix/$file" ] || fail "the install lacks $file"
done
if [ "$with_gui" = 1 ]; then
  for size in 16 22 24 32 48 64 128 256; do
    # "PNG image data, 48 x 48": each icon has the size of its folder.
    file "$prefix/share/icons/hicolor/${size}x${size}/apps/fetchora.png" | grep -q "PNG image data, $size x $size" ||
      fail "the ${size}px icon is not a ${size}x${size} PNG"
  done
  desktop-file-validate "$prefix/share/applications/fetchora.desktop" || fail "desktop-file-validate refuses the entry"
  grep -qx 'MimeType=application/x-fetchora-database;' "$prefix/share/applications/fetchora.desktop" ||
    fail "the desktop entry does not open our database type"
fi
appstreamcli validate --no-net --pedantic "$prefix/share/metainfo/org.fetchora.fetchora.metainfo.xml" >/dev/null ||
  fail "appstreamcli refuses the metainfo file"

# The installed manual pages render without warnings.
for page in fetchora-cli fetchora; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$prefix/share/man/man1/$page.1" 2>&1 >/dev/null || true)
  [ -z "$warnings" ] || fail "man $page: $warnings"
done

# The file type, as a desktop with that prefix's data folders sees it.
XDG_DATA_DIRS="$prefix/share:/usr/share" update-mime-database "$prefix/share/mime"
: > "$prefix/jobs.kxd"
type=$(env -i PATH="$PATH" HOME="$prefix" XDG_DATA_DIRS="$prefix/share:/usr/share" xdg-mime query filetype "$prefix/jobs.kxd")
[ "$type" = application/x-fetchora-database ] || fail "xdg-mime sees $prefix/jobs.kxd as '$type'"

# The installed program runs from its prefix and finds its data there.
"$prefix/bin/fetchora-cli" --version >/dev/null || fail "the installed fetchora-cli does not start"
echo "installed into $prefix: ${#expected[@]} files in place, validators clean, *.kxd is $type"
