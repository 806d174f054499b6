#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-asan (the sanitizer build
# that scripts/sanitize.sh uses too) and runs each one for
# N seconds (first argument, default 30), starting from a copy of its seed
# corpus so that fuzz/corpus stays as committed. Exits non-zero when any target
# crashes, leaks or times out; the input that did it is kept in
# build-asan/crashes/<target>/ and the run's output in build-asan/logs/<target>.log.
# Needs clang and libclang-rt-14-dev (scripts/setup.sh test installs them).
# Environment: JOBS (parallel compile jobs and targets run at once, default 2), FUZZ_TARGETS (a subset,
# space-separated), ORVANE_ASAN_BUILD_DIR (another build folder).
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
seconds="${1:-30}"
targets=(${FUZZ_TARGETS:-fuzz_stream fuzz_parsers fuzz_settings fuzz_image fuzz_replay fuzz_site})

source scripts/lib/sanitizer-build.sh
cmake --build "$build" -j"${JOBS:-2}" --target "${targets[@]}"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$build/logs"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:allocator_may_return_null=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export LSAN_OPTIONS="suppressions=$root/fuzz/lsan.supp:print_suppressions=0"

# Each target runs on one core: JOBS of them (default 2) run side by side.
fuzz_one() {
  local t="$1" log="$build/logs/$1.log"
  mkdir -p "$work/$t" "$build/crashes/$t"
  cp fuzz/corpus/"$t"/* "$work/$t/"
  if "$build/fuzz/$t" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=3072 \
       -print_final_stats=1 -artifact_prefix="$build/crashes/$t/" "$work/$t" >"$log" 2>&1; then
    echo "== $t: ${seconds} s, $(grep -E '^stat::number_of_executed_units' "$log" || tail -n 1 "$log")"
  else
    echo "!! $t failed, see $log"
    grep -E 'ERROR:|runtime error|SUMMARY|Test unit written' "$log" | head -n 10 || true
    touch "$work/$t.failed"
  fi
}
for t in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "${JOBS:-2}" ]; do wait -n || true; done
  fuzz_one "$t" &
done
wait
failed=()
for t in "${targets[@]}"; do
  [ -e "$work/$t.failed" ] && failed+=("$t")
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "Fuzz targets that failed: ${failed[*]}"
  exit 1
fi
echo "All fuzz targets ran clean."
