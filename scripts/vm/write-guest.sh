#!/bin/sh
# vm-test guest boot "write": erases that must land exactly where they should, and those
# that must be refused. Everything written here lands on the guest's throw-away images.
#   1. quick erase of the unmounted SATA disk and of the NVMe disk, each filled with a
#      pattern: which sectors are zero
#   2. full erase with --verify of the USB bulk-only disk: all zero, partitions gone
#   3. an ext4 mounted on the SATA disk: refused while a file is open there (nothing
#      written, still mounted), then unmounted and fully erased once it is closed; and
#      the lab's mounted disk unmounted before its quick erase (its own TRIM)
#   4. a disk holding active swap: refused with its reason, nothing written
#   5. full erase rate against dd on the extra disk (RATE_SERIAL), then that disk removed
#      in the middle of a full erase
# shellcheck source=scripts/vm/guest-lib.sh
. /extra/guest-lib.sh
# shellcheck disable=SC1091  # written by vm-test.sh for this boot
. /extra/vm-params.sh

find_devices
capture list palvoro list
LIST_FILE=/tmp/list.json
cp /tmp/cap.out "$LIST_FILE"

pattern_setup

# disk_md5 DEV: one hash of the whole disk, read past the page cache.
disk_md5() { dd if="/dev/$1" bs=1M iflag=direct 2>/dev/null | md5sum | cut -d' ' -f1; }

partitions_of() { ls "/sys/block/$1" | grep "^$1" | tr '\n' ' '; }

# 1. Quick erase of the unmounted SATA disk.
ssd=$(dev_of LABSATA0000002)
fill "$ssd"
capture erase.quick.LABSATA0000002 palvoro erase "$(number_of LABSATA0000002)" --mode quick \
    --confirm-erase LABSATA0000002 --yes
kv "map quick LABSATA0000002 $(cat "/sys/block/$ssd/size") $(classify "$ssd")"
nvme=$(dev_of LABNVME0000006)
fill "$nvme"
capture erase.quick.LABNVME0000006 palvoro erase "$(number_of LABNVME0000006)" --mode quick \
    --confirm-erase LABNVME0000006 --yes
kv "map quick LABNVME0000006 $(cat "/sys/block/$nvme/size") $(classify "$nvme")"

# 2. Full erase with --verify of the USB bulk-only disk (MBR, an ext4 partition).
usb=$(dev_of LABUSB000003)
kv "partitions before LABUSB000003 $(partitions_of "$usb")"
capture erase.full.LABUSB000003 palvoro erase "$(number_of LABUSB000003)" --mode full \
    --confirm-erase LABUSB000003 --yes --verify
kv "partitions after LABUSB000003 $(partitions_of "$usb")"
kv "map full LABUSB000003 $(cat "/sys/block/$usb/size") $(classify "$usb")"

# 3. A mounted ext4 on the SATA disk just erased (made with the host's mke2fs, without
# lazy initialisation, and mounted read-only so that it writes nothing by itself): with a
# file held open there the unmount fails and the erase is refused, nothing written and
# the mount still there; once it is closed, the file system is unmounted and the disk
# fully erased, no other mount touched.
/extra/mke2fs -q -F -t ext4 -E lazy_itable_init=0,lazy_journal_init=0 "/dev/$ssd"
mkdir -p /mnt/ssd
mount -t ext4 "/dev/$ssd" /mnt/ssd && echo held >/mnt/ssd/held && umount /mnt/ssd
mount -t ext4 -o ro "/dev/$ssd" /mnt/ssd
mountinfo_snapshot /tmp/mountinfo.held.before
kv "hash held.before LABSATA0000002 $(disk_md5 "$ssd")"
exec 3</mnt/ssd/held
capture erase.held.LABSATA0000002 palvoro erase "$(number_of LABSATA0000002)" --mode full \
    --confirm-erase LABSATA0000002 --yes
exec 3<&-
kv "hash held.after LABSATA0000002 $(disk_md5 "$ssd")"
mountinfo_snapshot /tmp/mountinfo.held.after
emit mountinfo.held.before /tmp/mountinfo.held.before
emit mountinfo.held.after /tmp/mountinfo.held.after
capture erase.mounted.LABSATA0000002 palvoro erase "$(number_of LABSATA0000002)" --mode full \
    --confirm-erase LABSATA0000002 --yes --verify
mountinfo_snapshot /tmp/mountinfo.erased
emit mountinfo.erased /tmp/mountinfo.erased
kv "map mounted LABSATA0000002 $(cat "/sys/block/$ssd/size") $(classify "$ssd")"

# The disk whose ext4 the lab mounts offers only the quick erase, which is the drive's
# own TRIM (the lab's images ignore it, so its sectors are not looked at): the file
# system is unmounted before the TRIM reaches the disk, and only that mount goes.
mountinfo_snapshot /tmp/mountinfo.trim.before
capture erase.trim.LABSATA0000001 palvoro erase "$(number_of LABSATA0000001)" --mode quick \
    --confirm-erase LABSATA0000001 --yes
mountinfo_snapshot /tmp/mountinfo.trim.after
emit mountinfo.trim.before /tmp/mountinfo.trim.before
emit mountinfo.trim.after /tmp/mountinfo.trim.after

# 4. A disk holding active swap.
scsi=$(dev_of LABSCSI0000005)
mkswap "/dev/$scsi" >/dev/null 2>&1 && swapon "/dev/$scsi"
kv "swaps $(tail -n +2 /proc/swaps | awk '{ print $1 }' | tr '\n' ' ')"
kv "hash swap.before LABSCSI0000005 $(disk_md5 "$scsi")"
capture erase.swap.LABSCSI0000005 palvoro erase "$(number_of LABSCSI0000005)" --mode quick \
    --confirm-erase LABSCSI0000005 --yes
swapoff "/dev/$scsi"
kv "hash swap.after LABSCSI0000005 $(disk_md5 "$scsi")"

# 5. The full erase's write rate against dd's on the extra disk; the two take turns after
# a dd pass that warms up, and the checker compares the medians.
big=$(dev_of "$RATE_SERIAL")
n=$(number_of "$RATE_SERIAL")
blocks=$(( $(cat "/sys/block/$big/size") / 256 ))
capture dd.warmup dd if=/dev/zero of="/dev/$big" bs=128K count="$blocks" oflag=direct
for round in 1 2 3; do
    capture "dd.$round" dd if=/dev/zero of="/dev/$big" bs=128K count="$blocks" oflag=direct
    capture_stamped "rate$round.$RATE_SERIAL" palvoro erase "$n" --mode full --confirm-erase "$RATE_SERIAL" --yes
done
capture dd.4 dd if=/dev/zero of="/dev/$big" bs=128K count="$blocks" oflag=direct

# ... and the same disk removed from the system in the middle of a full erase: the other
# disks' hashes must not change.
for serial in LABSATA0000001 LABSATA0000002 LABUSB000003 LABSCSI0000005 LABUAS0000004 LABNVME0000006; do
    kv "hash gone.before $serial $(disk_md5 "$(dev_of "$serial")")"
done
( palvoro erase "$n" --mode full --confirm-erase "$RATE_SERIAL" --yes >/tmp/gone.out 2>/tmp/gone.err
  echo $? >/tmp/gone.rc ) &
waited=0
while ! grep -q '"event":"progress"' /tmp/gone.err 2>/dev/null && [ "$waited" -lt 300 ]; do
    sleep 0.1
    waited=$((waited + 1))
done
sleep 1
echo 1 >"/sys/block/$big/device/delete"
wait
emit "gone.$RATE_SERIAL.out" /tmp/gone.out
emit "gone.$RATE_SERIAL.err" /tmp/gone.err
mark "RC gone.$RATE_SERIAL $(cat /tmp/gone.rc) 0 0"
for serial in LABSATA0000001 LABSATA0000002 LABUSB000003 LABSCSI0000005 LABUAS0000004 LABNVME0000006; do
    kv "hash gone.after $serial $(disk_md5 "$(dev_of "$serial")")"
done
exit 0
