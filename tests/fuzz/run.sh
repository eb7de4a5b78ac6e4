#!/bin/sh
# Builds the fuzz targets with clang and libFuzzer and runs each one for
# SECONDS (default 15), starting from its stored corpus. Prints the
# executions per target; fails when a target breaks, leaving the input that
# broke it under the build folder's artifacts/.
#
#   tests/fuzz/run.sh 15            # what CI runs
#   tests/fuzz/run.sh 3600 quote    # one target, an hour
#
# Inputs that libFuzzer finds are kept in the build folder's work/<target>/,
# never in the repository's corpus; copy one there by hand when it is worth
# keeping.
set -eu
seconds=${1:-15}
[ $# -gt 0 ] && shift
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${VELMORA_FUZZ_BUILD:-$root/build/fuzz}
targets=${*:-telnet dns selection quote dispatch}

cmake -S "$root/tests/fuzz" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# Only a failed build speaks: its errors go to standard error.
if ! cmake --build "$build" -j "${VELMORA_JOBS:-2}" >"$build/build.log" 2>&1; then
  tail -n 40 "$build/build.log" >&2
  echo "fuzz: the build failed (see $build/build.log)" >&2
  exit 1
fi

mkdir -p "$build/artifacts"
status=0
for target in $targets; do
  work="$build/work/$target"
  log="$build/$target.log"
  mkdir -p "$work"
  # Quote files and datagrams need room: a 10000-byte input reaches the
  # 299-separator limit and over-long quotes.
  if "$build/fuzz_$target" -max_total_time="$seconds" -max_len=10000 -timeout=10 -rss_limit_mb=1024 \
      -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-" \
      "$work" "$root/tests/fuzz/corpus/$target" >"$log" 2>&1; then
    result=ok
  else
    result="FAILED (see $log)"
    status=1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  printf 'fuzz %-10s %12s executions in %s s  %s\n' "$target" "${runs:-?}" "$seconds" "$result"
done
exit $status
