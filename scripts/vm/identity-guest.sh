#!/bin/sh
# vm-test guest boot "identity": the drive list, each drive's identity and SMART data
# beside smartctl / sg_inq / sg_readcap / hdparm (the NVMe disk's health log between two
# reads of smartctl's), the quick test on both SATA disks (the mounted one with
# /proc/self/mountinfo before and after) and on the NVMe disk, and what an unprivileged
# user gets. Run by scripts/vm-test.sh through the lab's run-guest.sh, never on the host.
# shellcheck source=scripts/vm/guest-lib.sh
. /extra/guest-lib.sh

find_devices

# The reference tools first, on the node found by serial number: they are quick, and
# their answers stay on record even when a slow program run ends the boot early.
for serial in $LAB_SERIALS; do
    dev=$(dev_of "$serial")
    sg=$(sg_of "$serial")
    [ -n "$dev" ] || { kv "missing $serial"; continue; }
    case $serial in
        LABSATA*)
            capture "smartctl.$serial" smartctl --json -i -H -A "/dev/$dev"
            capture "hdparm.$serial" hdparm -I "/dev/$dev" ;;
        LABNVME*)
            capture "smartctl.$serial" smartctl --json -i -H -A "/dev/$dev"
            # The namespace the node is, as the program reads it.
            kv "nvme_nsid $serial $(cat "/sys/block/$dev/nsid" 2>/dev/null || echo none)" ;;
        *)
            capture "sg_inq.$serial" sg_inq "/dev/${sg:-$dev}"
            capture "sg_readcap.$serial" sg_readcap "/dev/${sg:-$dev}" ;;
    esac
done

# Detection must leave the disks alone: libata logs every link it brings up again.
link_resets() { dmesg | grep -c 'SATA link up'; }
kv "link_ups_before_list $(link_resets)"
capture list palvoro list
kv "link_ups_after_list $(link_resets)"
dmesg | grep 'SATA link up' | tail -n 4 >/tmp/links
emit dmesg.links /tmp/links
LIST_FILE=/tmp/list.json
cp /tmp/cap.out "$LIST_FILE"
list_numbers "$LIST_FILE" | while read -r n s; do kv "listed $n $s"; done

# The program's own view of every drive it listed, by number as a user would name it. The
# NVMe disk's health log holds counters that move with every command the disk gets:
# smartctl reads it right before and right after the program does.
nvme_n=$(number_of LABNVME0000006)
nvme_dev=$(dev_of LABNVME0000006)
for n in $(list_numbers "$LIST_FILE" | awk '{ print $1 }'); do
    capture "info.$n" palvoro info "$n"
    [ "$n" = "$nvme_n" ] && capture health-before.LABNVME0000006 smartctl --json -A "/dev/$nvme_dev"
    capture "smart.$n" palvoro smart "$n"
    [ "$n" = "$nvme_n" ] && capture health-after.LABNVME0000006 smartctl --json -A "/dev/$nvme_dev"
done

# Quick tests. The disk with the mounted ext4 keeps every mount as it was.
n=$(number_of LABSATA0000001)
mountinfo_snapshot /tmp/mountinfo.before
capture quick.LABSATA0000001 palvoro test quick "${n:-0}"
mountinfo_snapshot /tmp/mountinfo.after
emit mountinfo.quick.before /tmp/mountinfo.before
emit mountinfo.quick.after /tmp/mountinfo.after

n=$(number_of LABSATA0000002)
capture quick.LABSATA0000002 palvoro test quick "${n:-0}"

# QEMU's NVMe controller has no Device Self-test: the quick test scans instead, and says why.
capture quick.LABNVME0000006 palvoro test quick "${nvme_n:-0}"

# The drives' own logs after the quick tests gave them a self-test each, beside smartctl's
# reading of the same logs.
for serial in LABSATA0000001 LABSATA0000002; do
    n=$(number_of "$serial")
    dev=$(dev_of "$serial")
    [ -n "$n" ] && [ -n "$dev" ] || continue
    capture "logs.$serial" palvoro smart "$n" --logs
    capture "smartctl-logs.$serial" smartctl --json -l selftest -l error "/dev/$dev"
done

# The history the quick tests left: each disk's run and its reading, SMART attributes
# through libata's SAT or the NVMe health log.
for serial in LABSATA0000001 LABSATA0000002 LABNVME0000006; do
    capture "history.$serial" palvoro history --serial "$serial"
done
# What a fleet's monitoring reads of it (promtool checks it on the host), and a watch over
# every disk, which finds nothing worse than the readings the quick tests left.
capture metrics "$PALVORO" --state-dir "$STATE" metrics
capture watch palvoro watch

# An ordinary user. Busybox here has su but no adduser, and the guest has no
# /etc/passwd at all: the user is written in by hand.
printf 'root:x:0:0:root:/root:/bin/sh\nlabuser:x:1000:1000:lab user:/tmp:/bin/sh\n' >/etc/passwd
printf 'root:x:0:\nlabuser:x:1000:\n' >/etc/group
mkdir -p /tmp/user-results
chown 1000:1000 /tmp/user-results
# shellcheck disable=SC2317  # called through capture
as_user() { su labuser -s /bin/sh -c "$*"; }
capture user.id as_user id
user_palvoro="$PALVORO --json --results-dir /tmp/user-results"
capture user.list as_user "$user_palvoro list"
cp /tmp/cap.out /tmp/user-list.json
# The user's own numbering: a user sees fewer drives than root.
n=$(list_numbers /tmp/user-list.json | awk '$2 == "LABSATA0000002" { print $1 }')
capture user.info as_user "$user_palvoro info ${n:-0}"
capture user.extended as_user "$user_palvoro test extended ${n:-0}"
capture user.quick as_user "$user_palvoro test quick ${n:-0}"
exit 0
