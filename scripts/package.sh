#!/usr/bin/env bash
# Builds the Debian package orvane_<version>_<arch>.deb with CPack and checks it:
# lintian (no errors), appstreamcli and desktop-file-validate on the files it
# installs, then unpacks it into a scratch root and runs the installed programs.
# Usage: scripts/package.sh [--qt6] [--build-dir DIR]
#   --qt6        against Qt 6 (default Qt 5)
#   --build-dir  build in DIR (default build-package or build-package-qt6, with
#                tests off; CI passes the folder scripts/test.sh built)
# The package is left in the build folder; its path is the last line printed.
set -euo pipefail
cd "$(dirname "$0")/.."
qt=5
build=""
while [ $# -gt 0 ]; do
  case "$1" in
    --qt6) qt=6 ;;
    --build-dir) build="$2"; shift ;;
    *) echo "Usage: scripts/package.sh [--qt6] [--build-dir DIR]" >&2; exit 2 ;;
  esac
  shift
done
options=()
if [ -z "$build" ]; then
  build=build-package
  [ "$qt" = 6 ] && build=build-package-qt6
  options=(-DORVANE_BUILD_TESTS=OFF -DORVANE_BUILD_BENCH=OFF -DORVANE_BUILD_TOOLS=OFF)
fi
if [ "$qt" = 6 ]; then scripts/setup.sh package qt6; else scripts/setup.sh package; fi

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANE_QT="$qt" -DCMAKE_UNITY_BUILD=ON "${options[@]}" >/dev/null
cmake --build "$build" -j2
rm -f "$build"/orvane_*.deb
(cd "$build" && cpack -G DEB >cpack.log 2>&1) || { cat "$build/cpack.log"; exit 1; }
deb="$(ls "$build"/orvane_*.deb)"

echo "== $deb"
dpkg-deb --field "$deb" Package Version Architecture Installed-Size Depends Recommends Suggests
echo "size: $(stat -c %s "$deb") bytes"

echo "== lintian"
# Exit status 0 unless lintian finds an error; warnings are listed in docs/development.md.
lintian --tag-display-limit 0 "$deb" || { echo "lintian reports errors" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
root="$work/root"
dpkg-deb -x "$deb" "$root"

echo "== appstreamcli, desktop-file-validate"
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml
desktop-file-validate "$root/usr/share/applications/orvane.desktop"

echo "== the installed programs"
fail() { echo "package check failed: $*" >&2; exit 1; }
mkdir -p "$work/config" "$work/cwd" "$work/runtime"
chmod 700 "$work/runtime"
export QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime"
version="$("$root/usr/bin/orvane" --version)"
echo "$version"
# The program's version and the package's are the same, in Debian's spelling.
said="${version#orvane }"
said="${said/-/+}"
[ "${said//-/.}" = "$(dpkg-deb --field "$deb" Version)" ] || fail "orvane --version printed '$version'"
"$root/usr/bin/orvane-sim" --help | grep -q -- "--link" || fail "orvane-sim --help"
# Run from an empty folder, so that only installed or system catalogues count.
printed="$(cd "$work/cwd" && ORVANE_PRINT_TRANSLATION=1 "$root/usr/bin/orvane")"
echo "$printed"
folder="$(sed -n 's/^translations: //p' <<<"$printed")"
[ -f "$folder/qt_de.qm" ] || fail "no qt_de.qm in '$folder'"
grep -qx "Cancel: Abbrechen" <<<"$printed" || fail "Qt's dialogs are not German"
echo "$deb"
