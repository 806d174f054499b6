#!/usr/bin/env bash
# Builds the whole test suite with gcc's AddressSanitizer and
# UndefinedBehaviorSanitizer (Debug) into build-asan and runs it. Any sanitizer
# report ends the test that made it, and so fails the run; LeakSanitizer runs
# too, with fuzz/lsan.supp hiding only leaks inside Qt and the libraries under it.
# Environment: JOBS (parallel compile jobs, default 2), ORVANE_ASAN_BUILD_DIR
# (another build folder).
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
build="${ORVANE_ASAN_BUILD_DIR:-$root/build-asan}"

CC=gcc CXX=g++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug \
  -DORVANE_SANITIZE=address,undefined -DORVANE_BUILD_TESTS=ON -DORVANE_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"${JOBS:-2}"

export ASAN_OPTIONS="halt_on_error=1:abort_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:strict_init_order=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export LSAN_OPTIONS="suppressions=$root/fuzz/lsan.supp:print_suppressions=0"
ctest --test-dir "$build" --output-on-failure
