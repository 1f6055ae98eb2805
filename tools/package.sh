#!/usr/bin/env bash
# Builds the Debian package vellox-editor_<version>_<arch>.deb in the build
# folder and checks it: the desktop entry and the AppStream metainfo with
# their validators, then the editor run headless from the package's
# extracted tree (tests/install/check-tree.sh).
#
#   bash tools/package.sh            build folder: build (or $VLX_BUILD_DIR)
#
# Needs the packages of `bash tools/setup.sh test` (dpkg-dev, file,
# desktop-file-utils, appstream).
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VLX_BUILD_DIR:-$top/build}
jobs=$(nproc 2>/dev/null || echo 2)

# A new build folder builds the programs only; an existing one keeps its
# settings. The package installs under /usr, the folder the editor then
# recognises as its installed place.
extra=()
[ -f "$build/CMakeCache.txt" ] || extra+=(-DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo)
cmake -S "$top" -B "$build" -DCMAKE_INSTALL_PREFIX=/usr "${extra[@]}" >/dev/null
cmake --build "$build" -j"$jobs"
rm -f "$build"/vellox-editor_*.deb
(cd "$build" && cpack -G DEB)
deb=$(ls "$build"/vellox-editor_*.deb)
echo "== $deb"
dpkg-deb --info "$deb"

tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
chmod 755 "$tree"
dpkg-deb -x "$deb" "$tree"
echo "== desktop-file-validate, appstreamcli validate"
desktop-file-validate "$tree"/usr/share/applications/*.desktop
appstreamcli validate --no-net "$tree"/usr/share/metainfo/*.metainfo.xml

echo "== vellox-cli's shell completions"
for f in usr/share/bash-completion/completions/vellox-cli usr/share/zsh/vendor-completions/_vellox-cli; do
  [ -f "$tree/$f" ] || { echo "the package lacks /$f" >&2; exit 1; }
done
bash -n "$tree/usr/share/bash-completion/completions/vellox-cli"

echo "== the editor from the package's tree"
check=$build/tests/install/vlx_edit_in_user_folder
[ -x "$check" ] || check=
bash "$top/tests/install/check-tree.sh" "$tree/usr/bin" $check
