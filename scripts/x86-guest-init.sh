#!/bin/bash
# The x86 guest's first process (scripts/x86-guest.sh boots the kernel with init= this file): mounts
# the exchange folder (9p tag "exchange") and the shares it lists at the host's own paths, runs its
# command.sh as root with the output into its output file, records the exit status in its status
# file and powers the guest off.
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root USER=root LOGNAME=root
export LANG=C.UTF-8 TERM=dumb
mountpoint -q /proc || mount -t proc proc /proc
mountpoint -q /sys || mount -t sysfs sysfs /sys
mountpoint -q /dev || mount -t devtmpfs devtmpfs /dev
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm
mount -t tmpfs tmpfs /run
mount -t tmpfs -o mode=1777,size=80% tmpfs /tmp
mount -o remount,rw /
hostname x86-guest
ip link set lo up
modprobe -a 9pnet_virtio 9p
options="trans=virtio,version=9p2000.L,msize=262144"
mkdir -p /exchange
mount -t 9p -o "$options" exchange /exchange
while read -r tag path; do
  mkdir -p "$path"
  mount -t 9p -o "$options" "$tag" "$path"
done </exchange/shares
echo "guest: command starts $(cut -d' ' -f1 /proc/uptime) s after boot" >/dev/console
bash /exchange/command.sh >/exchange/output 2>&1 </dev/null
echo $? >/exchange/status
echo "guest: command ended with status $(cat /exchange/status) at $(cut -d' ' -f1 /proc/uptime) s" >/dev/console
sync
umount -a -t 9p 2>/dev/null
mount -o remount,ro / 2>/dev/null
sync
echo o >/proc/sysrq-trigger
# Power-off is asynchronous: wait for it without touching the disk again.
read -rt 10 <>/dev/console
