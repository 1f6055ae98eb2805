#!/usr/bin/env bash
# Runs one command inside a small QEMU virtual machine that boots this
# machine's own Debian kernel, with a real ALSA sequencer (snd-seq) loaded.
#
#   bash tests/alsa/vm-run.sh [options] -- COMMAND [ARGS...]
#     --timeout SECONDS   limit for COMMAND inside the VM (default 300); the VM
#                         itself gets this plus the boot allowance
#     --cache DIR         where the initramfs is kept (default: $VLX_VM_CACHE or
#                         $TMPDIR/vellox-vm), built once per kernel
#     --kernel VERSION    kernel to boot (default: the newest in /lib/modules
#                         with a /boot/vmlinuz-VERSION)
#     --accel tcg|kvm     default tcg, or $VLX_VM_ACCEL (KVM hangs at boot on
#                         some machines; use it where it works)
#     --mem MB            guest memory (default 1024)
#
# The guest sees this machine's root file system read-only (9p), so the
# build tree and the installed packages are there under the same paths; the
# command runs as root in the current directory with /tmp a fresh tmpfs and
# /dev/snd/seq present. Its stdout and stderr come back as this script's, and
# its exit status is this script's. Any failure to build the initramfs, to
# boot or to run the command exits with 125 and says why on stderr: the VM
# never passes silently.
set -euo pipefail

timeout_s=300
cache=${VLX_VM_CACHE:-${TMPDIR:-/tmp}/vellox-vm}
kver=
accel=${VLX_VM_ACCEL:-tcg}
mem=1024
while [ $# -gt 0 ]; do
  case "$1" in
    --timeout) timeout_s=$2; shift 2 ;;
    --cache) cache=$2; shift 2 ;;
    --kernel) kver=$2; shift 2 ;;
    --accel) accel=$2; shift 2 ;;
    --mem) mem=$2; shift 2 ;;
    --) shift; break ;;
    *) echo "vm-run: unknown option $1" >&2; exit 125 ;;
  esac
done
fail() { echo "vm-run: $*" >&2; exit 125; }
[ $# -gt 0 ] || fail "no command given"

if [ -z "$kver" ]; then
  for d in $(ls -1 /lib/modules 2>/dev/null | sort -V -r); do
    if [ -r "/boot/vmlinuz-$d" ]; then kver=$d; break; fi
  done
fi
[ -n "$kver" ] || fail "no kernel: install linux-image-amd64 (bash tools/setup.sh test does)"
kernel=/boot/vmlinuz-$kver
[ -r "$kernel" ] || fail "cannot read $kernel"
command -v qemu-system-x86_64 >/dev/null || fail "qemu-system-x86_64 missing: install qemu-system-x86"
busybox=$(command -v busybox || true)
[ -n "$busybox" ] && file -L "$busybox" 2>/dev/null | grep -q 'statically linked' || busybox=/bin/busybox
[ -x "$busybox" ] || fail "busybox missing: install busybox-static"

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
mkdir -p "$cache"
initrd=$cache/initramfs-$kver.cpio.gz
if [ ! -s "$initrd" ] || [ "$here/make-initramfs.sh" -nt "$initrd" ]; then
  bash "$here/make-initramfs.sh" "$kver" "$busybox" "$initrd.tmp.$$" >&2 || fail "could not build the initramfs"
  mv -f "$initrd.tmp.$$" "$initrd"
fi

out=$(mktemp -d "${TMPDIR:-/tmp}/vellox-vm-out.XXXXXX")
trap 'rm -rf "$out"' EXIT

# The VM's /tmp is a fresh tmpfs, which would hide a tree or a build that
# lives under this machine's /tmp (a clone in a mktemp folder): each such
# folder the command names, or runs in, is shared on its own, read-only, and
# mounted at its place inside.
tmp_shares=()
for p in "$PWD" "$here" "$@"; do
  case "$p" in
    /tmp/?*) ;;
    *) continue ;;
  esac
  first=${p#/tmp/}
  d=/tmp/${first%%/*}
  [ -d "$d" ] || continue
  case " ${tmp_shares[*]:-} " in *" $d "*) continue ;; esac
  tmp_shares+=("$d")
done
virtfs_tmp=()
mounts=""
for i in "${!tmp_shares[@]}"; do
  d=${tmp_shares[$i]}
  virtfs_tmp+=(-virtfs "local,path=$d,mount_tag=vlxtmp$i,security_model=none,readonly=on,multidevs=remap")
  mounts+="mkdir -p $(printf %q "$d") && mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144,ro vlxtmp$i $(printf %q "$d") || exit 125"$'\n'
done

{
  printf '%s' "$mounts"
  echo "cd $(printf %q "$PWD") || exit 125"
  # What the command sees of the caller's environment.
  for v in PATH LANG LC_ALL GTEST_FILTER GTEST_OUTPUT VLX_ALSA_VERBOSE; do
    [ -n "${!v:-}" ] && echo "export $v=$(printf %q "${!v}")"
  done
  echo "export HOME=/tmp TMPDIR=/tmp XDG_RUNTIME_DIR=/tmp/run"
  printf 'exec timeout -k 5 %q' "$timeout_s"
  printf ' %q' "$@"
  echo
} > "$out/command.sh"

case "$accel" in
  tcg) accel_args=(-accel tcg,thread=multi) ;;
  kvm) accel_args=(-accel kvm -cpu host) ;;
  *) fail "unknown accelerator $accel" ;;
esac
smp=$(nproc 2>/dev/null || echo 1)
[ "$smp" -gt 2 ] && smp=2

# Boot allowance on top of the command's own limit: a TCG boot takes about
# 6 s on an idle machine, many times that on a loaded one.
set +e
# Run in the background, so that a signal to this script (a CTest time-out)
# ends the VM too.
timeout -k 10 $((timeout_s + 120)) qemu-system-x86_64 "${accel_args[@]}" -m "$mem" -smp "$smp" \
  -nographic -no-reboot -nodefaults -serial "file:$out/console" -display none \
  -kernel "$kernel" -initrd "$initrd" \
  -append "console=ttyS0 quiet loglevel=3 panic=-1 rdinit=/init" \
  -virtfs local,path=/,mount_tag=vlxroot,security_model=none,readonly=on,multidevs=remap \
  -virtfs local,path="$out",mount_tag=vlxout,security_model=none "${virtfs_tmp[@]}" \
  </dev/null >"$out/qemu.log" 2>&1 &
vm=$!
trap 'kill -TERM $vm 2>/dev/null; wait $vm; rm -rf "$out"; exit 125' INT TERM HUP
wait $vm
qemu_rc=$?
set -e

[ -f "$out/stdout" ] && cat "$out/stdout"
[ -f "$out/stderr" ] && cat "$out/stderr" >&2
if [ ! -f "$out/rc" ]; then
  {
    echo "vm-run: the command did not complete inside the VM (qemu exit status $qemu_rc)"
    [ "$qemu_rc" = 124 ] && echo "vm-run: the VM ran past $((timeout_s + 120)) s"
    echo "--- qemu"; tail -n 20 "$out/qemu.log"
    echo "--- console"; tail -n 40 "$out/console" 2>/dev/null
  } >&2
  exit 125
fi
rc=$(cat "$out/rc")
if [ "$rc" = 124 ] || [ "$rc" = 137 ]; then echo "vm-run: the command ran past its limit of $timeout_s s" >&2; fi
exit "$rc"
