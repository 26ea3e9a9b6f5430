#!/bin/sh
# The guest's first and only process (no systemd): mounts what Wine needs, runs
# the job the host put on the 9p share, leaves its exit code there, powers off.
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8
# The initramfs has moved /proc, /sys and /dev here already.
mountpoint -q /proc || mount -t proc proc /proc
mountpoint -q /sys || mount -t sysfs sys /sys
mountpoint -q /dev || mount -t devtmpfs dev /dev
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts; mount -t tmpfs tmpfs /dev/shm
mount -t tmpfs tmpfs /run; mount -t tmpfs tmpfs /tmp
mount -o remount,rw /
hostname vm32
echo "vm32-init: reached at guest uptime $(cut -d' ' -f1 /proc/uptime) s, kernel $(uname -r)"
modprobe 9pnet_virtio 2>/dev/null; modprobe 9p 2>/dev/null
mkdir -p /mnt/share
rc=99
if mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 share /mnt/share; then
  mkdir -p /mnt/share/out
  cut -d' ' -f1 /proc/uptime >/mnt/share/out/init-uptime
  if [ -f /mnt/share/job.sh ]; then
    (cd /mnt/share && sh ./job.sh >out/job.log 2>&1); rc=$?
  else
    echo "vm32-init: no job.sh on the share"
  fi
  echo "$rc" >/mnt/share/out/job.rc
  sync
else
  echo "vm32-init: cannot mount the 9p share"
fi
echo "vm32-init: job exit code $rc"
# What the job left running (wineserver, Wine's services) must go before / is
# read-only, or the image keeps a dirty journal.
kill -TERM -1 2>/dev/null; sleep 1; kill -KILL -1 2>/dev/null; sleep 1
umount -a -t 9p 2>/dev/null
sync; mount -o remount,ro / || echo "vm32-init: could not remount / read-only"
# The sysrq power-off is asynchronous, and the disk is gone once it starts:
# wait in the shell itself, loading no program.
echo o >/proc/sysrq-trigger
while :; do :; done
