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

# palvoro ARGS...: the program on this guest's drives, as JSON, its result page in /tmp.
palvoro() { "$PALVORO" --json --results-dir "$RESULTS" "$@"; }

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
