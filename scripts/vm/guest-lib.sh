# shellcheck shell=sh
# Sourced by the vm-test guest scripts (busybox sh, as root, inside the QEMU lab guest).
# The guest only gathers: it prints what palvoro-cli and the reference tools say between
# marker lines, and scripts/vm/check-results.py compares them on the host. The guest has
# no JSON tool, and a comparison made on the host can show both sides in full.
#
# Output framing, one marker per line:
#   @@@ BEGIN <name> / @@@ END <name>     a block of text (a command's stdout or stderr)
#   @@@ RC <name> <status> <t0> <t1>      a command's exit status, guest uptime before/after
#   @@@ KV <key> <value...>               one fact

PALVORO=/extra/palvoro-cli
RESULTS=/tmp/palvoro-results
STATE=/tmp/palvoro-state
mkdir -p "$RESULTS"

# The serials the lab gives its disks; kernel names are looked up from these on every boot
# (the two SATA disks probe in parallel and swap names between boots).
LAB_SERIALS="LABSATA0000001 LABSATA0000002 LABSCSI0000005 LABUSB000003 LABUAS0000004 LABNVME0000006"

mark() { printf '@@@ %s\n' "$*"; }
kv() { mark "KV $*"; }
now() { read -r up _ </proc/uptime; echo "$up"; }
trim() { sed -e 's/^[[:space:]]*//' -e 's/[[:space:]]*$//'; }

# emit NAME FILE: the file as a block, closed by a newline of its own.
emit() {
    mark "BEGIN $1"
    if [ -s "$2" ]; then
        cat "$2"
        [ -z "$(tail -c 1 "$2")" ] || echo
    fi
    mark "END $1"
}

# capture NAME COMMAND...: runs the command, then prints its stdout (NAME.out), stderr
# (NAME.err) and status.
capture() {
    name=$1
    shift
    t0=$(now)
    "$@" >/tmp/cap.out 2>/tmp/cap.err
    rc=$?
    t1=$(now)
    emit "$name.out" /tmp/cap.out
    emit "$name.err" /tmp/cap.err
    mark "RC $name $rc $t0 $t1"
    return "$rc"
}

# capture_stamped NAME COMMAND...: as capture, with every stderr line prefixed by the guest
# uptime at which it arrived (the scan's phases are timed from its status lines).
capture_stamped() {
    name=$1
    shift
    t0=$(now)
    { "$@" 2>&1 >/tmp/cap.out; echo $? >/tmp/cap.rc; } |
        while IFS= read -r line; do
            read -r up _ </proc/uptime
            printf '%s %s\n' "$up" "$line"
        done >/tmp/cap.err
    rc=$(cat /tmp/cap.rc)
    t1=$(now)
    emit "$name.out" /tmp/cap.out
    emit "$name.err" /tmp/cap.err
    mark "RC $name $rc $t0 $t1"
    return "$rc"
}

# palvoro ARGS...: the program on this guest's drives, as JSON, its result page and its
# history in /tmp.
palvoro() { "$PALVORO" --json --results-dir "$RESULTS" --state-dir "$STATE" "$@"; }

# serial_of NAME: the serial number of block device NAME, as the kernel or the device
# gives it. usb-storage disks have no vpd_pg80 in sysfs (the kernel reads no VPD pages
# for them), so those are asked with INQUIRY.
serial_of() {
    d=/sys/block/$1/device
    if [ -r "$d/vpd_pg80" ] && [ -s "$d/vpd_pg80" ]; then
        tail -c +5 "$d/vpd_pg80" | tr -d '\000' | trim
    elif [ -r "$d/serial" ]; then
        trim <"$d/serial"
    else
        sg_inq "/dev/$1" 2>/dev/null | sed -n 's/^ *Unit serial number: *//p' | trim
    fi
}

# find_devices: sets DEV_<serial> (kernel name) and SG_<serial> (its sg node, if any) for
# each lab disk, and prints the map.
find_devices() {
    for sys in /sys/block/sd* /sys/block/nvme*n*; do
        [ -e "$sys" ] || continue
        name=${sys##*/}
        serial=$(serial_of "$name")
        case " $LAB_SERIALS ${EXTRA_SERIALS:-} " in *" $serial "*) ;; *) continue ;; esac
        sg=
        [ -d "$sys/device/scsi_generic" ] && sg=$(ls "$sys/device/scsi_generic")
        eval "DEV_$serial=\$name SG_$serial=\$sg"
        kv "dev $serial $name ${sg:--} $(cat "$sys/size")"
    done
    for sys in /sys/block/sr*; do
        [ -e "$sys" ] && kv "optical ${sys##*/} $(trim <"$sys/device/vendor") $(trim <"$sys/device/model")"
    done
}
dev_of() { eval "echo \${DEV_$1:-}"; }
sg_of() { eval "echo \${SG_$1:-}"; }

# list_numbers FILE: "number serial" for each drive of a `list --json` document (the
# document is printed two blanks per level, one key a line: number comes before serial).
list_numbers() {
    awk '
        /^      "number": / { n = $2; sub(",", "", n) }
        /^      "serial": / { s = $0; sub(/^[^:]*: "/, "", s); sub(/",?$/, "", s); gsub(/ /, "", s); print n, s }
    ' "$1"
}

# number_of SERIAL: the drive's number in the last list (LIST_FILE), empty when missing.
number_of() { list_numbers "$LIST_FILE" | awk -v s="$1" '$2 == s { print $1 }'; }

mountinfo_snapshot() { cat /proc/self/mountinfo >"$1"; }

# pattern_setup: a MiB of the pattern (AAh) and of zeros, and their hashes.
pattern_setup() {
    tr '\000' '\252' </dev/zero | head -c 1048576 >/tmp/pattern.mib
    head -c 1048576 /dev/zero >/tmp/zero.mib
    ZERO_MD5=$(md5sum </tmp/zero.mib | cut -d' ' -f1)
    PATTERN_MD5=$(md5sum </tmp/pattern.mib | cut -d' ' -f1)
}

# fill DEV: the pattern over the whole disk, a whole MiB per write past the page cache.
# (Around a sector the lab makes unreadable, 128 KiB stay unwritten all the same: the
# repair's check compares the disk with itself before the repair, not with the pattern.)
fill() {
    mib=$(( $(cat "/sys/block/$1/size") / 2048 ))
    i=0
    while [ "$i" -lt "$mib" ]; do
        dd if=/tmp/pattern.mib of="/dev/$1" bs=1M seek="$i" count=1 oflag=direct 2>/dev/null
        i=$((i + 1))
    done
    echo 3 >/proc/sys/vm/drop_caches
}

# sector_runs DEV FIRST: runs "start-end:Z|P|M" of the 2048 sectors from FIRST (Z zero,
# P pattern, M anything else); a sector that cannot be read counts as zero. FIRST is on a
# MiB. Read with SCSI READ commands through SG_IO (an NVMe disk has none, see below):
# busybox dd falls back to the page cache for a small unaligned buffer, and there a
# read-ahead window that touches an unreadable sector fails whole, taking its readable
# neighbours with it.
sector_runs() {
    : >/tmp/sectors.bin
    at=$2
    case $1 in
        nvme*)
            # No SG_IO on an NVMe disk: the MiB in one direct read (no boot makes a sector
            # of this disk unreadable where its sectors are mapped).
            dd if="/dev/$1" of=/tmp/sectors.bin bs=1M skip=$(($2 / 2048)) count=1 iflag=direct 2>/dev/null
            at=$(($2 + 2048)) ;;
    esac
    while [ "$at" -lt $(($2 + 2048)) ]; do
        # sg_dd stops at the first sector it cannot read: that one counts as zeros, and
        # the reading goes on after it.
        rm -f /tmp/piece.bin
        sg_dd if="/dev/$1" of=/tmp/piece.bin bs=512 bpt=1 skip="$at" count=$(($2 + 2048 - at)) blk_sgio=1 \
            >/dev/null 2>&1
        got=0
        [ -f /tmp/piece.bin ] && got=$(($(wc -c </tmp/piece.bin) / 512)) && cat /tmp/piece.bin >>/tmp/sectors.bin
        at=$((at + got))
        if [ "$at" -lt $(($2 + 2048)) ]; then
            head -c 512 /dev/zero >>/tmp/sectors.bin
            at=$((at + 1))
        fi
    done
    od -An -v -tx1 -w512 /tmp/sectors.bin |
        awk -v base="$2" '
            { c = "M"; line = $0; gsub(/ /, "", line)
              if (line ~ /^(00)+$/) c = "Z"; else if (line ~ /^(aa)+$/) c = "P"
              s = base + NR - 1
              if (c != prev) { if (NR > 1) printf "%d-%d:%s ", start, s, prev; start = s; prev = c } }
            END { printf "%d-%d:%s\n", start, base + NR, prev }'
}

# classify DEV: the whole disk as runs of sectors "start-end:Z|P|M" (end exclusive), by
# MiB, and sector by sector inside a MiB that is neither all zero nor all pattern.
classify() {
    mib=$(( $(cat "/sys/block/$1/size") / 2048 ))
    i=0
    while [ "$i" -lt "$mib" ]; do
        sum=$(dd if="/dev/$1" bs=1M skip="$i" count=1 iflag=direct 2>/dev/null | md5sum | cut -d' ' -f1)
        if [ "$sum" = "$ZERO_MD5" ]; then
            echo "$((i * 2048))-$(((i + 1) * 2048)):Z"
        elif [ "$sum" = "$PATTERN_MD5" ]; then
            echo "$((i * 2048))-$(((i + 1) * 2048)):P"
        else
            sector_runs "$1" $((i * 2048)) | tr ' ' '\n'
        fi
        i=$((i + 1))
    done | awk -F'[-:]' '
        $3 == prev && $1 == end { end = $2; next }
        { if (NR > 1) printf "%d-%d:%s ", start, end, prev; start = $1; end = $2; prev = $3 }
        END { printf "%d-%d:%s\n", start, end, prev }'
}
