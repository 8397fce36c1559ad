#!/usr/bin/env bash
# Builds the fuzz targets (<folder>/fuzz/*_fuzz.cpp) with clang, libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer into build-fuzz/ (or
# $ZBX_FUZZ_BUILD) and runs each for SECONDS (default 30) on a copy of its
# seeds (<folder>/fuzz/seeds/<target>/). Prints the executions per target and
# exits 1 if any target found a crash, a leak, a hang or a broken property;
# the input that did it is kept in the run's folder, which is printed.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
dir="${ZBX_FUZZ_BUILD:-build-fuzz}"
CC=clang CXX=clang++ cmake -S . -B "$dir" -DZBX_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$dir" --target fuzz -j"$(nproc)"

work="$(mktemp -d "${TMPDIR:-/tmp}/zbx_fuzz.XXXXXX")"
export HOME="$work"  # the targets never touch the real home directory
export ZBX3D_DATA_PREFIX="$PWD/share"
failed=0
rows=()
for seeds in $(find . -path "./build*" -prune -o -type d -path "*/fuzz/seeds/*" -print | sort); do
  target="$(basename "$seeds")"
  corpus="$work/$target/corpus"
  mkdir -p "$corpus" "$work/$target/findings"
  cp "$seeds"/* "$corpus"/
  log="$work/$target/log"
  status=ok
  if ! "$dir/fuzz/$target" "$corpus" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$work/$target/findings/" >"$log" 2>&1; then
    status=FOUND
    failed=1
    tail -n 40 "$log"
  fi
  execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")"
  cov="$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)"
  rows+=("$(printf '%-22s %12s %8s  %s' "$target" "${execs:-?}" "${cov:-?}" "$status")")
done
printf '%-22s %12s %8s  %s\n' target executions coverage result
printf '%s\n' "${rows[@]}"
if [ "$failed" -ne 0 ]; then
  echo "findings kept in $work"
  exit 1
fi
rm -rf "$work"
