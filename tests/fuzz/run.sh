#!/usr/bin/env bash
# Builds the fuzz targets with clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs each for a while; the target
# "optimiser" is the differential test of the optimiser (mirtolan_difftest:
# random programs built with and without --opt and run in the simulator),
# from a seed of its own each time, which a difference prints.
#
#   tests/fuzz/run.sh [SECONDS [TARGET...]]   (default 60 seconds, every target)
#
# Environment: BUILD=dir (default /tmp/mirtolan-fuzz-build); JOBS=n parallel
# fuzzing jobs per target (default 1). New inputs are kept in
# $BUILD/corpus/<target>, beside the shipped seeds, which stay untouched;
# a crash leaves its input as $BUILD/crash-<target>-* and fails the run.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(compile archive settings optimiser)
build=${BUILD:-/tmp/mirtolan-fuzz-build}

"$root/scripts/deps.sh"
CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMIRTOLAN_FUZZ=ON -DMIRTOLAN_SANITIZE=ON -DMIRTOLAN_GUI=OFF -DBUILD_TESTING=ON >/dev/null
builds=()
for t in "${targets[@]}"; do
  [ "$t" = optimiser ] && builds+=(mirtolan_difftest) || builds+=("fuzz_$t")
done
cmake --build "$build" -j2 --target "${builds[@]}"

status=0
for t in "${targets[@]}"; do
  if [ "$t" = optimiser ]; then
    seed=${SEED:-$(( $(date +%s) % 1000000 * 1000 ))}
    echo "== the optimiser's differential test for ${seconds}s from seed $seed"
    if ! ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS="suppressions=$root/tests/sim/lsan.supp" \
         "$build/bin/mirtolan_difftest" --seconds "$seconds" --seed "$seed" --keep "$build/difftest"; then
      echo "the optimiser's differential test FAILED; the program is kept in $build/difftest"
      status=1
    fi
    continue
  fi
  mkdir -p "$build/corpus/$t"
  echo "== fuzz_$t for ${seconds}s"
  # Inputs stay small: the bad-input tests cover the huge ones, and small
  # inputs let the fuzzer try many more of them.
  # Parallel jobs write their own logs (fuzz-N.log in $BUILD).
  parallel=()
  [ "${JOBS:-1}" -le 1 ] || parallel=(-fork="$JOBS")
  if ! (cd "$build" && ASAN_OPTIONS=detect_leaks=1 "$build/bin/fuzz_$t" \
        -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$build/crash-$t-" -print_final_stats=1 "${parallel[@]}" \
        "$build/corpus/$t" "$here/corpus/$t" 2>"$build/fuzz-$t.log"); then
    echo "fuzz_$t FAILED; see $build/fuzz-$t.log and $build/crash-$t-*"
    tail -40 "$build/fuzz-$t.log"
    status=1
  else
    grep -E '^stat::(number_of_executed_units|peak_rss_mb)|^#[0-9]+.*DONE' "$build/fuzz-$t.log" || true
  fi
done
exit $status
