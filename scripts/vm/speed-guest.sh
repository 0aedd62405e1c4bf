#!/bin/sh
# vm-test guest boot "speed": the program's extended test and full erase against fio, on
# whole disks of three transports (SPEED_SERIALS: the unmounted AHCI disk, virtio-SCSI,
# NVMe), which the host enlarged. Per disk and round: fio reads the disk twice (1 MiB x 8
# and 128 KiB x 32 in flight) and the extended test reads it, then fio writes it twice and
# the full erase writes it. The host takes the medians of the rounds.
# Everything written here lands on the guest's throw-away images.
# shellcheck source=scripts/vm/guest-lib.sh
. /extra/guest-lib.sh
# shellcheck disable=SC1091  # written by vm-test.sh for this boot
. /extra/vm-params.sh

find_devices
capture list palvoro list
LIST_FILE=/tmp/list.json
cp /tmp/cap.out "$LIST_FILE"

# A disk timed here must hold no mounted file system: the program would unmount it (or
# refuse), and the comparison would no longer be of the same work.
for serial in $SPEED_SERIALS; do
    dev=$(dev_of "$serial")
    mounts=$(awk -v d="/dev/$dev" 'index($1, d) == 1 { print $1 "@" $2 }' /proc/mounts | tr '\n' ' ')
    kv "mounted $serial ${mounts:-none}"
done

# fio's io_uring engine, unless this guest's kernel refuses it; libaio then. One tiny read
# decides, and the engine is the same for every job of the boot so that the rounds compare.
probe=$(dev_of "$(echo "$SPEED_SERIALS" | awk '{ print $1 }')")
if capture fio.probe fio --name=probe --filename="/dev/$probe" --direct=1 --rw=read --bs=4k --size=4m \
    --ioengine=io_uring --output-format=json; then
    engine=io_uring
else
    engine=libaio
fi
kv "fio_engine $engine"

# fio_job NAME DEV RW BS DEPTH: one fio job over the whole disk, its JSON report as NAME.out.
fio_job() {
    capture "$1" fio --name="$1" --filename="/dev/$2" --direct=1 --rw="$3" --bs="$4" --iodepth="$5" \
        --ioengine="$engine" --output-format=json
}

fio_reads() {
    fio_job "fio.read.1m.$1.r$3" "$2" read 1m 8
    fio_job "fio.read.128k.$1.r$3" "$2" read 128k 32
}
fio_writes() {
    fio_job "fio.write.1m.$1.r$3" "$2" write 1m 8
    fio_job "fio.write.128k.$1.r$3" "$2" write 128k 32
}
program_read() { capture_stamped "extended.$1.r$2" palvoro test extended "$(number_of "$1")" --pace "$SPEED_PACE"; }
program_erase() {
    capture_stamped "erase.full.$1.r$2" palvoro erase "$(number_of "$1")" --mode full --confirm-erase "$1" --yes \
        --pace "$SPEED_PACE"
}

# Uncounted warm-ups. The lab's images are sparse files: the first pass over a disk has the
# host fill its page cache with the file (and allocate the file's blocks, for a write), and
# in a first try that pass was fio's 1 MiB read, at a third of its later rate. So every disk
# is written whole once before anything is timed. Under TCG the first pass through a code path is slower too (QEMU translates
# it then): a short read by both fio jobs, and an extended test of the small UAS disk for
# the program's own code.
for serial in $SPEED_SERIALS; do
    dev=$(dev_of "$serial")
    capture "warmup.fio.write.$serial" fio --name=warmup --filename="/dev/$dev" --direct=1 --rw=write --bs=1m \
        --iodepth=8 --ioengine="$engine" --output-format=json
    capture "warmup.fio.1m.$serial" fio --name=warmup --filename="/dev/$dev" --direct=1 --rw=read --bs=1m \
        --iodepth=8 --ioengine="$engine" --size=256m --output-format=json
    capture "warmup.fio.128k.$serial" fio --name=warmup --filename="/dev/$dev" --direct=1 --rw=read --bs=128k \
        --iodepth=32 --ioengine="$engine" --size=256m --output-format=json
done
capture warmup.extended.LABUAS0000004 palvoro test extended "$(number_of LABUAS0000004)"

# fio and the program take turns: in odd rounds fio goes first, in even rounds the
# program, so that neither always meets the disk straight after the other's pass.
round=1
while [ "$round" -le "$SPEED_ROUNDS" ]; do
    for serial in $SPEED_SERIALS; do
        dev=$(dev_of "$serial")
        if [ $((round % 2)) = 1 ]; then
            fio_reads "$serial" "$dev" "$round"
            program_read "$serial" "$round"
            fio_writes "$serial" "$dev" "$round"
            program_erase "$serial" "$round"
        else
            program_read "$serial" "$round"
            fio_reads "$serial" "$dev" "$round"
            program_erase "$serial" "$round"
            fio_writes "$serial" "$dev" "$round"
        fi
    done
    round=$((round + 1))
done
exit 0
