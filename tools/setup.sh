#!/usr/bin/env bash
# Sets the editor up on Debian 12: installs the Debian packages that are
# missing, builds, and then either starts the editor or runs every test.
#
#   bash tools/setup.sh run     build and start the editor
#   bash tools/setup.sh test    build and run all tests (what CI runs)
#   bash tools/setup.sh demo    build and start the editor with a virtual controller
#   bash tools/setup.sh bench   build and run the start-up benchmark (Xvfb)
set -euo pipefail

mode=${1:-run}
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VLX_BUILD_DIR:-$top/build}

packages=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins
  librtmidi-dev jackd2 libjack-jackd2-dev libasound2-dev
  libgtest-dev
  libcli11-dev nlohmann-json3-dev
  fonts-liberation2 fonts-dejavu-core
)
if [ "$mode" = test ]; then
  packages+=(clang libclang-rt-14-dev dpkg-dev file desktop-file-utils appstream groff-base zsh)
  # tools/package.sh: the MIME type of .cus files and the window's class
  packages+=(shared-mime-info xdg-utils libfile-mimeinfo-perl xvfb x11-utils)
  # The ALSA tests: a virtual machine booting Debian's kernel (snd-seq) over
  # this machine's root file system, Xvfb for the window inside it.
  packages+=(qemu-system-x86 linux-image-amd64 busybox-static cpio kmod xauth alsa-utils)
fi
if [ "$mode" = bench ]; then
  packages+=(xvfb libxcb-damage0-dev)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  echo "== installing: ${missing[*]}"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

jobs=$(nproc 2>/dev/null || echo 2)
configure_and_build() {  # dir, extra cmake arguments...
  local dir=$1
  shift
  cmake -S "$top" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
  cmake --build "$dir" -j"$jobs"
}

case "$mode" in
  run)
    configure_and_build "$build" -DBUILD_TESTING=OFF
    exec "$build/app/VLX210_MIDI_Editor"
    ;;
  demo)
    configure_and_build "$build" -DBUILD_TESTING=OFF
    exec "$build/tools/demo/VLX210_MIDI_Editor_demo"
    ;;
  test)
    configure_and_build "$build"
    # The ALSA tests boot a virtual machine; .ci/run runs them on their own.
    ctest --test-dir "$build" --output-on-failure --timeout 600 -LE alsa
    ;;
  bench)
    configure_and_build "$build" -DBUILD_TESTING=OFF
    exec bash "$top/tools/bench/startup.sh" "$build"
    ;;
  *)
    echo "usage: $0 run|test|demo|bench" >&2
    exit 2
    ;;
esac
