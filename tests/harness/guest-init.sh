#!/bin/sh
# The guest's first process (see guest.sh): mounts what the kernel, Wine and Xvfb need and the inputs disk
# (read-only, at /inputs), brings up the loopback interface, runs the command the inputs name with
# guest.sh, writes its exit code to the serial console and powers the guest off.
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root USER=root LANG=C.UTF-8
mountpoint -q /proc || mount -t proc proc /proc
mountpoint -q /sys || mount -t sysfs sysfs /sys
mountpoint -q /dev || mount -t devtmpfs devtmpfs /dev
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm
mount -t tmpfs tmpfs /tmp
mount -t tmpfs tmpfs /run
mkdir -p /inputs
mount -o ro /dev/vdb /inputs
hostname guest
ip link set lo up
exec </dev/null >/dev/console 2>&1
# shellcheck disable=SC2046  # the command's words
bash /inputs/harness/guest.sh $(cat /inputs/command)
echo "guest-exit $?"
sync
echo o > /proc/sysrq-trigger
sleep 60
