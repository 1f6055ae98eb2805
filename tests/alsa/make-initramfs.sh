#!/usr/bin/env bash
# Builds the initramfs for vm-run.sh: a static busybox, the modules that
# reach the host's root file system over virtio 9p, and an init that mounts
# it read-only, loads snd-seq from it, runs the command and powers off.
#   bash tests/alsa/make-initramfs.sh KERNEL-VERSION BUSYBOX OUTPUT.cpio.gz
set -euo pipefail
kver=$1 busybox=$2 output=$3
moddir=/lib/modules/$kver
[ -d "$moddir" ] || { echo "make-initramfs: no $moddir" >&2; exit 1; }
export PATH=$PATH:/usr/sbin:/sbin  # modinfo, for users without them on PATH
command -v modinfo >/dev/null || { echo "make-initramfs: modinfo missing: install kmod" >&2; exit 1; }
command -v cpio >/dev/null || { echo "make-initramfs: cpio missing: install cpio" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/vellox-initramfs.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work"/{bin,dev,proc,sys,newroot,modules}
cp "$busybox" "$work/bin/busybox"

# In load order: every module after the ones it depends on. Modules built
# into the kernel are simply not found and left out.
mods=(virtio_ring virtio virtio_pci_legacy_dev virtio_pci_modern_dev virtio_pci netfs fscache 9pnet 9pnet_virtio 9p)
: > "$work/modules/order"
for m in "${mods[@]}"; do
  f=$(modinfo -k "$kver" -n "$m" 2>/dev/null || true)
  case "$f" in
    /*) ;;
    *) continue ;;  # built in
  esac
  case "$f" in
    *.ko) cp "$f" "$work/modules/$m.ko" ;;
    *.ko.xz) xz -dc "$f" > "$work/modules/$m.ko" ;;
    *.ko.zst) zstd -qdc "$f" > "$work/modules/$m.ko" ;;
    *.ko.gz) gzip -dc "$f" > "$work/modules/$m.ko" ;;
    *) echo "make-initramfs: unknown module file $f" >&2; exit 1 ;;
  esac
  echo "$m" >> "$work/modules/order"
done

cat > "$work/init" <<'INIT'
#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
for m in $(cat /modules/order); do insmod /modules/$m.ko || echo "init: insmod $m failed"; done
die() { echo "init: $*"; poweroff -f; sleep 5; }
mount -t 9p -o trans=virtio,version=9p2000.L,ro,cache=loose,msize=262144 vlxroot /newroot || die "no root share"
r=/newroot
mount -t tmpfs -o mode=1777 tmp $r/tmp || die "no tmpfs"
mkdir -p $r/tmp/vm-out && mkdir -m 700 $r/tmp/run
mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 vlxout $r/tmp/vm-out || die "no result share"
mount -t proc proc $r/proc
mount -t sysfs sys $r/sys
mount -o bind /dev $r/dev
mkdir -p /dev/shm /dev/pts
mount -t tmpfs -o mode=1777 shm $r/dev/shm
mount -t devpts devpts $r/dev/pts
mount -t tmpfs run $r/run
[ -d $r/var/lib/xkb ] && mount -t tmpfs xkb $r/var/lib/xkb
ip link set lo up 2>/dev/null
hostname vellox-vm
chroot $r /sbin/modprobe snd-seq || echo "init: modprobe snd-seq failed" > $r/tmp/vm-out/stderr
chroot $r /bin/sh /tmp/vm-out/command.sh > $r/tmp/vm-out/stdout 2>> $r/tmp/vm-out/stderr
echo $? > $r/tmp/vm-out/rc
sync
umount $r/tmp/vm-out
poweroff -f
INIT
chmod +x "$work/init"
(cd "$work" && find . | cpio -o -H newc --quiet | gzip -1) > "$output"
