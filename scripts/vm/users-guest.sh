#!/bin/sh
# vm-test guest boot "users": erases refused because something the kernel lists as no
# holder uses the disk, each named in the refusal, and the file system under it intact.
#   1. a loop device over the USB bulk-only disk at its ext4 partition's offset, mounted:
#      refused naming the loop device and its mount; the ext4 reads back clean
#   2. a program holding the partition's node open: refused naming the program and pid
#   3. a btrfs over the UAS and the SCSI disks, mounted (when mkfs.btrfs came along):
#      the erase of one of them is refused naming the mount
#   4. with nothing left using it, the USB disk's quick erase completes
# shellcheck source=scripts/vm/guest-lib.sh
. /extra/guest-lib.sh
# shellcheck disable=SC1091  # written by vm-test.sh for this boot
. /extra/vm-params.sh

find_devices
capture list palvoro list
LIST_FILE=/tmp/list.json
cp /tmp/cap.out "$LIST_FILE"

usb=$(dev_of LABUSB000003)
start=$(cat "/sys/block/$usb/${usb}1/start")
# magic: the ext4 superblock's magic number (53 ef), read past the page cache.
magic() {
    dd if="/dev/$usb" bs=512 skip=$((start + 2)) count=1 iflag=direct 2>/dev/null | od -An -tx1 -j56 -N2 | trim
}
erase_usb() {
    capture "$1" palvoro erase --serial LABUSB000003 --mode quick --confirm-erase LABUSB000003 --yes
}

# 1. The loop device over the whole disk, at the partition's offset, mounted read-write.
loop=$(losetup -f)
losetup -o $((start * 512)) "$loop" "/dev/$usb"
mkdir -p /mnt/x
mount -t ext4 "$loop" /mnt/x
echo "written before the erase" >/mnt/x/canary
sync
kv "loop $loop /dev/$usb $start $(cat "/sys/block/${loop#/dev/}/loop/backing_file")"
kv "magic loop.before $(magic)"
erase_usb erase.loop
kv "magic loop.after $(magic)"
umount /mnt/x
losetup -d "$loop"
capture fsck.loop /extra/e2fsck -fn "/dev/${usb}1"
mount -t ext4 -o ro "/dev/${usb}1" /mnt/x
kv "canary loop $(cat /mnt/x/canary)"
umount /mnt/x

# 2. A program holding the partition's node open (as its standard input, unread).
# shellcheck disable=SC2217
sleep 1000 <"/dev/${usb}1" &
holder=$!
kv "holder sleep $holder /dev/${usb}1"
erase_usb erase.held
kill "$holder"
wait "$holder" 2>/dev/null
kv "magic held.after $(magic)"

# 3. btrfs spanning two disks.
uas=$(dev_of LABUAS0000004)
scsi=$(dev_of LABSCSI0000005)
if [ -x /extra/mkfs.btrfs ] && /extra/mkfs.btrfs -q -f -d single -m single "/dev/$uas" "/dev/$scsi" >/tmp/mkfs.log 2>&1 &&
    mkdir -p /mnt/b && mount -t btrfs "/dev/$uas" /mnt/b; then
    echo "on btrfs" >/mnt/b/file
    sync
    kv "btrfs /dev/$uas /dev/$scsi $(for f in /sys/fs/btrfs/*/devices; do printf '%s ' "$(basename "$(dirname "$f")")"; done)"
    capture erase.btrfs palvoro erase --serial LABSCSI0000005 --mode quick --confirm-erase LABSCSI0000005 --yes
    kv "btrfs.file $(cat /mnt/b/file)"
    umount /mnt/b
else
    kv "btrfs none $(head -c 200 /tmp/mkfs.log 2>/dev/null | tr '\n' ' ')"
fi

# 4. Nothing uses the USB disk any more: its erase goes through.
erase_usb erase.free
kv "magic free.after $(magic)"
exit 0
