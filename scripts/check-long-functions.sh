#!/usr/bin/env bash
# Fails when a function under src/ runs over 80 lines without a comment right above it
# that says why it stays long. With -a, lists every function over 80 lines and whether it
# has one. Needs Universal Ctags (its end-of-definition field).
set -euo pipefail
cd "$(dirname "$0")/.."

all=no
[ "${1:-}" = -a ] && all=yes
bad=0
while read -r lines name file line; do
  above=$(awk -v l="$line" 'NR < l && NF { last = $0 } NR == l { print last; exit }' "$file")
  case "$above" in
    *//*) why=yes ;;
    *) why=no; bad=1 ;;
  esac
  if [ $all = yes ] || [ $why = no ]; then printf '%4d lines  %s:%d  %s  comment: %s\n' "$lines" "$file" "$line" "$name" "$why"; fi
done < <(ctags -R --languages=C++ --kinds-C++=f --fields=+ne -x --_xformat='%{line} %{end} %N %F' src |
           awk '$2 - $1 + 1 > 80 { print $2 - $1 + 1, $3, $4, $1 }' | sort -rn)
if [ $bad = 1 ]; then
  echo "long functions: the ones above need splitting or a comment saying why they stay long" >&2
  exit 1
fi
echo "long functions: each one over 80 lines says why"
