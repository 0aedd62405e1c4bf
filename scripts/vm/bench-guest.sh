#!/bin/sh
# vm-test guest boot "bench": the extended test of many disks at once, on disks the host
# enlarged, with two unreadable sectors on one of them (BENCH_BAD_SERIAL, BAD_SECTORS).
#   1. `test extended --all`: every disk but the one whose ext4 the lab mounts, which --all
#      must leave out and name
#   2. BENCH_ROUNDS rounds of the extended test of each disk alone and of `--all`, for the
#      bench's rate against the sum of the single disks' rates, and the same of dd
#   3. a bench of the disks named by serial (BENCH_PULL_SERIALS, the disk with bad sectors
#      left out so that every disk but the pulled one has a clean outcome to show), and one
#      of them (BENCH_PULL) removed as a pull looks to the kernel once every disk scans
# Nothing here writes a disk. The pull goes last: the disk does not come back.
# shellcheck source=scripts/vm/guest-lib.sh
. /extra/guest-lib.sh
# shellcheck disable=SC1091  # written by vm-test.sh for this boot
. /extra/vm-params.sh

find_devices
kv "bench_bad $BENCH_BAD_SERIAL $BAD_SECTORS"
capture list palvoro list
LIST_FILE=/tmp/list.json
cp /tmp/cap.out "$LIST_FILE"
for serial in $LAB_SERIALS; do
    dev=$(dev_of "$serial")
    mounts=$(awk -v d="/dev/$dev" 'index($1, d) == 1 { print $2 }' /proc/mounts | tr '\n' ' ')
    kv "mounted $serial ${mounts:-none}"
done

# stamped: every line of stdin prefixed by the guest uptime at which it arrived.
stamped() {
    while IFS= read -r line; do
        read -r up _ </proc/uptime
        printf '%s %s\n' "$up" "$line"
    done
}

# 1. Every disk that --all takes, with the bad sectors on one of them. It is also the
# first pass over each disk in this guest, which under TCG is slower (QEMU translates the
# code paths it meets for the first time): it is not timed.
mountinfo_snapshot /tmp/mountinfo.before
capture_stamped bench.bad palvoro test extended --all
mountinfo_snapshot /tmp/mountinfo.after
emit mountinfo.bench.before /tmp/mountinfo.before
emit mountinfo.bench.after /tmp/mountinfo.after
capture results.bench.bad palvoro results

# 2. Alone, then at once (or the other way round), the same disks each time; then dd over
# the same disks alone and at once, for what this guest allows many disks read together
# (under TCG every vCPU and QEMU's own thread share the host's cores). conv=noerror reads
# on past the disk's two unreadable sectors (one MiB skipped at each), as the test does.
singles() {
    for serial in $BENCH_SERIALS; do
        capture_stamped "single.$serial.r$1" palvoro test extended "$(number_of "$serial")"
    done
}
bench_all() { capture_stamped "bench.all.r$1" palvoro test extended --all; }
dd_alone() {
    for serial in $BENCH_SERIALS; do
        capture "dd.$serial.r$1" dd if="/dev/$(dev_of "$serial")" of=/dev/null bs=1M iflag=direct conv=noerror
    done
}
dd_together() {
    t0=$(now)
    for serial in $BENCH_SERIALS; do
        { dd if="/dev/$(dev_of "$serial")" of=/dev/null bs=1M iflag=direct conv=noerror 2>/dev/null
          echo $? >"/tmp/dd.$serial"; } &
    done
    wait
    t1=$(now)
    for serial in $BENCH_SERIALS; do mark "RC dd.all.$serial.r$1 $(cat "/tmp/dd.$serial") $t0 $t1"; done
}
round=1
while [ "$round" -le "$BENCH_ROUNDS" ]; do
    if [ $((round % 2)) = 1 ]; then
        singles "$round"
        bench_all "$round"
        dd_alone "$round"
        dd_together "$round"
    else
        dd_together "$round"
        dd_alone "$round"
        bench_all "$round"
        singles "$round"
    fi
    round=$((round + 1))
done

# 3. The pull. A SCSI-stack disk (SATA, virtio-SCSI, USB) leaves as a hot-unplug leaves:
# its SCSI device deleted. An NVMe disk leaves with its PCI function, controller and all.
pulled=$(dev_of "$BENCH_PULL")
case $pulled in
    nvme*)
        pci=$(basename "$(readlink -f "/sys/block/$pulled/device/device")")
        how="pci $pci"
        pull() { echo 1 >"/sys/bus/pci/devices/$pci/remove"; } ;;
    *)
        how="scsi /sys/block/$pulled/device/delete"
        pull() { echo 1 >"/sys/block/$pulled/device/delete"; } ;;
esac
args=
for serial in $BENCH_PULL_SERIALS; do args="$args --serial $serial"; done
t0=$(now)
# The program itself in the background (not through a function), so that its own id is
# known should it hang.
# shellcheck disable=SC2086  # one word per option
( {
    "$PALVORO" --json --results-dir "$RESULTS" test extended $args 2>&1 >/tmp/pull.out &
    echo $! >/tmp/pull.pid
    wait $!
    echo $? >/tmp/pull.rc
} | stamped >/tmp/pull.err ) &
bench_pid=$!
# Every disk of the bench in its full scan, with a rate: the random reads are behind each.
# The pull follows at once: the NVMe disk's whole pass lasts a few seconds.
scanning() {
    for serial in $BENCH_PULL_SERIALS; do
        grep -q "\"serial\":\"$serial\",\"phase\":\"running\",\"stage\":\"Running Extended Test...\",\"percent\":[0-9]*,\"bytes_per_second\":[0-9]" \
            /tmp/pull.err 2>/dev/null || return 1
    done
}
waited=0
while ! scanning && [ ! -e /tmp/pull.rc ] && [ "$waited" -lt 600 ]; do
    sleep 0.1
    waited=$((waited + 1))
done
t_pull=$(now)
pull
kv "pull $BENCH_PULL $pulled $t_pull $how"
# A bench that outlives every disk's pass by minutes hangs: it is killed, what its threads
# wait on in the kernel is kept, and the check names the hang.
limit=$((BENCH_PULL_LIMIT * 10))
waited=0
while [ ! -e /tmp/pull.rc ] && [ "$waited" -lt "$limit" ]; do
    sleep 0.1
    waited=$((waited + 1))
done
if [ ! -e /tmp/pull.rc ]; then
    kv "pull_hung $BENCH_PULL_LIMIT"
    for task in /proc/"$(cat /tmp/pull.pid)"/task/*; do
        echo "$task $(cat "$task/comm" 2>/dev/null) $(cat "$task/wchan" 2>/dev/null)"
    done >/tmp/hang.txt
    emit pull.hang /tmp/hang.txt
    kill -KILL "$(cat /tmp/pull.pid)"
fi
wait "$bench_pid"
kv "pulled_gone $BENCH_PULL $([ -e "/sys/block/$pulled" ] && echo no || echo yes)"
emit pull.out /tmp/pull.out
emit pull.err /tmp/pull.err
mark "RC pull $(cat /tmp/pull.rc 2>/dev/null || echo 255) $t0 $(now)"
capture results.pull palvoro results
dmesg | tail -n 20 >/tmp/dmesg.tail
emit dmesg.pull /tmp/dmesg.tail
exit 0
