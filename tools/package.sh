#!/usr/bin/env bash
# Builds the Debian package into build-deb/ (or $1) and checks it: lintian, the
# desktop entry, the AppStream data, the manual page and the service unit.
# The game is built the way a player without the test tools builds it:
# GoogleTest and Google Benchmark hidden from CMake.
set -euo pipefail
cd "$(dirname "$0")/.."
dir="${1:-build-deb}"
# Debian's hardening and optimisation flags, as a Debian build would use; no
# compiler banner in the stripped program.
export DEB_BUILD_MAINT_OPTIONS="hardening=+all"
CFLAGS="$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS) -fno-ident"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
cmake -S . -B "$dir" -DCMAKE_C_FLAGS="$CFLAGS" -DCMAKE_CXX_FLAGS="$CXXFLAGS" \
  -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr -DZBX_GAMES_LAYOUT=ON \
  -DBUILD_TESTING=OFF -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON \
  -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON >/dev/null
cmake --build "$dir" -j"$(nproc)"
rm -f "$dir"/zorbix_*.deb
# The package target, as a packager builds it.
cmake --build "$dir" --target package >/dev/null
deb="$(ls "$dir"/zorbix_*.deb)"
echo "== $deb"
if dpkg-deb -c "$deb" | grep -E ' \./usr/(etc|local)/'; then
  echo "$deb: paths under /usr/etc or /usr/local"; exit 1
fi

lintian --fail-on error,warning --info "$deb"
desktop-file-validate dist/zorbix.desktop
appstreamcli validate --no-net dist/*.metainfo.xml
warnings="$(groff -man -ww -z dist/zbx3d.6 2>&1)"
warnings+="$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z dist/zbx3d.6 2>&1 >/dev/null)"
if [ -n "$warnings" ]; then echo "$warnings"; exit 1; fi
if command -v systemd-analyze >/dev/null; then
  # The unit as packaged, pointed at the unpacked program (verify wants it to exist).
  root="$(mktemp -d)"
  trap 'rm -rf "$root"' EXIT
  dpkg -x "$deb" "$root"
  sed "s|/usr/games/zbx3d|$root/usr/games/zbx3d|" "$root/lib/systemd/system/zbx3d-server@.service" \
    > "$root/zbx3d-server@.service"
  systemd-analyze verify --man=no "$root/zbx3d-server@.service"
fi
# The install test outside CTest: its shared helpers are on no path yet.
PYTHONPATH="$PWD/testing/python${PYTHONPATH:+:$PYTHONPATH}" ZBX_DEB="$PWD/$deb" \
  python3 dist/tests/test_install.py -k deb
