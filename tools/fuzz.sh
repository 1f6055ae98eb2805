#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) in build-fuzz and runs each one in turn.
#
#   bash tools/fuzz.sh [-t SECONDS | -r RUNS] [TARGET...]
#
#   -t SECONDS   fuzz each target for this long (default 60)
#   -r RUNS      fuzz each target for this many executions instead
#   TARGET       fuzz_profile, fuzz_sysex, fuzz_hextext, fuzz_convert (default: all four)
#
# Each target starts from its seed corpus (tests/fuzz/corpus/<name>) and
# keeps what it finds in build-fuzz/corpus/<target>; an input that crashes,
# leaks, hangs or breaks an invariant is written to build-fuzz/artifacts/.
# Prints executions and time per target; exits non-zero when a target failed,
# after printing the failure and the input (base64) so that a CI log is
# enough to replay it: base64 -d > unit; build-fuzz/tests/fuzz/<target> unit.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${VLX_FUZZ_BUILD_DIR:-$top/build-fuzz}

seconds=60
runs=
while getopts "t:r:h" opt; do
  case "$opt" in
    t) seconds=$OPTARG ;;
    r) runs=$OPTARG ;;
    *) sed -n '2,15p' "$0" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_profile fuzz_sysex fuzz_hextext fuzz_convert)

declare -A seeds=([fuzz_profile]=profile [fuzz_sysex]=sysex [fuzz_hextext]=hextext [fuzz_convert]=convert)
# Longest input tried: a profile of more than 21 records; a SysEx target input
# reaches 128 KiB on its own (see tests/fuzz/SysExFuzz.cpp).
declare -A maxlen=([fuzz_profile]=10000 [fuzz_sysex]=4096 [fuzz_hextext]=4096 [fuzz_convert]=12000)
for t in "${targets[@]}"; do
  [ -n "${seeds[$t]:-}" ] || { echo "unknown target: $t" >&2; exit 2; }
done

mkdir -p "$build"
echo "== building the fuzz targets in $build"
CC=clang CXX=clang++ cmake -S "$top" -B "$build" -G "Unix Makefiles" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVLX_FUZZ=ON -DVLX_SANITIZE=address -DBUILD_TESTING=ON >"$build/configure.log" 2>&1 ||
  { cat "$build/configure.log" >&2; exit 1; }
cmake --build "$build" -j"${VLX_JOBS:-2}" --target vlx_fuzz_targets

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

failed=0
summary=()
for t in "${targets[@]}"; do
  work="$build/corpus/$t"
  mkdir -p "$work" "$build/artifacts"
  log="$build/$t.log"
  limit=(-max_total_time="$seconds")
  [ -n "$runs" ] && limit=(-runs="$runs")
  if [ -n "$runs" ]; then echo "== $t ($runs executions)"; else echo "== $t ($seconds s)"; fi
  start=$(date +%s.%N)
  status=0
  "$build/tests/fuzz/$t" "${limit[@]}" -max_len="${maxlen[$t]}" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$t-" "$work" "$top/tests/fuzz/corpus/${seeds[$t]}" >"$log" 2>&1 || status=$?
  end=$(date +%s.%N)
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  time=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.0f", b - a }')
  if [ "$status" -ne 0 ]; then
    failed=1
    result="FAILED (exit $status, see $log)"
    grep -E "ERROR|invariant failed|terminate called|what\(\)|SUMMARY|Test unit written|^Base64:" "$log" | head -20 | cut -c1-4000 >&2 || true
  else
    result=ok
  fi
  summary+=("$(printf '%-14s %14s executions %8s s %10s exec/s   %s' "$t" "${execs:-?}" "$time" "${rate:-?}" "$result")")
done

echo "== summary"
printf '%s\n' "${summary[@]}"
exit $failed
