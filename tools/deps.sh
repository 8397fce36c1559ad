#!/usr/bin/env bash
# Installs the Debian packages Zorbix needs: "tools/deps.sh" what building and
# playing need, "tools/deps.sh test" the test, packaging and checking tools too.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
PKGS="build-essential cmake pkg-config freeglut3-dev libglu1-mesa-dev libopenal-dev libalut-dev
  libzstd-dev libsdl2-dev"
if [ "${1:-}" = "test" ]; then
  PKGS="$PKGS python3 libgtest-dev libgmock-dev libbenchmark-dev xvfb xdotool x11-apps x11-utils
    imagemagick sox dpkg-dev file lintian desktop-file-utils appstream groff man-db systemd
    clang libclang-rt-14-dev qstat"
fi
missing=""
for p in $PKGS; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends $missing
fi
