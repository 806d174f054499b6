#!/usr/bin/env bash
# Builds the whole test suite with clang's AddressSanitizer and
# UndefinedBehaviorSanitizer into build-asan (shared with scripts/fuzz.sh) and
# runs it, two tests at a time. Any sanitizer
# report ends the test that made it, and so fails the run; LeakSanitizer runs
# too, with fuzz/lsan.supp hiding only leaks inside Qt and the libraries under it.
# Environment: JOBS (parallel compile jobs, default 2), ORVANE_ASAN_BUILD_DIR
# (another build folder).
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
source scripts/lib/sanitizer-build.sh
cmake --build "$build" -j"${JOBS:-2}"

export ASAN_OPTIONS="halt_on_error=1:abort_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:strict_init_order=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export LSAN_OPTIONS="suppressions=$root/fuzz/lsan.supp:print_suppressions=0"
ctest --test-dir "$build" --output-on-failure -j2
