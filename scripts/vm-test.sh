#!/usr/bin/env bash
# Optional check of palvoro-cli on real kernel drives: builds palvoro-cli and runs it inside
# throw-away QEMU guests of the disk lab (AHCI SATA x2, one with a mounted ext4, virtio-SCSI,
# USB bulk-only, USB UAS, NVMe and an empty CD drive), next to smartctl, sg_inq, sg_readcap
# and hdparm in the same guest. Prints one PASS/FAIL line per check and a summary; exits 1
# when any check failed. Not part of CI: it needs the lab (qemu-system-x86, a kernel tree,
# busybox-static; see the lab's README) and python3 on the host.
#
# The boot "speed" is not in the default list, since it lasts about seven minutes under TCG:
# it times the program's extended test and full erase against fio (Debian's fio package on
# this host: apt-get install -y fio) on whole enlarged disks, SATA, virtio-SCSI and NVMe.
# Run it alone with PALVORO_VM_ONLY=speed; the guests' output and its figures
# (speed.figures) are kept after it. Run it while nothing else builds or boots on this
# computer (flock /tmp/palvoro-build.lock ...): the guest uses every core, and a build
# beside it would slow one side of a comparison and not the other.
#
# The boot "bench" is not in the default list either: it lasts about three and a half
# minutes under TCG (the guest 190 to 205 s, two rounds at 2 GiB a disk) and, like speed,
# prints figures that want a quiet computer. It runs palvoro-cli's bench, the extended test
# of every lab disk at once, each enlarged to 2 GiB: `--all` (which must leave out the disk
# whose ext4 the guest mounts, and say why) with two unreadable sectors on the virtio-SCSI
# disk, which must fail with exactly those while the others pass; each disk alone against
# all at once, per-disk rates and the ratio of the bench's total rate to the sum of the
# rates alone, beside dd's on the same disks (under TCG the guest's CPUs are the ceiling,
# and dd's own ratio shows it); and a bench named by serials from which one disk is pulled
# mid-scan (its SCSI device deleted, or an NVMe disk's PCI function removed), which must
# fail alone while the others pass, the program ending by itself with one result-page
# block per disk. Its figures (bench.figures) are kept after it.
#
# The boot "erase-purge" (in the default list; about 31 s under TCG, mostly filling and
# reading back the 256 MiB NVMe disk) tries the drive's own erase commands where QEMU has
# them: `info --json` offers NVMe Format NVM (Secure Erase Settings 1) as the default, the
# format erase leaves every byte zero with the block size unchanged and writes a
# certificate .json and .pdf (the guest gets Qt's offscreen plugin and a font for it),
# Sanitize (which QEMU's controller lacks) is refused with nothing sent, and a SATA disk's
# Host Protected Area is reported by info and by the erase's result. QEMU 7.2's SATA disks
# answer READ NATIVE MAX ADDRESS but abort SET MAX ADDRESS, so hdparm -N sets no HPA here:
# the checks then see a known, empty HPA and the quick erase's last region written, and
# keep the checks of a hidden area's sectors left unwritten for a disk that takes one.
#
# The program runs only inside the guests, on sparse image files that run-guest.sh makes
# in a temporary folder: nothing here opens a disk of this computer.
#
#   scripts/vm-test.sh
#
# Environment:
#   PALVORO_QEMU_LAB   the lab folder (default: ../shared/qemu-lab beside this repository)
#   PALVORO_JOBS       build jobs (default 2)
#   PALVORO_VM_KEEP=1  keep the guests' raw output (kept anyway when a check fails)
#   PALVORO_VM_CLI     a palvoro-cli already built, tried in place of building one
#   PALVORO_VM_ONLY    the boots to run, e.g. "write" (default: identity scan-bad scan-clean write users erase-purge;
#                      also: speed, bench)
#   PALVORO_VM_SPEED_SIZE    speed: size of each timed disk (default 4G, at least 2G)
#   PALVORO_VM_SPEED_ROUNDS  speed: rounds of fio and the program taking turns (default 3)
#   PALVORO_VM_SPEED_PACE    speed: the program's --pace (default auto; deep times a disk
#                            that says it rotates, as the lab's SCSI disk does, at full depth)
#   PALVORO_VM_BENCH_SIZE    bench: size of each disk (default 2G, at least 1G)
#   PALVORO_VM_BENCH_ROUNDS  bench: rounds of the disks alone and at once (default 2)
#   PALVORO_VM_BENCH_PULL    bench: the disk pulled (default LABUSB000003; also LABSATA0000002,
#                            LABUAS0000004, LABNVME0000006)
#   LAB_TIMEOUT        seconds per guest boot, in place of each boot's own limit below
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/.." && pwd)
lab=${PALVORO_QEMU_LAB:-$here/../../shared/qemu-lab}
build=$repo/build-vm
vm=$here/vm

die() { echo "vm-test: $*" >&2; exit 2; }
[ -x "$lab/run-guest.sh" ] || die "no QEMU lab at $lab (set PALVORO_QEMU_LAB)"
command -v python3 >/dev/null || die "python3 is needed to compare the guests' output"
for tool in cmake ninja; do
    command -v "$tool" >/dev/null || die "$tool is needed (scripts/install-deps.sh installs it)"
done

if [ -n "${PALVORO_VM_CLI:-}" ]; then
    cli=$(realpath "$PALVORO_VM_CLI")
    [ -x "$cli" ] || die "PALVORO_VM_CLI: $cli is not executable"
    [ "$(basename "$cli")" = palvoro-cli ] || die "PALVORO_VM_CLI must name a file called palvoro-cli"
    echo "== testing $cli (not built here)"
else
    echo "== building palvoro-cli (Release, $build)"
    cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPALVORO_BUILD_TESTS=OFF >/dev/null
    cmake --build "$build" --target palvoro-cli -j "${PALVORO_JOBS:-2}"
    cli=$build/src/palvoro-cli
    [ -x "$cli" ] || die "no $cli after the build"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/palvoro-vm-test.XXXXXX")
tally=$work/tally
: >"$tally"
keep_work=${PALVORO_VM_KEEP:-0}
# shellcheck disable=SC2317  # called from the trap
finish() {
    local passed failed
    passed=$(grep -c '^PASS$' "$tally" || true)
    failed=$(grep -c '^FAIL$' "$tally" || true)
    echo "== summary: $((passed + failed)) checks, $passed passed, $failed failed"
    if [ "$failed" != 0 ] || [ "$keep_work" = 1 ]; then
        echo "== the guests' output is kept in $work"
    else
        rm -rf "$work"
    fi
}
trap finish EXIT

# Two sectors of the unmounted SATA disk (LABSATA0000002, 256 MiB = 524288 sectors) that
# the extended test must find unreadable, and exactly those:
# - The quick media scan covers two regions of a fifth of the range each
#   (sector_loop.cpp quickRegionLength: min(524288 / 5, 2000000) = 104857 sectors), the
#   first from sector 0, the second from 524288 - 104857 = 419431 to the end
#   (twoRegionPlan). The extended test's full scan (media_scan.cpp, rangePlan) reads every
#   block of the range, so sectors in the second region are read by both scans.
# - The extended test reads 500 random blocks first (random_read.cpp). A bad sector met
#   there would end the test before the full scan with only that block's sectors listed,
#   so both sectors must lie in blocks the random reads skip. The block is
#   (rand() * 65536 + rand()) % 2048 * 256 and nothing seeds rand(): glibc's sequence from
#   seed 1 fixes the blocks. 444222 (block 1735) and 445333 (block 1739) are in blocks that
#   none of the first 4000 draws reaches, so even stray draws before the test cannot bring
#   the random reads there. The "bad-sector plan" check recomputes this on this host's C
#   library, the one the guest runs the program with.
# - Two different blocks: the scan meets two failing reads, and reads sector by sector
#   inside each (bad_sector_recorder.cpp) to name the sector.
# The NVMe disk (LABNVME0000006) has the same 524288 sectors, so the same two sectors are
# made unreadable there too, for its own extended test in the same boot.
bad_sectors="444222 445333"

check() { python3 "$vm/check-results.py" "$@" --tally "$tally" || true; }

# boot NAME SCRIPT TIMEOUT [VAR=VALUE...]: one guest boot; its output goes to NAME.out.
# The time limits are generous: a program run that meets a command the disk cannot finish
# waits out that command's timeout, and the report is worth more than the minutes.
boot() {
    local name=$1 script=$2 timeout=$3 rc=0 start=$SECONDS
    shift 3
    printf '%s\n' "$@" >"$work/vm-params.sh"
    # Bad sectors and disk sizes only where a boot asks for them, never from the caller's
    # environment: the checks count on the lab's sizes.
    local settings=(LAB_TIMEOUT="${LAB_TIMEOUT:-$timeout}")
    [ -n "${BOOT_BAD_SECTORS:-}" ] && settings+=(LAB_BAD_SECTORS="$BOOT_BAD_SECTORS")
    [ -n "${BOOT_QEMU_ARGS:-}" ] && settings+=(LAB_QEMU_ARGS="$BOOT_QEMU_ARGS")
    [ -n "${BOOT_MODULES:-}" ] && settings+=(LAB_EXTRA_MODULES="$BOOT_MODULES")
    [ -n "${BOOT_SIZES:-}" ] && settings+=(LAB_SIZES="$BOOT_SIZES")
    echo "== guest boot '$name' (${LAB_TIMEOUT:-$timeout} s at most${BOOT_BAD_SECTORS:+, bad sectors $BOOT_BAD_SECTORS}${BOOT_SIZES:+, disks $BOOT_SIZES})"
    env -u LAB_BAD_SECTORS -u LAB_QEMU_ARGS -u LAB_EXTRA_MODULES -u LAB_SIZES "${settings[@]}" \
        "$lab/run-guest.sh" "$vm/$script" "$vm/guest-lib.sh" "$cli" "$work/vm-params.sh" ${BOOT_EXTRA_FILES:-} \
        >"$work/$name.out" 2>"$work/$name.err" || rc=$?
    grep '^\[lab\] accel' "$work/$name.err" | sed 's/^/   /' || true
    if [ "$rc" = 0 ]; then
        echo "PASS  guest boot $name: finished in $((SECONDS - start)) s"
        echo PASS >>"$tally"
    else
        echo "FAIL  guest boot $name: run-guest.sh status $rc after $((SECONDS - start)) s (125: the guest did not finish)"
        sed 's/^/   /' "$work/$name.err" | tail -n 15
        echo FAIL >>"$tally"
    fi
}

# wanted BOOT: whether PALVORO_VM_ONLY leaves this boot in.
wanted() { case " ${PALVORO_VM_ONLY:-identity scan-bad scan-clean write users erase-purge} " in *" $1 "*) return 0 ;; esac; return 1; }

check plan --bad-sectors "$bad_sectors"

# Detection, identity, SMART (the NVMe health log beside smartctl's), quick tests, an
# ordinary user.
if wanted identity; then
    boot identity identity-guest.sh 1800
    check identity "$work/identity.out"
fi

# The extended test on LABSATA0000002 with its two bad sectors, then the repair of them,
# the extended test on the mounted disk, and the extended test on the NVMe disk with the
# same two sectors unreadable.
if wanted scan-bad; then
    BOOT_BAD_SECTORS="sata1:${bad_sectors// /,} nvme0:${bad_sectors// /,}" boot scan-bad scan-guest.sh 1200 SCAN_MODE=bad "BAD_SECTORS='$bad_sectors'"
    check scan-bad "$work/scan-bad.out" --bad-sectors "$bad_sectors"
fi

# An extra SATA disk of 2 GiB on the board's third AHCI port, for the boots that time a
# pass over a disk (a sparse image: only time is measured).
rate_serial=LABSATA0000007
rate_disk="-drive if=none,id=rate0,file=$work/rate.raw,format=raw,cache=unsafe \
-device ide-hd,bus=ide.2,drive=rate0,model=LAB_SATA_RATE_2G,serial=$rate_serial,rotation_rate=1"

# The same test without bad sectors; then the scan timed against dd on the extra disk.
if wanted scan-clean; then
    truncate -s 2G "$work/rate.raw"
    BOOT_QEMU_ARGS="$rate_disk" boot scan-clean scan-guest.sh 900 SCAN_MODE=clean "RATE_SERIAL=$rate_serial" \
        "EXTRA_SERIALS=$rate_serial"
    rm -f "$work/rate.raw"
    check scan-clean "$work/scan-clean.out" --rate-serial "$rate_serial"
fi

# The writes last: whatever they do stays in this boot's images. The extra disk times the
# full erase against dd and is then removed in the middle of one.
if wanted write; then
    truncate -s 2G "$work/rate.raw"
    mke2fs=$(command -v mke2fs || echo /usr/sbin/mke2fs)
    [ -x "$mke2fs" ] || die "mke2fs is needed for the write boot (e2fsprogs; the lab's setup.sh installs it)"
    BOOT_EXTRA_FILES="$mke2fs" BOOT_QEMU_ARGS="$rate_disk" boot write write-guest.sh 2400 "RATE_SERIAL=$rate_serial" \
        "EXTRA_SERIALS=$rate_serial"
    rm -f "$work/rate.raw"
    check write "$work/write.out" --rate-serial "$rate_serial"
fi

# Users of a disk the kernel lists as no holder: a mounted loop device over the USB disk
# and a program reading its partition, each named in the refusal with the ext4 under them
# intact; a btrfs over two disks (when this host has mkfs.btrfs) refused by its mount.
if wanted users; then
    e2fsck=$(command -v e2fsck || echo /usr/sbin/e2fsck)
    [ -x "$e2fsck" ] || die "e2fsck is needed for the users boot (e2fsprogs; the lab's setup.sh installs it)"
    extra=$e2fsck modules=loop
    mkfs_btrfs=$(command -v mkfs.btrfs || true)
    [ -n "$mkfs_btrfs" ] && extra="$extra $mkfs_btrfs" modules="$modules btrfs"
    BOOT_EXTRA_FILES="$extra" BOOT_MODULES="$modules" boot users users-guest.sh 900
    check users "$work/users.out"
fi

# The drive's own erase commands: NVMe Format on the NVMe disk, its Sanitize refused, an
# HPA on the unmounted SATA disk reported and left unwritten. QEMU 7.2's SATA disks abort
# SET MAX ADDRESS, so hdparm -N sets no HPA there: the checks then ask for an HPA known
# and empty, and say so in a NOTE line.
if wanted erase-purge; then
    # The certificate's page is drawn by Qt on its offscreen platform, with fonts: the
    # guest gets the plugin and one font family, and a font configuration naming them.
    qtpdf=$work/qtpdf
    mkdir -p "$qtpdf/platforms" "$qtpdf/fonts"
    offscreen=$(find /usr/lib -path '*qt6/plugins/platforms/libqoffscreen.so' 2>/dev/null | head -n 1)
    [ -n "$offscreen" ] && cp "$offscreen" "$qtpdf/platforms/"
    cp /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf /usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf \
        /usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf "$qtpdf/fonts/" 2>/dev/null || true
    printf '<?xml version="1.0"?>\n<fontconfig><dir>/extra/qtpdf/fonts</dir><cachedir>/tmp/fontconfig</cachedir></fontconfig>\n' \
        >"$qtpdf/fonts.conf"
    BOOT_EXTRA_FILES="$qtpdf" boot erase-purge erase-purge-guest.sh 600
    check erase-purge "$work/erase-purge.out"
fi

# The program's extended test and full erase timed against fio on three transports, each
# disk enlarged so that a pass lasts long enough to time: the unmounted AHCI disk, the
# virtio-SCSI disk and the NVMe disk (the erase would take the lab's mounted disk from its
# mount; the USB disks are left to the other boots). The target is for what a user
# waits, the whole command, against fio's better job; the full scan's and the zero pass's
# own rates are printed beside it.
if wanted speed; then
    fio=$(command -v fio || true)
    [ -n "$fio" ] || die "fio is needed for the speed boot (Debian's fio package: apt-get install -y fio)"
    speed_size=${PALVORO_VM_SPEED_SIZE:-4G}
    speed_rounds=${PALVORO_VM_SPEED_ROUNDS:-3}
    speed_bytes=$(numfmt --from=iec "$speed_size") || die "PALVORO_VM_SPEED_SIZE: not a size: $speed_size"
    [ "$speed_bytes" -ge $((2 << 30)) ] || die "PALVORO_VM_SPEED_SIZE: at least 2G, or start-up counts too much"
    speed_serials="LABSATA0000002 LABSCSI0000005 LABNVME0000006"
    BOOT_EXTRA_FILES="$fio" BOOT_SIZES="sata1:$speed_size scsi0:$speed_size nvme0:$speed_size" \
        boot speed speed-guest.sh $((600 + speed_rounds * 3 * speed_bytes / (8 << 20))) \
        "SPEED_SERIALS='$speed_serials'" "SPEED_ROUNDS=$speed_rounds" "SPEED_PACE=${PALVORO_VM_SPEED_PACE:-auto}"
    check speed "$work/speed.out" --speed-serials "$speed_serials" --speed-rounds "$speed_rounds" \
        --speed-min-bytes "$speed_bytes" --figures "$work/speed.figures"
    keep_work=1
fi

# The extended test of many disks at once (palvoro-cli's bench), every disk enlarged to
# PALVORO_VM_BENCH_SIZE: `--all` with two unreadable sectors on the virtio-SCSI disk, the
# disks alone against all at once, and a bench named by serials from which one disk is
# pulled. The SCSI disk carries the bad sectors because its failed reads end at once
# (ABORTED COMMAND): on the SATA disk libata's error handling takes seconds over each,
# which would weigh on the timed runs; scan-bad covers the SATA and NVMe disks' bad
# sectors. The same two sectors as there: their blocks are not among those the random
# reads draw on a disk of 2 GiB either (the plan check below recomputes it for the size).
if wanted bench; then
    bench_size=${PALVORO_VM_BENCH_SIZE:-2G}
    bench_rounds=${PALVORO_VM_BENCH_ROUNDS:-2}
    bench_pull=${PALVORO_VM_BENCH_PULL:-LABUSB000003}
    bench_bytes=$(numfmt --from=iec "$bench_size") || die "PALVORO_VM_BENCH_SIZE: not a size: $bench_size"
    [ "$bench_bytes" -ge $((1 << 30)) ] || die "PALVORO_VM_BENCH_SIZE: at least 1G, or start-up counts too much"
    bench_bad=LABSCSI0000005
    # What --all takes: every lab disk but LABSATA0000001, whose ext4 the guest mounts.
    bench_serials="LABSATA0000002 LABSCSI0000005 LABUSB000003 LABUAS0000004 LABNVME0000006"
    bench_pull_serials="LABSATA0000002 LABUSB000003 LABUAS0000004 LABNVME0000006"
    case " $bench_pull_serials " in *" $bench_pull "*) ;;
        *) die "PALVORO_VM_BENCH_PULL: one of $bench_pull_serials" ;;
    esac
    check plan --bad-sectors "$bad_sectors" --plan-sectors $((bench_bytes / 512)) --any-region
    # Passes over the five disks: the first bench, each round's disks alone and bench, the
    # pull; at 16 MiB/s at worst, and the pull's own limit.
    bench_passes=$((2 + 2 * bench_rounds))
    BOOT_BAD_SECTORS="scsi0:${bad_sectors// /,}" \
        BOOT_SIZES="sata1:$bench_size scsi0:$bench_size usb0:$bench_size uas0:$bench_size nvme0:$bench_size" \
        boot bench bench-guest.sh $((900 + bench_passes * 5 * bench_bytes / (16 << 20))) \
        "BENCH_SERIALS='$bench_serials'" "BENCH_BAD_SERIAL=$bench_bad" "BAD_SECTORS='$bad_sectors'" \
        "BENCH_ROUNDS=$bench_rounds" "BENCH_PULL=$bench_pull" "BENCH_PULL_SERIALS='$bench_pull_serials'" \
        "BENCH_PULL_LIMIT=$((300 + bench_bytes / (16 << 20)))"
    check bench "$work/bench.out" --bad-sectors "$bad_sectors" --bench-serials "$bench_serials" \
        --bench-bad "$bench_bad" --bench-pull "$bench_pull" --bench-pull-serials "$bench_pull_serials" \
        --bench-rounds "$bench_rounds" --figures "$work/bench.figures"
    keep_work=1
fi

grep -q '^FAIL$' "$tally" && exit 1
exit 0
