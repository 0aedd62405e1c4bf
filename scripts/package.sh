#!/usr/bin/env bash
# Builds the Debian package, build-package/palvoro_<version>_<arch>.deb, with Debian's
# hardening flags and without the tests, then shows what lintian says of it.
#
#   bash scripts/package.sh && sudo apt install ./build-package/palvoro_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

# The flags Debian builds its own packages with, all hardening on; without -g, since the
# package's programs are stripped.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
cxxflags="${cxxflags//-g /}"
ldflags="$(dpkg-buildflags --get LDFLAGS)"

cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DPALVORO_BUILD_TESTS=OFF "-DCMAKE_CXX_FLAGS=$cxxflags" "-DCMAKE_EXE_LINKER_FLAGS=$ldflags"
cmake --build build-package -j "${PALVORO_JOBS:-2}"
(cd build-package && rm -f palvoro_*.deb && cpack -G DEB)
deb=$(ls build-package/palvoro_*.deb)
lintian --fail-on error,warning --display-info "$deb"
echo "Built $deb. Install it with: sudo apt install ./$deb"
