#!/bin/sh
# vm-test guest boot "erase-purge": the drive's own erase commands on the lab's drives.
# QEMU's NVMe controller has Format NVM with Secure Erase Settings 1 and no Sanitize; its
# SATA disks answer READ NATIVE MAX ADDRESS (hdparm -N sets a volatile HPA) and have no
# Security feature set.
#   1. info of the NVMe disk: the methods offered, "format" among them and the default
#   2. the NVMe disk filled with the pattern, erased with --method format: every byte
#      reads back as zero, the logical block size unchanged, a certificate .json and .pdf
#   3. the pattern again, then --method sanitize-block: refused as unsupported, and the
#      pattern reads back unchanged
#   4. the pattern over the last MiB of the SATA disk LABSATA0000002, then a volatile HPA
#      hiding it (hdparm -N): info reports the hidden area, the quick erase's result says
#      what happened to it, and once the HPA is lifted again the hidden MiB still holds
#      the pattern (without --lift-hpa nothing there is written). QEMU 7.2's disks answer
#      READ NATIVE MAX ADDRESS but abort SET MAX ADDRESS (hdparm then reports "HPA is
#      disabled"): the size facts tell the host which case it got.
# shellcheck source=scripts/vm/guest-lib.sh
. /extra/guest-lib.sh

# Where the certificate's page finds Qt's offscreen platform and its fonts.
export QT_QPA_PLATFORM_PLUGIN_PATH=/extra/qtpdf/platforms FONTCONFIG_FILE=/extra/qtpdf/fonts.conf

find_devices
capture list palvoro list
LIST_FILE=/tmp/list.json
cp /tmp/cap.out "$LIST_FILE"
pattern_setup

NVME=LABNVME0000006
SATA=LABSATA0000002
nvme=$(dev_of $NVME)
nvme_number=$(number_of $NVME)
# count_nonzero DEV: the bytes of the whole disk that are not zero, read past the cache.
count_nonzero() { dd if="/dev/$1" bs=1M iflag=direct 2>/dev/null | tr -d '\000' | wc -c | trim; }
# md5_mib DEV MIB: the hash of one MiB of the disk, read past the cache.
md5_mib() { dd if="/dev/$1" bs=1M skip="$2" count=1 iflag=direct 2>/dev/null | md5sum | cut -d' ' -f1; }

# 1. What the NVMe disk offers.
capture info.nvme "$PALVORO" info "$nvme_number" --json

# 2. The format erase.
kv "lbs before $(cat "/sys/block/$nvme/queue/logical_block_size")"
fill "$nvme"
kv "nonzero nvme.filled $(count_nonzero "$nvme")"
rm -rf /tmp/cert
capture erase.format "$PALVORO" erase "$nvme_number" --method format --confirm-erase $NVME \
    --certificate-dir /tmp/cert --json --yes
kv "nonzero nvme.formatted $(count_nonzero "$nvme")"
kv "lbs after $(cat "/sys/block/$nvme/queue/logical_block_size")"
kv "bytes nvme $(($(cat "/sys/block/$nvme/size") * 512))"
for f in /tmp/cert/*; do
    [ -e "$f" ] || continue
    kv "certificate ${f##*/} $(wc -c <"$f" | trim)"
    case $f in *.json) emit certificate.json "$f" ;; esac
done

# 3. Sanitize, which the controller lacks: refused, nothing sent.
dd if=/tmp/pattern.mib of="/dev/$nvme" bs=1M seek=0 count=1 oflag=direct 2>/dev/null
dd if=/tmp/pattern.mib of="/dev/$nvme" bs=1M seek=100 count=1 oflag=direct 2>/dev/null
kv "md5 sanitize.before $(md5_mib "$nvme" 0) $(md5_mib "$nvme" 100) $PATTERN_MD5"
capture erase.sanitize "$PALVORO" erase "$nvme_number" --method sanitize-block --confirm-erase $NVME --json --yes
kv "md5 sanitize.after $(md5_mib "$nvme" 0) $(md5_mib "$nvme" 100) $PATTERN_MD5"

# 4. A volatile HPA over the SATA disk's last MiB, which holds the pattern.
sata=$(dev_of $SATA)
sata_number=$(number_of $SATA)
native=$(cat "/sys/block/$sata/size")
dd if=/tmp/pattern.mib of="/dev/$sata" bs=1M seek=$((native / 2048 - 1)) count=1 oflag=direct 2>/dev/null
capture hdparm.set hdparm -N $((native - 2048)) --yes-i-know-what-i-am-doing "/dev/$sata"
echo 1 >"/sys/block/$sata/device/rescan"
sleep 1
kv "hpa set $native $(cat "/sys/block/$sata/size")"
capture info.sata "$PALVORO" info "$sata_number" --json
capture erase.hpa "$PALVORO" erase "$sata_number" --mode quick --confirm-erase $SATA --json --yes
# Lift it again (volatile: to the native end) and read what was hidden.
capture hdparm.lift hdparm -N "$native" --yes-i-know-what-i-am-doing "/dev/$sata"
echo 1 >"/sys/block/$sata/device/rescan"
sleep 1
kv "hpa lifted $native $(cat "/sys/block/$sata/size")"
kv "md5 hidden $(md5_mib "$sata" $((native / 2048 - 1))) $PATTERN_MD5"
exit 0
