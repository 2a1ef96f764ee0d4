#!/usr/bin/env bash
# The Debian package as a user gets it: built from the finished build, clean under lintian,
# and working wherever it is extracted, with no trace of the build machine's folders.
# Arguments: BUILD_DIR SOURCE_DIR VERSION APP_ID MODULE_DIR (relative to the install prefix)
set -euo pipefail
build=$1 source=$2 version=$3 app_id=$4 module_dir=$5

work=$(mktemp -d)
program=
cleanup() {
  if [ -n "$program" ]; then kill "$program" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

echo "== cpack"
cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack"; }
deb=$work/out/corvanel_${version}_amd64.deb
[ -f "$deb" ] || { cat "$work/cpack.log"; fail "no $deb"; }

echo "== the package's fields"
dpkg-deb --field "$deb" Package Version Architecture Section Depends Recommends | tee "$work/fields"
grep -qx "Section: games" "$work/fields" || fail "the section is not games"
for needed in 'wine (>= 8.0~)' libarchive-tools curl qml6-module-qtquick-controls libqt6quick6 libc6; do
  grep "^Depends: " "$work/fields" | grep -qF "$needed" || fail "Depends lacks $needed"
done
grep -qx "Recommends: wine32, fonts-open-sans" "$work/fields" || fail "Recommends is not wine32, fonts-open-sans"

echo "== lintian"
lintian --fail-on error,warning --display-info "$deb" | tee "$work/lintian.log" || fail "lintian found errors or warnings"

echo "== the extracted tree"
root=$work/root
dpkg-deb -x "$deb" "$root"
(cd "$root" && find . -mindepth 1 -printf '/%P\n' | sort) >"$work/contents"
for expected in /usr/bin/corvanel /usr/games/corvanel "/usr/$module_dir/libcorvanel_window.so" "/usr/share/corvanel/Setup Guide.html" \
    "/usr/share/applications/$app_id.desktop" "/usr/share/metainfo/$app_id.metainfo.xml" \
    "/usr/share/icons/hicolor/scalable/apps/$app_id.svg" "/usr/share/icons/hicolor/512x512/apps/$app_id.png" \
    "/usr/share/icons/hicolor/16x16/apps/$app_id.png" /usr/share/doc/corvanel/copyright; do
  grep -qx -- "$expected" "$work/contents" || fail "the package lacks $expected"
done
# Only the program and what it reads: no demo, no test programs, no fixtures.
if grep -E 'demo|test|fixture|screenshot|bench' "$work/contents"; then fail "the package holds build-only files"; fi
if grep -rlF -- "$source" "$root"; then fail "files in the package name the build machine's folder $source"; fi

echo "== appstreamcli validate-tree"
appstreamcli validate-tree --no-net "$root" || fail "appstreamcli validate-tree"

echo "== the extracted program on the command line"
for path in usr/bin/corvanel usr/games/corvanel; do
  status=$(env -u XDG_DATA_HOME HOME="$work/home" "$root/$path" --cli --status --home "$work/home/root")
  echo "$path --cli --status --home DIR: $status"
  [ "$status" = "not installed" ] || fail "$path printed '$status'"
done

echo "== the extracted program's window"
# A stand-in for the desktop's opener records what the window asks to open.
mkdir -p "$work/bin" "$work/home"
cat >"$work/bin/xdg-open" <<OPENER
#!/bin/sh
printf '%s\n' "\$1" >>"$work/opened"
OPENER
chmod +x "$work/bin/xdg-open"
xvfb-run -a -s "-screen 0 1280x1024x24" env -u XDG_CURRENT_DESKTOP -u DESKTOP_SESSION -u KDE_FULL_SESSION -u GNOME_DESKTOP_SESSION_ID -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY \
  PATH="$work/bin:$PATH" HOME="$work/home" XDG_DATA_HOME="$work/home/data" \
  bash "$source/tests/packaging/open_guide.sh" "$root/usr/bin/corvanel" "$app_id" "$work/opened"

expected_module="$root/usr/$module_dir/libcorvanel_window.so"
expected_guide="file://$root/usr/share/corvanel/Setup%20Guide.html"
grep -qxF "module $expected_module" "$work/opened" || { cat "$work/opened"; fail "the window module was not loaded from $expected_module"; }
grep -qxF "$expected_guide" "$work/opened" || { cat "$work/opened"; fail "the setup guide opened was not $expected_guide"; }
echo "window module: $expected_module"
echo "setup guide: $expected_guide"
echo "== passed"
