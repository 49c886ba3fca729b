#!/usr/bin/env bash
# check_install.sh <build dir> <version> <library dir below the prefix> <source dir>
set -euo pipefail
build=$1 version=$2 libdir=$3 source=$4

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# Everything the program's component installs, below the prefix.
expected=$(sort <<LIST
bin/orvella
$libdir/orvella/libescapi.so
share/applications/com.kelvane.Orvella.desktop
share/metainfo/com.kelvane.Orvella.metainfo.xml
share/man/man1/orvella.1
share/icons/hicolor/16x16/apps/com.kelvane.Orvella.png
share/icons/hicolor/32x32/apps/com.kelvane.Orvella.png
share/icons/hicolor/48x48/apps/com.kelvane.Orvella.png
share/icons/hicolor/64x64/apps/com.kelvane.Orvella.png
share/icons/hicolor/128x128/apps/com.kelvane.Orvella.png
share/icons/hicolor/256x256/apps/com.kelvane.Orvella.png
share/icons/hicolor/scalable/apps/com.kelvane.Orvella.svg
LIST
)

echo "== install with DESTDIR"
DESTDIR=$work/root cmake --install "$build" --prefix /usr --component orvella >/dev/null
prefix=$work/root/usr
installed=$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | sort)
[ "$installed" = "$expected" ] || fail "installed files differ:
$(diff <(echo "$expected") <(echo "$installed"))"

echo "== RUNPATH"
runpath=$(readelf -d "$prefix/bin/orvella" | sed -n 's/.*RUNPATH.*\[\(.*\)\]/\1/p')
[ "$runpath" = "\$ORIGIN/../$libdir/orvella" ] || fail "RUNPATH is '$runpath'"

echo "== the installed program"
run() { env -u LD_LIBRARY_PATH -u DISPLAY -u WAYLAND_DISPLAY "$@"; }
[ "$(run "$prefix/bin/orvella" --version)" = "orvella $version" ] || fail "--version"
# Only the real capture library lists the cameras of this variable.
cameras=$(run ORVELLA_CAPTURE_SOURCES="Installed Check=demo" "$prefix/bin/orvella" --list-cameras)
grep -qx "Installed Check" <<<"$cameras" || fail "capture library not found: '$cameras'"
# The window comes up and keeps running on the demo camera until stopped.
status=0
run ORVELLA_CAPTURE_SOURCES="Installed Check=demo" HOME="$work" QT_QPA_PLATFORM=offscreen \
    timeout 5 "$prefix/bin/orvella" --watch || status=$?
[ "$status" -eq 124 ] || fail "the program ended with status $status"
# Without its library the same program says so.
mv "$prefix/$libdir/orvella/libescapi.so" "$work/"
if run "$prefix/bin/orvella" --list-cameras 2>/dev/null; then
    fail "--list-cameras succeeded without the library"
fi
mv "$work/libescapi.so" "$prefix/$libdir/orvella/"

echo "== validators"
desktop-file-validate "$prefix/share/applications/com.kelvane.Orvella.desktop"
grep -qx 'Categories=.*Video;.*Security;' "$prefix/share/applications/com.kelvane.Orvella.desktop" \
    || fail "categories"
appstreamcli validate --no-net "$prefix/share/metainfo/com.kelvane.Orvella.metainfo.xml"
grep -q "<release version=\"$version\"" "$prefix/share/metainfo/com.kelvane.Orvella.metainfo.xml" \
    || fail "metainfo release"
warnings=$(groff -man -ww -z "$prefix/share/man/man1/orvella.1" 2>&1)
[ -z "$warnings" ] || fail "man page: $warnings"
for size in 16 32 48 64 128 256; do
    kind=$(file "$prefix/share/icons/hicolor/${size}x$size/apps/com.kelvane.Orvella.png")
    grep -q "PNG image data, $size x $size" <<<"$kind" || fail "icon at $size: $kind"
done
kind=$(file "$prefix/share/icons/hicolor/scalable/apps/com.kelvane.Orvella.svg")
grep -q "SVG" <<<"$kind" || fail "scalable icon: $kind"

echo "== login entry for the installed program"
login() { env -u XDG_CONFIG_HOME HOME="$work" PATH="$prefix/bin:$PATH" "$source/scripts/autostart" "$@"; }
login --camera "Front Door" >/dev/null
entry=$work/.config/autostart/com.kelvane.Orvella.desktop
desktop-file-validate "$entry"
grep -qxF "Exec=\"$prefix/bin/orvella\" \"--watch\" \"--minimized\" \"--camera\" \"Front Door\"" "$entry" ||
    fail "autostart entry: $(cat "$entry")"
login --remove >/dev/null
[ ! -e "$entry" ] || fail "autostart entry not removed"

echo "== Debian package"
cpack --config "$build/CPackConfig.cmake" -B "$work/packages" >/dev/null
deb=$work/packages/orvella_${version}_amd64.deb
[ -f "$deb" ] || fail "no $(basename "$deb"): $(ls "$work/packages")"
info=$(dpkg-deb --field "$deb" Package Version Architecture Depends)
echo "$info"
grep -qx "Package: orvella" <<<"$info" || fail "package name"
grep -qx "Version: $version" <<<"$info" || fail "package version"
grep -qx "Architecture: amd64" <<<"$info" || fail "architecture"
depends=$(sed -n 's/^Depends: //p' <<<"$info")
for dep in libc6 libqt5widgets5 libqt5multimedia5 libgstreamer1.0-0 libgstreamer-plugins-base1.0-0 \
    gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-libav \
    gstreamer1.0-plugins-bad libqt5multimedia5-plugins; do
    grep -qE "(^|, )$dep( |,|$)" <<<"$depends" || fail "Depends lacks $dep: $depends"
done
packaged=$(dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sed 's|^\./usr/||' | sort)
[ "$packaged" = "$expected" ] || fail "package contents differ:
$(diff <(echo "$expected") <(echo "$packaged"))"
contents=$(dpkg-deb --contents "$deb")
grep -qE '^-rwxr-xr-x root/root .* \./usr/bin/orvella$' <<<"$contents" || fail "program entry: $contents"
echo "all checks passed"
