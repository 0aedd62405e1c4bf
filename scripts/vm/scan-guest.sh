#!/bin/sh
# vm-test guest boot "scan": the extended test on the unmounted SATA disk (LABSATA0000002).
# With SCAN_MODE=bad the host started the guest with LAB_BAD_SECTORS on that disk and on
# the NVMe disk, and the extended test also runs on the disk whose ext4 is mounted, between
# two copies of /proc/self/mountinfo, and on the NVMe disk, and the repair runs on the
# first disk. With SCAN_MODE=clean it runs once more without bad sectors, and
# the scan's read rate is measured against dd on one disk, the two taking turns.
# shellcheck source=scripts/vm/guest-lib.sh
. /extra/guest-lib.sh
# shellcheck disable=SC1091  # written by vm-test.sh for this boot
. /extra/vm-params.sh

find_devices
kv "scan_mode $SCAN_MODE"
kv "bad_sectors ${BAD_SECTORS:-}"

capture list palvoro list
LIST_FILE=/tmp/list.json
cp /tmp/cap.out "$LIST_FILE"

ssd=$(dev_of LABSATA0000002)
n=$(number_of LABSATA0000002)

if [ "$SCAN_MODE" = clean ]; then
    capture_stamped extended.LABSATA0000002 palvoro test extended "${n:-0}"
    # The read rate is measured on a larger SATA disk that this boot adds (RATE_SERIAL):
    # a pass over the 256 MiB disk lasts under a second, and under TCG single seconds
    # vary by a quarter. The first read of a disk in a fresh guest is slower (QEMU
    # translates the code paths it meets for the first time): one dd pass warms up and is
    # not counted. Then dd and the test take turns, five times each, so that a slow
    # moment of the host hits both alike, and the checker compares the medians.
    big=$(dev_of "$RATE_SERIAL")
    n=$(number_of "$RATE_SERIAL")
    capture dd.warmup dd if="/dev/$big" of=/dev/null bs=128K iflag=direct
    for round in 1 2 3 4 5; do
        capture "dd.$round" dd if="/dev/$big" of=/dev/null bs=128K iflag=direct
        capture_stamped "rate$round.$RATE_SERIAL" palvoro test extended "${n:-0}"
    done
    capture dd.6 dd if="/dev/$big" of=/dev/null bs=128K iflag=direct
    exit 0
fi

# The disk carries a pattern, so that the repair's zeros show where they land.
pattern_setup
fill "$ssd"
capture_stamped extended.LABSATA0000002 palvoro test extended "${n:-0}"
# The repair writes the bad sectors and nothing else; the lab's sectors stay unreadable,
# so the honest outcome is that they could not be repaired. The disk is mapped before and
# after it.
kv "map prerepair LABSATA0000002 $(cat "/sys/block/$ssd/size") $(classify "$ssd")"
capture repair.LABSATA0000002 palvoro test extended "${n:-0}" --repair --confirm-repair LABSATA0000002
kv "map repair LABSATA0000002 $(cat "/sys/block/$ssd/size") $(classify "$ssd")"

n=$(number_of LABSATA0000001)
mountinfo_snapshot /tmp/mountinfo.before
capture extended.LABSATA0000001 palvoro test extended "${n:-0}"
mountinfo_snapshot /tmp/mountinfo.after
emit mountinfo.extended.before /tmp/mountinfo.before
emit mountinfo.extended.after /tmp/mountinfo.after

# The NVMe disk, with the same sectors unreadable.
n=$(number_of LABNVME0000006)
capture_stamped extended.LABNVME0000006 palvoro test extended "${n:-0}"
exit 0
