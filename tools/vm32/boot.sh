#!/usr/bin/env bash
# One boot of the guest: boot.sh GUEST_DIR SHARE_DIR [--write] [--tree PATH]
# The guest runs SHARE_DIR/job.sh as root (SHARE_DIR is its /mnt/share) and
# leaves what it prints in SHARE_DIR/out/job.log; the exit code is the job's.
# The disk's changes are thrown away unless --write. --tree mounts a host folder
# at the same path in the guest: the tests read files at the source path
# compiled into them. VM32_TIMEOUT (seconds, default 1800) bounds the boot.
set -euo pipefail

log() { printf '== %s\n' "$*" >&2; }

guest=$1 share=$2; shift 2
snapshot=",snapshot=on" tree=()
while [ $# -gt 0 ]; do
  case $1 in
    --write) snapshot= ;;
    --tree) tree=(-virtfs "local,path=$2,mount_tag=tree,security_model=none,id=tree"); shift ;;
    *) echo "boot.sh: unknown argument $1" >&2; exit 2 ;;
  esac
  shift
done
image="$guest/prepared.img"
[ -z "$snapshot" ] && image="$guest/root.img"

# KVM only where it boots a stock kernel: this kind of machine's /dev/kvm is
# kvm_pvm (meant for paravirtualized guest kernels), under which Debian's kernel
# stops in the instruction emulator during early boot.
accel() {
  if [ -d /sys/module/kvm_pvm ]; then
    log "guest: TCG (software emulation; /dev/kvm is kvm_pvm, which boots no stock kernel)"
  elif [ -w /dev/kvm ] && printf 'info kvm\nquit\n' |
       timeout 30 qemu-system-x86_64 -accel kvm -cpu host,-arch-capabilities -m 64 -display none \
         -nodefaults -S -monitor stdio 2>/dev/null | grep -q 'kvm support: enabled'; then
    log "guest: KVM"
    # Nested hosts refuse to set the arch-capabilities MSR.
    echo "-accel kvm -cpu host,-arch-capabilities"
    return
  else
    log "guest: TCG (software emulation; no usable /dev/kvm)"
  fi
  # QEMU 7.2's TCG does IRETQ's stack reads as supervisor accesses: with SMAP
  # the guest kernel faults Wine's return from its syscall dispatcher and every
  # Wine process dies.
  echo "-accel tcg,thread=multi,tb-size=512 -cpu max,-smap"
}

rm -rf "$share/out" && mkdir -p "$share/out"
if [ ${#tree[@]} -gt 0 ]; then
  # The tree is mounted before the job runs, at its host path.
  at=${tree[1]#local,path=}; at=${at%%,*}
  { printf 'mkdir -p %q\n' "$at"
    printf 'mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144,cache=loose tree %q || exit 98\n' "$at"
    cat "$share/job.sh"; } >"$share/.job.sh"
  mv "$share/.job.sh" "$share/job.sh"
fi

read -ra accel_args < <(accel)
rc=0
# Wine's services in the guest cannot hold a pipe of ours: qemu's own output
# goes to a file.
timeout "${VM32_TIMEOUT:-1800}" qemu-system-x86_64 "${accel_args[@]}" -machine q35 -smp 2 -m 2048 \
  -nodefaults -no-user-config -display none -no-reboot \
  -serial "file:$share/out/serial.log" \
  -kernel "$guest/vmlinux" -initrd "$guest/initrd.img" \
  -append "console=ttyS0 root=/dev/vda rw init=/sbin/vm32-init panic=-1 quiet" \
  -drive "file=$image,format=raw,if=virtio,cache=unsafe$snapshot" \
  -virtfs "local,path=$share,mount_tag=share,security_model=none,id=share" \
  "${tree[@]}" -device virtio-rng-pci -nic none \
  </dev/null >"$share/out/qemu.log" 2>&1 || rc=$?
if [ "$rc" -ne 0 ] || [ ! -f "$share/out/job.rc" ]; then
  tail -n 20 "$share/out/serial.log" "$share/out/qemu.log" >&2 || true
  [ "$rc" -eq 124 ] && log "FAILED: the guest did not power off within ${VM32_TIMEOUT:-1800} s"
  log "FAILED: the guest left no result (qemu exit code $rc)"
  exit 125
fi
exit "$(cat "$share/out/job.rc")"
