#!/bin/sh
# vm-test guest boot "erase": a quick and a full erase attempt on every disk, each answered
# with the disk's own serial and --yes, and the first and last 8 MiB of every disk hashed
# before and after. Everything written here lands on the guest's throw-away images.
# shellcheck source=scripts/vm/guest-lib.sh
. /extra/guest-lib.sh

find_devices

# The blank disks get random bytes inside both regions a quick erase would zero (4 MiB
# in, and 2 MiB before the end; the smallest disk's regions are 25.6 MiB long), so that
# zeros written over zeros cannot pass for "unchanged". The two disks with partitions
# already carry their tables and file systems there.
for serial in LABSATA0000002 LABSCSI0000005 LABUAS0000004 LABNVME0000006; do
    dev=$(dev_of "$serial")
    [ -n "$dev" ] || continue
    mib=$(( $(cat "/sys/block/$dev/size") / 2048 ))
    dd if=/dev/urandom of="/dev/$dev" bs=1M count=1 seek=4 oflag=direct 2>/dev/null
    dd if=/dev/urandom of="/dev/$dev" bs=1M count=1 seek=$((mib - 2)) oflag=direct 2>/dev/null
done
sync
echo 3 >/proc/sys/vm/drop_caches

# mounted_mib DEV: "first last" MiB of every mounted partition of DEV. A mounted file
# system writes by itself (ext4 zeroes its inode tables in the background after its first
# mount), so its partition cannot be compared; that it stays mounted is checked instead.
mounted_mib() {
    while read -r _ _ majmin _; do
        part=$(readlink -f "/sys/dev/block/$majmin" 2>/dev/null) || continue
        [ -r "$part/partition" ] || continue
        [ "$(basename "$(dirname "$part")")" = "$1" ] || continue
        start=$(cat "$part/start")
        size=$(cat "$part/size")
        echo "$((start / 2048)) $(((start + size - 1) / 2048))"
    done </proc/self/mountinfo
}

# in_ranges I RANGES: whether MiB I lies in one of the "first last" lines.
in_ranges() { echo "$2" | awk -v i="$1" 'NF == 2 && i >= $1 && i <= $2 { found = 1 } END { exit !found }'; }

# region_md5 DEV FIRST COUNT: "md5:skipped" of COUNT MiB from MiB FIRST, read past the page
# cache, the MiB of mounted partitions left out (and counted).
region_md5() {
    ranges=$(mounted_mib "$1")
    : >/tmp/skipped
    i=$2
    while [ "$i" -lt $(($2 + $3)) ]; do
        if in_ranges "$i" "$ranges"; then
            echo "$i" >>/tmp/skipped
        else
            dd if="/dev/$1" bs=1M skip="$i" count=1 iflag=direct 2>/dev/null
        fi
        i=$((i + 1))
    done >/tmp/region
    echo "$(md5sum </tmp/region | cut -d' ' -f1):$(wc -l </tmp/skipped)"
}

# hashes WHEN: the first and the last 8 MiB of each disk.
hashes() {
    for serial in $LAB_SERIALS; do
        dev=$(dev_of "$serial")
        [ -n "$dev" ] || continue
        mib=$(( $(cat "/sys/block/$dev/size") / 2048 ))
        kv "hash $1 $serial $(region_md5 "$dev" 0 8) $(region_md5 "$dev" $((mib - 8)) 8)"
    done
}

hashes before
mountinfo_snapshot /tmp/mountinfo.before

capture list palvoro list
LIST_FILE=/tmp/list.json
cp /tmp/cap.out "$LIST_FILE"

for serial in $LAB_SERIALS; do
    n=$(number_of "$serial")
    for mode in quick full; do
        capture "erase.$mode.$serial" palvoro erase "${n:-0}" --mode "$mode" --confirm-erase "$serial" --yes
    done
done

sync
echo 3 >/proc/sys/vm/drop_caches
hashes after
mountinfo_snapshot /tmp/mountinfo.after
emit mountinfo.erase.before /tmp/mountinfo.before
emit mountinfo.erase.after /tmp/mountinfo.after
exit 0
