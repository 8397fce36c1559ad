#!/usr/bin/env bash
# Installs what is needed, builds and runs the whole test suite: the plain
# build, then the same tests under AddressSanitizer+UndefinedBehaviorSanitizer
# and under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/deps.sh
export HOME="$(mktemp -d)"   # tests never touch the real home directory
tools/build.sh build
(cd build && ctest --output-on-failure -j2 --timeout 900)
