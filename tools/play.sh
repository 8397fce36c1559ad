#!/usr/bin/env bash
# Installs what is needed, builds and starts the game from this checkout.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/deps.sh
tools/build.sh build -DBUILD_TESTING=OFF
export ZBX3D_DATA_PREFIX="$PWD/share"
exec build/zbx3d "$@"
