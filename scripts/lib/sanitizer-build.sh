# Sourced by scripts/sanitize.sh and scripts/fuzz.sh: both use one clang build
# with AddressSanitizer and UndefinedBehaviorSanitizer, whose library also
# carries libFuzzer's coverage instrumentation, so CI compiles it once for both.
# Sets $build. Environment: ORVANE_ASAN_BUILD_DIR (another build folder).
build="${ORVANE_ASAN_BUILD_DIR:-$root/build-asan}"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_UNITY_BUILD=ON \
  -DORVANE_SANITIZE=address,undefined -DORVANE_BUILD_FUZZ=ON -DORVANE_BUILD_TESTS=ON -DORVANE_BUILD_BENCH=OFF >/dev/null
