#!/usr/bin/env bash
# Installs the build into a temporary tree (DESTDIR), checks what is laid
# out, and runs the installed editor as a user who cannot write its program
# folder (check-tree.sh).
#
#   installed-editor.sh <build folder> <install prefix> <check program>
set -euo pipefail
build=$1
prefix=$2
check=$3
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
chmod 755 "$tree"
DESTDIR=$tree cmake --install "$build" >"$tree.log" 2>&1 || { cat "$tree.log" >&2; rm -f "$tree.log"; exit 1; }
rm -f "$tree.log"

root=$tree$prefix
missing=0
for f in bin/VLX210_MIDI_Editor bin/VLX210_MIDI_Editor_demo bin/vellox-editor bin/vellox-cli bin/vellox-sim \
         share/applications/org.vellox.editor.desktop share/metainfo/org.vellox.editor.metainfo.xml \
         share/mime/packages/org.vellox.editor.xml \
         share/icons/hicolor/16x16/apps/org.vellox.editor.png share/icons/hicolor/48x48/apps/org.vellox.editor.png \
         share/icons/hicolor/256x256/apps/org.vellox.editor.png \
         share/man/man1/VLX210_MIDI_Editor.1.gz share/man/man1/vellox-editor.1.gz share/man/man1/vellox-cli.1.gz \
         share/man/man1/vellox-sim.1.gz \
         share/doc/vellox-editor/changelog.gz; do
  [ -e "$root/$f" ] || { echo "FAILED: not installed: $f" >&2; missing=1; }
done
[ "$(readlink "$root/bin/vellox-editor")" = VLX210_MIDI_Editor ] || { echo "FAILED: vellox-editor is no link to the editor" >&2; missing=1; }
[ "$missing" -eq 0 ] || exit 1

bash "$here/check-tree.sh" "$root/bin" "$check"
