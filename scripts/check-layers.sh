#!/usr/bin/env bash
# Fails when a file under src/ includes a layer above its own. Layers, bottom up (a layer
# may include itself and those listed before it):
#   protocol  platform  resources  device  discovery  smart  diagnostics  results  store  service  ui/model  ui/widgets  app
# protocol/ (byte order, ATA registers, command blocks, sense data) includes only itself.
# The platform backends sit beside the seam: platform/sim and platform/linux include only
# protocol/, platform/ and themselves, and nothing outside app/ includes a backend.
set -euo pipefail
cd "$(dirname "$0")/../src"

order=(protocol platform resources device discovery smart diagnostics results store service ui/model ui/widgets app)
rank() {
  local i
  for i in "${!order[@]}"; do
    if [ "${order[$i]}" = "$1" ]; then echo "$i"; return; fi
  done
  echo -1
}
# The layer a path (relative to src/) belongs to.
layer_of() {
  case "$1" in
    platform/sim/*) echo platform/sim ;;
    platform/linux/*) echo platform/linux ;;
    ui/model/*) echo ui/model ;;
    ui/widgets/*) echo ui/widgets ;;
    *) echo "${1%%/*}" ;;
  esac
}

bad=0
while IFS= read -r file; do
  from=$(layer_of "$file")
  while IFS= read -r included; do
    [ -e "$included" ] || continue  # a system or generated header
    to=$(layer_of "$included")
    [ "$from" = "$to" ] && continue
    allowed=1
    case "$to" in
      platform/sim|platform/linux)
        [ "$from" = app ] || allowed=0 ;;
      *)
        case "$from" in
          platform/sim|platform/linux)
            [ "$to" = platform ] || [ "$to" = protocol ] || allowed=0 ;;
          *)
            f=$(rank "$from")
            t=$(rank "$to")
            if [ "$f" -lt 0 ] || [ "$t" -lt 0 ] || [ "$t" -gt "$f" ]; then allowed=0; fi ;;
        esac ;;
    esac
    if [ "$allowed" -eq 0 ]; then
      echo "layer rule broken: $file ($from) includes $included ($to)"
      bad=1
    fi
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done < <(find . -name '*.h' -o -name '*.cpp' | sed 's|^\./||' | sort)

# palvoro-cli is a front end of the run service like the windows, not a user of them.
for file in app/cli*.cpp app/cli*.h app/console_*.cpp app/console_*.h app/drive_naming.* app/app_context.h app/main_cli.cpp; do
  if grep -q '^[[:space:]]*#[[:space:]]*include[[:space:]]*"ui/' "$file"; then
    echo "layer rule broken: $file (palvoro-cli) includes ui/"
    bad=1
  fi
done

if [ "$bad" -ne 0 ]; then exit 1; fi
echo "layers: every include points down"
