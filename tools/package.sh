#!/usr/bin/env bash
# Builds the Debian package vellox-editor_<version>_<arch>.deb in the build
# folder and checks it: the desktop entry, the AppStream metainfo and the
# MIME type of .cus files with their validators, the editor run headless from
# the package's extracted tree (tests/install/check-tree.sh), its window
# class under X against the desktop entry's StartupWMClass (with Xvfb), and,
# as root, the package installed with apt-get: the desktop then knows .cus
# files as application/x-vellox-profile, opened by the editor's entry. A
# package installed only for the check is removed again; one installed before
# is left as this build.
#
#   bash tools/package.sh            build folder: build (or $VLX_BUILD_DIR)
#
# Needs the packages of `bash tools/setup.sh test` (dpkg-dev, file,
# desktop-file-utils, appstream, shared-mime-info, xdg-utils,
# libfile-mimeinfo-perl, xvfb, x11-utils).
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
entry=$tree/usr/share/applications/org.vellox.editor.desktop
mimefile=$tree/usr/share/mime/packages/org.vellox.editor.xml
[ -f "$mimefile" ] || { echo "FAILED: no $mimefile" >&2; exit 1; }
grep -qx 'MimeType=application/x-vellox-profile;' "$entry" || { echo "FAILED: the entry opens no profiles" >&2; exit 1; }
grep -q '^Exec=.* %f$' "$entry" || { echo "FAILED: the entry's Exec takes no file" >&2; exit 1; }

echo "== the MIME type, as update-mime-database reads it"
mimedb=$(mktemp -d)
mkdir -p "$mimedb/mime/packages"
cp "$mimefile" "$mimedb/mime/packages/"
XDG_DATA_HOME=$mimedb update-mime-database "$mimedb/mime" 2>&1 | tee "$mimedb/log"
if [ -s "$mimedb/log" ]; then echo "FAILED: update-mime-database complains" >&2; exit 1; fi
grep -q '^application/x-vellox-profile:\*\.cus$' "$mimedb/mime/globs" ||
  { echo "FAILED: no glob *.cus for application/x-vellox-profile" >&2; exit 1; }
rm -rf "$mimedb"

echo "== vellox-cli's shell completions"
for f in usr/share/bash-completion/completions/vellox-cli usr/share/zsh/vendor-completions/_vellox-cli; do
  [ -f "$tree/$f" ] || { echo "the package lacks /$f" >&2; exit 1; }
done
bash -n "$tree/usr/share/bash-completion/completions/vellox-cli"

echo "== the editor from the package's tree"
check=$build/tests/install/vlx_edit_in_user_folder
[ -x "$check" ] || check=
bash "$top/tests/install/check-tree.sh" "$tree/usr/bin" $check

echo "== the window's class under X"
if command -v Xvfb >/dev/null && command -v xwininfo >/dev/null && command -v xprop >/dev/null; then
  want=$(sed -n 's/^StartupWMClass=//p' "$entry")
  x=$(mktemp -d)
  exec {fd}<> "$x/display"
  Xvfb -displayfd "$fd" -screen 0 1280x1024x24 -nolisten tcp >"$x/xvfb.log" 2>&1 &
  xvfb=$!
  for _ in $(seq 100); do [ -s "$x/display" ] && break; sleep 0.1; done
  display=:$(head -n1 "$x/display")
  for name in vellox-editor VLX210_MIDI_Editor; do
    mkdir -p "$x/$name"
    env -i PATH=/usr/bin:/bin HOME="$x/$name" XDG_CONFIG_HOME="$x/$name/config" DISPLAY="$display" \
      QT_QPA_PLATFORM=xcb "$tree/usr/bin/$name" >"$x/$name.log" 2>&1 &
    editor=$!
    class=
    for _ in $(seq 100); do
      id=$(DISPLAY=$display xwininfo -root -tree 2>/dev/null | awk '/"vellox MIDI Editor/ {print $1; exit}')
      if [ -n "$id" ]; then
        class=$(DISPLAY=$display xprop -id "$id" WM_CLASS | sed -n 's/^WM_CLASS(STRING) = "[^"]*", "\([^"]*\)"$/\1/p')
        [ -n "$class" ] && break
      fi
      sleep 0.1
    done
    kill "$editor" 2>/dev/null || true
    wait "$editor" 2>/dev/null || true
    if [ "$class" != "$want" ]; then
      echo "FAILED: started as $name the window's class is \"$class\", the entry's StartupWMClass \"$want\"" >&2
      cat "$x/$name.log" >&2
      kill "$xvfb"; rm -rf "$x"; exit 1
    fi
    echo "started as $name: window class $class"
  done
  kill "$xvfb"
  wait "$xvfb" 2>/dev/null || true
  exec {fd}>&-
  rm -rf "$x"
else
  echo "SKIP: Xvfb, xwininfo or xprop missing (packages xvfb, x11-utils)"
fi

echo "== installed with apt-get: the desktop's view of .cus files"
if [ "$(id -u)" -ne 0 ] || ! command -v apt-get >/dev/null; then
  echo "SKIP: installing the package needs root"
elif ! command -v xdg-mime >/dev/null || ! command -v mimetype >/dev/null || ! command -v update-mime-database >/dev/null; then
  echo "SKIP: xdg-mime, mimetype or update-mime-database missing (packages xdg-utils, libfile-mimeinfo-perl, shared-mime-info)"
else
  installed_before=
  dpkg-query -W -f='${Status}' vellox-editor 2>/dev/null | grep -q 'install ok installed' && installed_before=1
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --reinstall --no-install-recommends -o DPkg::Lock::Timeout=900 \
    "$deb" >/dev/null
  q=$(mktemp -d)
  : >"$q/some.cus"
  xq() { env -i PATH=/usr/bin:/bin HOME="$q" xdg-mime query "$@"; }
  type=$(xq filetype "$q/some.cus")
  default=$(xq default application/x-vellox-profile)
  rm -rf "$q"
  [ -n "$installed_before" ] || DEBIAN_FRONTEND=noninteractive apt-get remove -y -q -o DPkg::Lock::Timeout=900 vellox-editor >/dev/null
  echo "xdg-mime query filetype some.cus: $type"
  echo "xdg-mime query default application/x-vellox-profile: $default"
  [ "$type" = application/x-vellox-profile ] || { echo "FAILED: some.cus is of type \"$type\"" >&2; exit 1; }
  [ "$default" = org.vellox.editor.desktop ] || { echo "FAILED: .cus files open with \"$default\"" >&2; exit 1; }
fi
