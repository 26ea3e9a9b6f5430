#!/usr/bin/env bash
# Builds the x86-64 Debian 12 guest that runs the 32-bit build, once per
# machine: guest.sh GUEST_DIR (run as root). Reuses what GUEST_DIR holds.
#
#   debs/          the downloaded packages, kept so a rebuild needs no network
#   vmlinux        the guest kernel, booted through its PVH entry
#   initrd.img     an initrd with the virtio disk and ext4 drivers only
#   prepared.img   the root file system (raw, sparse ext4) with a warm WoW64
#                  Wine prefix; every test boot starts from it and writes nothing back
#   version        what prepared.img was built from; a change rebuilds it
set -eEuo pipefail

here=$(cd "$(dirname "$(readlink -f "$0")")" && pwd)
dir=$1
mirror=${VM32_MIRROR:-http://deb.debian.org/debian}
security_mirror=${VM32_SECURITY_MIRROR:-http://deb.debian.org/debian-security}
suite=bookworm
guest_packages=(linux-image-amd64 wine wine64 wine32:i386)
# Bump when the recipe changes in a way the packages do not show.
version="vm32-v1 $suite ${guest_packages[*]} $(cat "$here/init.sh" "$here/prepare-prefix.sh" | md5sum | cut -d' ' -f1)"

log() { printf '== %s\n' "$*" >&2; }
now() { date +%s; }
# A step that fails ends the build: say which, not only that it stopped.
trap 'log "FAILED: the guest build stopped at line $LINENO: $BASH_COMMAND"' ERR

mkdir -p "$dir"
# A second clone may build at the same time: one builder, the other waits and reuses.
exec 9>"$dir/.lock"
flock 9
if [ -f "$dir/prepared.img" ] && [ "$(cat "$dir/version" 2>/dev/null)" = "$version" ]; then
  log "guest: reusing $dir/prepared.img"
  exit 0
fi
rm -f "$dir/prepared.img" "$dir/version"

rootfs="$dir/rootfs"
mounted=()
unmount_all() {
  local m
  for m in "${mounted[@]}"; do umount "$m" 2>/dev/null || umount -l "$m" 2>/dev/null || true; done
  mounted=()
}
trap 'unmount_all; rm -rf "$rootfs"' EXIT
mount_into_rootfs() { # TYPE-OR---bind SOURCE TARGET
  if [ "$1" = --bind ]; then mount --bind "$2" "$rootfs/$3"; else mount -t "$1" "$2" "$rootfs/$3"; fi
  mounted=("$rootfs/$3" "${mounted[@]}")
}

# apt-get update exits 0 when an index failed to download.
chroot_apt_update() {
  local try out
  for try in 1 2 3 4 5; do
    out=$(chroot "$rootfs" apt-get update 2>&1) || true
    grep -qE '^(W: Failed to fetch|W: Some index files failed|E: )' <<<"$out" || return 0
    log "apt-get update in the guest's tree failed (try $try of 5)"
    sleep $((try * 8))
  done
  grep -E '^(W|E): ' <<<"$out" | head -8 >&2
  return 1
}

build_rootfs() {
  local t0
  t0=$(now)
  # A builder killed outright leaves its mounts: removing the tree through
  # them would empty debs/ and worse.
  { findmnt -rn -o TARGET | grep "^$rootfs/" || true; } | sort -r | xargs -r -n 1 umount -l
  rm -rf "$rootfs" && mkdir -p "$rootfs" "$dir/debs/debootstrap" "$dir/debs/apt/partial"
  log "guest: debootstrap --variant=minbase $suite"
  debootstrap --variant=minbase --arch=amd64 --cache-dir="$dir/debs/debootstrap" \
    "$suite" "$rootfs" "$mirror" >"$dir/debootstrap.log" 2>&1 ||
    { tail -n 20 "$dir/debootstrap.log" >&2; log "FAILED: debootstrap (see $dir/debootstrap.log)"; exit 1; }
  printf 'deb %s %s main\ndeb %s %s-updates main\ndeb %s %s-security main\n' \
    "$mirror" "$suite" "$mirror" "$suite" "$security_mirror" "$suite" >"$rootfs/etc/apt/sources.list"
  # Package scripts start no daemons in the tree; downloaded packages stay in debs/.
  printf '#!/bin/sh\nexit 101\n' >"$rootfs/usr/sbin/policy-rc.d" && chmod +x "$rootfs/usr/sbin/policy-rc.d"
  echo 'Binary::apt::APT::Keep-Downloaded-Packages "true";' >"$rootfs/etc/apt/apt.conf.d/90keep"
  rm -f "$rootfs/etc/apt/apt.conf.d/docker-clean"
  # Only what a QEMU guest needs in the initrd: 6 MB instead of 40.
  mkdir -p "$rootfs/etc/initramfs-tools/conf.d"
  echo 'MODULES=list' >"$rootfs/etc/initramfs-tools/conf.d/vm32.conf"
  printf '%s\n' virtio_pci virtio_blk ext4 >>"$rootfs/etc/initramfs-tools/modules"
  mount_into_rootfs proc proc proc
  mount_into_rootfs sysfs sys sys
  mount_into_rootfs --bind "$dir/debs/apt" var/cache/apt/archives
  chroot "$rootfs" dpkg --add-architecture i386
  chroot_apt_update || { log "FAILED: apt-get update in the guest's tree"; exit 1; }
  log "guest: installing ${guest_packages[*]}"
  chroot "$rootfs" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
    "${guest_packages[@]}" >"$dir/apt.log" 2>&1 ||
    { tail -n 20 "$dir/apt.log" >&2; log "FAILED: the guest's packages (see $dir/apt.log)"; exit 1; }
  chroot "$rootfs" dpkg-query -W -f='${binary:Package} ${Version}\n' >"$dir/packages.txt"
  unmount_all
  install -m 755 "$here/init.sh" "$rootfs/sbin/vm32-init"
  log "guest: root tree in $(( $(now) - t0 )) s"
}

# The uncompressed kernel (the bzImage's xz payload) boots through its PVH
# entry: no real-mode setup and no decompressor, which under kvm_pvm never finished.
extract_kernel() {
  local offset
  offset=$(grep -abo $'\xfd7zXZ' "$rootfs"/boot/vmlinuz-* | head -n 1 | cut -d: -f1)
  tail -c +$((offset + 1)) "$rootfs"/boot/vmlinuz-* | xz -dc >"$dir/vmlinux" 2>/dev/null || true
  [ "$(head -c 4 "$dir/vmlinux" | od -An -tx1 | tr -d ' ')" = 7f454c46 ] ||
    { log "FAILED: no kernel image in the guest's vmlinuz"; exit 1; }
  cp "$rootfs"/boot/initrd.img-* "$dir/initrd.img"
}

make_image() {
  local t0 size
  t0=$(now)
  rm -rf "$rootfs"/var/lib/apt/lists/* "$rootfs"/usr/share/doc/* "$rootfs"/usr/share/man/* \
         "$rootfs"/var/cache/apt/*.bin
  # Room for the Wine prefix (1.3 GB) and the tests' files; sparse, so free until written.
  size=$(( $(du -sm "$rootfs" | cut -f1) + 4096 ))
  rm -f "$dir/root.img"
  mkfs.ext4 -q -F -L vm32root -d "$rootfs" "$dir/root.img" "${size}M"
  rm -rf "$rootfs"
  log "guest: ${size} MiB image ($(du -sh "$dir/root.img" | cut -f1) used) in $(( $(now) - t0 )) s"
}

prepare() {
  local t0 share="$dir/prepare"
  t0=$(now)
  rm -rf "$share" && mkdir -p "$share"
  cp "$here/prepare-prefix.sh" "$share/job.sh"
  log "guest: first boot, creating the Wine prefix (about 2 minutes)"
  VM32_TIMEOUT=1200 "$here/boot.sh" "$dir" "$share" --write ||
    { cat "$share/out/job.log" >&2 2>/dev/null || true; log "FAILED: the Wine prefix (see $share/out)"; exit 1; }
  sed 's/^/   /' "$share/out/job.log" >&2
  mv "$dir/root.img" "$dir/prepared.img"
  log "guest: prepared in $(( $(now) - t0 )) s"
}

t0=$(now)
build_rootfs
extract_kernel
make_image
prepare
echo "$version" >"$dir/version"
log "guest: built in $(( $(now) - t0 )) s, $(du -sh --apparent-size "$dir/prepared.img" | cut -f1) image ($(du -sh "$dir/prepared.img" | cut -f1) used)"
