#!/usr/bin/env bash
# Checks what `cmake --install` lays out and what the Debian package holds, from a build
# folder that was built whole (default: build): every file where it belongs and nothing
# else, the programs starting from the staged tree and finding their data there, the
# desktop entries, metainfo and polkit action valid, and lintian content with the package.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "check-install: $*" >&2; exit 1; }

# Where the build put the systemd units: systemd's own folder when pkg-config names it (not
# under the prefix), else lib/systemd/system under the prefix; without its leading slash.
unit_dir() {  # prefix, without its leading slash
  local dir
  dir=$(pkg-config --variable=systemdsystemunitdir systemd 2>/dev/null || true)
  if [ -n "$dir" ]; then echo "${dir#/}"; else echo "$1/lib/systemd/system"; fi
}

expected_files() {  # prefix, without its leading slash
  local p="$1" size
  printf '%s\n' "$(unit_dir "$p")/palvoro-watch.service" "$(unit_dir "$p")/palvoro-watch.timer"
  printf '%s\n' "$p/bin/palvoro" "$p/bin/palvoro-cli" "$p/bin/palvoro-lab" \
    "$p/share/applications/com.example.Palvoro.desktop" "$p/share/applications/com.example.Palvoro.Lab.desktop" \
    "$p/share/metainfo/com.example.Palvoro.metainfo.xml" \
    "$p/share/polkit-1/actions/com.example.Palvoro.policy" \
    "$p/share/palvoro/help.htm" "$p/share/palvoro/smart.htm" "$p/share/palvoro/vhtlogo.gif" \
    "$p/share/man/man1/palvoro.1.gz" "$p/share/man/man1/palvoro-lab.1.gz" "$p/share/man/man1/palvoro-cli.1.gz" \
    "$p/share/doc/palvoro/copyright" "$p/share/doc/palvoro/changelog.gz" \
    "$p/share/lintian/overrides/palvoro"
  for size in 16 22 24 32 48 64 128 256; do
    echo "$p/share/icons/hicolor/${size}x${size}/apps/com.example.Palvoro.png"
  done
}

# The staged program finds its data beside its own folder: started on the simulated
# machine, it writes only the result page's logo into the user's state folder, where a
# program that found no data folder would write the help pages too.
check_finds_data() {  # staged bin folder
  local state="$work/state-$RANDOM" pid waited=0
  local -a as_user=()
  mkdir -p "$state"
  # Root keeps its results in /var/lib/palvoro and never takes a folder from the
  # environment: the user's case is what is checked here, so as root the program runs as
  # nobody, in a state folder of nobody's own.
  if [ "$(id -u)" = 0 ]; then
    chmod 755 "$work"
    chown 65534:65534 "$state"
    as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  fi
  XDG_STATE_HOME="$state" QT_QPA_PLATFORM=offscreen "${as_user[@]}" "$1/palvoro-lab" >/dev/null 2>&1 &
  pid=$!
  # Start-up writes its files before the first window: wait for the logo, a little longer
  # for anything after it, then close the program.
  while [ ! -f "$state/palvoro/vhtlogo.gif" ] && [ "$waited" -lt 200 ] && kill -0 "$pid" 2>/dev/null; do
    sleep 0.1
    waited=$((waited + 1))
  done
  sleep 0.5
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  [ -f "$state/palvoro/vhtlogo.gif" ] || fail "$1/palvoro-lab wrote no logo into its state folder"
  [ ! -e "$state/palvoro/help.htm" ] || fail "$1/palvoro-lab did not find its data folder"
}

# The units as installed name the installed program; systemd-analyze verify checks them
# with ExecStart pointed at the staged copy, which it needs to exist.
check_units() {  # stage, prefix
  local units="$1/$(unit_dir "${2#/}")" copy="$work/units-$RANDOM"
  grep -qx "ExecStart=$2/bin/palvoro-cli watch --textfile /var/lib/prometheus/node-exporter" \
    "$units/palvoro-watch.service" || fail "palvoro-watch.service does not run $2/bin/palvoro-cli"
  if ! command -v systemd-analyze > /dev/null; then
    echo "systemd-analyze not found: the units are not verified (scripts/install-deps.sh installs systemd)"
    return
  fi
  mkdir -p "$copy"
  sed "s|^ExecStart=$2/bin/|ExecStart=$1$2/bin/|" "$units/palvoro-watch.service" > "$copy/palvoro-watch.service"
  cp "$units/palvoro-watch.timer" "$copy/"
  # An unknown key is only a warning to systemd: anything it says is a failure here.
  local said
  said=$(systemd-analyze verify --man=no "$copy/palvoro-watch.service" "$copy/palvoro-watch.timer" 2>&1) \
    || fail "systemd-analyze verify of the units installed under $2: $said"
  [ -z "$said" ] || fail "systemd-analyze verify of the units installed under $2: $said"
}

stage_and_check() {  # prefix
  local prefix="$1" stage="$work/stage${1//\//-}"
  DESTDIR="$stage" cmake --install "$build" --prefix "$prefix" > /dev/null
  diff <(expected_files "${prefix#/}" | sort) <(cd "$stage" && find . -type f | sed 's|^\./||' | sort) \
    || fail "the install under $prefix differs from the expected tree (< expected, > installed)"
  grep -q "<annotate key=\"org.freedesktop.policykit.exec.path\">$prefix/bin/palvoro</annotate>" \
    "$stage$prefix/share/polkit-1/actions/com.example.Palvoro.policy" || fail "the polkit action does not name $prefix/bin/palvoro"
  local bin="$stage$prefix/bin" program
  for program in palvoro palvoro-lab palvoro-cli; do
    "$bin/$program" --help | grep -q "$program" || fail "$program --help"
    "$bin/$program" --version | grep -qx "$program [0-9]*\.[0-9]*\.[0-9]*" || fail "$program --version"
  done
  "$bin/palvoro-cli" --builtin showcase list > "$work/list.txt" || fail "palvoro-cli --builtin showcase list"
  grep -q "Sabik NV2 1TB" "$work/list.txt" || fail "the showcase list misses a drive"
  check_finds_data "$bin"
  check_units "$stage" "$prefix"
  echo "installed under $prefix: $(expected_files x | wc -l) files where they belong; the programs start and find their data"
}

stage_and_check /usr
stage_and_check /opt/palvoro

share="$work/stage-usr/usr/share"
desktop-file-validate "$share"/applications/*.desktop
appstreamcli validate --no-net "$share/metainfo/com.example.Palvoro.metainfo.xml"
dtd=/usr/share/polkit-1/policyconfig-1.dtd
if [ -f "$dtd" ]; then
  xmllint --noout --dtdvalid "$dtd" "$share/polkit-1/actions/com.example.Palvoro.policy"
else
  xmllint --noout "$share/polkit-1/actions/com.example.Palvoro.policy"
fi
echo "desktop entries, metainfo and polkit action: valid"

# The package: what it holds is what the install under /usr holds, its dependencies come
# from the programs, and lintian finds no error or warning.
(cd "$build" && rm -f palvoro_*.deb && cpack -G DEB > "$work/cpack.log") || { cat "$work/cpack.log"; fail "cpack"; }
deb=$(ls "$build"/palvoro_*.deb)
diff <(expected_files usr | sort) <(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./||' | sort) \
  || fail "the package's files differ from the expected tree"
depends=$(dpkg-deb -f "$deb" Depends)
for library in libqt6widgets6 libpugixml1v5 libudev1 qt6-qpa-plugins; do
  [[ "$depends" == *"$library"* ]] || fail "the package does not depend on $library: $depends"
done
echo "$(basename "$deb"): $(dpkg-deb -c "$deb" | awk '$1 !~ /^d/' | wc -l) files; Depends: $depends"
lintian --fail-on error,warning "$deb"
echo "lintian: no error, no warning"
