#!/usr/bin/env bash
# Installs what is needed, builds and runs the whole test suite, once per
# suite named in ZBX_TEST_SUITES (default: all of them): "plain", "package"
# (the .deb built and checked, tools/package.sh), "asan" for
# AddressSanitizer+UndefinedBehaviorSanitizer, "tsan" for ThreadSanitizer and
# "fuzz" for every fuzz target, 30 seconds each (tools/fuzz.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/deps.sh test
HOME="$(mktemp -d)"   # tests never touch the real home directory
export HOME
trap 'rm -rf "$HOME"' EXIT

# run_suite BUILD_DIR [CMAKE_ARGS...]: configure, build and run every test there.
run_suite() {
  local dir="$1"
  shift
  echo "== $dir"
  tools/build.sh "$dir" -DBUILD_TESTING=ON "$@"
  (cd "$dir" && ctest --output-on-failure -j2 --timeout 900)
}

for suite in ${ZBX_TEST_SUITES:-plain package asan tsan fuzz}; do
  case "$suite" in
    plain) run_suite build ;;
    package) echo "== build-deb"; tools/package.sh build-deb ;;
    asan) run_suite build-asan -DZBX_SANITIZE=address,undefined -DZBX_BUILD_BENCHMARKS=OFF ;;
    # Mesa's own rasteriser threads are invisible to ThreadSanitizer and slow
    # the instrumented game down past what the GUI tests allow: draw on the
    # calling thread instead.
    tsan) (export LP_NUM_THREADS=0; run_suite build-tsan -DZBX_SANITIZE=thread -DZBX_BUILD_BENCHMARKS=OFF) ;;
    fuzz) echo "== build-fuzz"; tools/fuzz.sh 30 ;;
    *) echo "unknown test suite: $suite" >&2; exit 2 ;;
  esac
done
