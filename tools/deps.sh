#!/usr/bin/env bash
# Installs the Debian packages needed to build, play and test Zorbix.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
PKGS="build-essential cmake pkg-config python3 freeglut3-dev libglu1-mesa-dev libopenal-dev libalut-dev
  libgtest-dev libgmock-dev libbenchmark-dev xvfb xdotool x11-apps x11-utils imagemagick sox"
missing=""
for p in $PKGS; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends $missing
fi
