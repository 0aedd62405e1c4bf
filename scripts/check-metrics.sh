#!/usr/bin/env bash
# Checks what Prometheus reads of PALVORO, from a built folder (default: build): the metrics
# of a history that runs of an ATA and an NVMe drive filled, with promtool check metrics,
# and the example alerting rules with promtool check rules. Skipped when promtool is missing
# (scripts/install-deps.sh installs the prometheus package, which holds it).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
if ! command -v promtool > /dev/null; then
  echo "promtool not found: the metrics and alerting rules are not checked"
  exit 0
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "check-metrics: $*" >&2; exit 1; }
cli="$build/src/palvoro-cli"

# Two small drives whose self-tests take a second on the simulated clock, which here
# follows the wall's: the built-in machines' take minutes.
cat > "$work/machine.json" <<'JSON'
{
  "name": "metrics",
  "drives": [
    {
      "number": 0,
      "identity": {"model": "VHT VH7SAB100", "serial": "VH7K01A2B3C4", "firmware": "A5C0", "sectors": 65536,
                   "rotationRate": 7200},
      "selfTest": {"shortSeconds": 1, "extendedSeconds": 1, "conveyanceSeconds": 1},
      "smart": {"attributes": [
        {"id": 5, "flags": 51, "value": 100, "worst": 100, "threshold": 5},
        {"id": 9, "flags": 18, "value": 98, "worst": 98, "raw": 14230},
        {"id": 194, "flags": 2, "value": 200, "worst": 180, "raw": 34},
        {"id": 197, "flags": 34, "value": 100, "worst": 100, "raw": 5}
      ]}
    },
    {
      "number": 1,
      "transport": "nvme",
      "identity": {"model": "Sabik NV2 1TB", "serial": "SBK2N1T0A4471", "firmware": "S21R0512", "sectors": 65536},
      "nvme": {"selfTest": {"supported": true, "shortSeconds": 1, "extendedMinutes": 1}}
    }
  ]
}
JSON
run() { "$cli" --machine "$work/machine.json" --quiet --state-dir "$work/state" --results-dir "$work/results" "$@"; }
run test extended 1 > /dev/null || fail "the extended test of the ATA drive"
run test quick 2 > /dev/null || fail "the quick test of the NVMe drive"
run metrics > "$work/metrics.prom" || fail "palvoro-cli metrics"
for family in palvoro_drive_info palvoro_ata_pending_sectors palvoro_nvme_available_spare_ratio \
  palvoro_last_run_success palvoro_scan_block_latency_seconds_bucket; do
  grep -q "^$family{" "$work/metrics.prom" || fail "the metrics hold no $family"
done
# promtool prints each lint problem; any is a failure here.
said=$(promtool check metrics < "$work/metrics.prom" 2>&1) || fail "promtool check metrics: $said"
[ -z "$said" ] || fail "promtool check metrics: $said"
echo "metrics: $(grep -c '^palvoro_' "$work/metrics.prom") samples, as promtool wants them"
# The showcase, a drive of every kind, as a watch over it leaves its history.
showcase() { "$cli" --builtin showcase --quiet --state-dir "$work/showcase" "$@"; }
showcase watch > /dev/null || fail "the watch over the showcase"
showcase metrics > "$work/showcase.prom" || fail "palvoro-cli metrics of the showcase"
said=$(promtool check metrics < "$work/showcase.prom" 2>&1) || fail "promtool check metrics (showcase): $said"
[ -z "$said" ] || fail "promtool check metrics (showcase): $said"
echo "showcase metrics: $(grep -c '^palvoro_drive_info{' "$work/showcase.prom") drives, as promtool wants them"
promtool check rules docs/prometheus-alerts.yml > /dev/null || fail "promtool check rules docs/prometheus-alerts.yml"
echo "docs/prometheus-alerts.yml: valid rules"
