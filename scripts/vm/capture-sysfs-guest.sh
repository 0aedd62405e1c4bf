#!/bin/sh
# Guest script for the QEMU lab: prints what the Linux backend reads of sysfs and
# /proc for every block device, in the line format the backend's unit tests load
# (test/platform/linux/fake_sys_calls.cpp):
#   L <path> -> <link target as the kernel wrote it>
#   F <path> = <contents, "\n" "\\" and "\xHH" escaped; a last blank as "\x20">
#   D <path>                         (an empty folder)
#   N <path> size=<bytes> ssz=<sector> seq=<diskseq>   (a device node the fake opens)
# Each block device starts with a line "## <name>", so one disk's lines can be cut
# into a fixture of their own; "## mountinfo" and "## ata" follow at the end.
#
#   /work/shared/qemu-lab/run-guest.sh scripts/vm/capture-sysfs-guest.sh
#
# Kernel names move between boots (sda and sdb swap): fixtures are cut by the
# disk's serial number, never by its name.

# The bytes of a file as one escaped line (sysfs values keep their newline).
esc() {
    od -An -v -tx1 "$1" 2>/dev/null | awk '
        BEGIN { for (i = 32; i < 127; i++) chr[sprintf("%02x", i)] = sprintf("%c", i) }
        { for (i = 1; i <= NF; i++) {
            b = $i
            if (b == "5c") printf "\\\\"
            else if (b == "0a") printf "\\n"
            else if (b in chr) printf "%s", chr[b]
            else printf "\\x%s", b } }' | sed 's/ $/\\x20/'
}
file() { [ -r "$1" ] && cat "$1" >/dev/null 2>&1 && printf 'F %s = %s\n' "$1" "$(esc "$1")"; }
link() { [ -L "$1" ] && printf 'L %s -> %s\n' "$1" "$(readlink "$1")"; }
# A folder of links (holders/, slaves/): each link, or the folder itself when empty.
links() {
    [ -d "$1" ] || return
    n=0
    for e in "$1"/*; do [ -L "$e" ] && { link "$e"; n=$((n + 1)); }; done
    [ "$n" = 0 ] && printf 'D %s\n' "$1"
}

# A virtio-blk disk given with LAB_QEMU_ARGS probes after the lab's own drives.
i=0
while [ $i -lt 50 ] && [ -n "${LAB_WAIT_FOR:-}" ] && [ ! -e "/sys/block/$LAB_WAIT_FOR" ]; do
    sleep 0.1; i=$((i + 1))
done

for b in /sys/block/*; do
    name=${b##*/}
    echo "## $name"
    link "$b"
    real=$(readlink -f "$b")
    for a in dev diskseq size removable ro queue/logical_block_size serial nsid; do file "$real/$a"; done
    links "$real/holders"
    links "$real/slaves"
    if [ -L "$real/device" ]; then
        link "$real/device"
        dev=$(readlink -f "$real/device")
        for a in type vendor model rev firmware_rev serial name vpd_pg80; do file "$dev/$a"; done
        # The SCSI host above the device, and the name of its driver.
        host=$(echo "$dev" | sed -n 's|^\(.*/host[0-9][0-9]*\)/.*|\1|p')
        [ -n "$host" ] && file "$host/scsi_host/${host##*/}/proc_name"
        # The USB interface ("2-1:1.0") and the USB device above it.
        intf=$(echo "$dev" | sed -n 's|^\(.*/[0-9][0-9]*-[0-9.]*:[0-9][0-9]*\.[0-9][0-9]*\)/.*|\1|p')
        if [ -n "$intf" ]; then
            link "$intf/driver"
            file "${intf%/*}/idVendor"
            file "${intf%/*}/idProduct"
        fi
    fi
    for p in "$real/$name"*; do
        [ -r "$p/partition" ] || continue
        for a in partition start size dev; do file "$p/$a"; done
        links "$p/holders"
    done
    node=/dev/$name
    if [ -b "$node" ]; then
        bytes=$(( $(cat "$real/size") * 512 ))
        printf 'N %s size=%s ssz=%s seq=%s\n' "$node" "$bytes" "$(cat "$real/queue/logical_block_size")" \
            "$(cat "$real/diskseq" 2>/dev/null || echo 0)"
    fi
done

echo "## ata"
for d in /sys/class/ata_device/dev*; do
    [ -e "$d" ] || continue
    link "$d"
    file "$(readlink -f "$d")/id"
done

echo "## mountinfo"
file /proc/self/mountinfo
file /proc/swaps
