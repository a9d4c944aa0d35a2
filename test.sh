#!/usr/bin/env bash
# Installs what is missing, builds everything from scratch (or incrementally on
# a second run) and runs every test: a Release build with warnings as errors,
# the unit tests again under AddressSanitizer + UndefinedBehaviorSanitizer,
# the loader's tests under ThreadSanitizer, and every fuzzing harness for
# VERMELLE_FUZZ_SECONDS (default 60) with a fixed seed (FUZZ_SEED, default 1).
set -euo pipefail
cd "$(dirname "$0")"
source scripts/install-deps.sh
install_deps

jobs=$(nproc)
status=0

# A comma-decimal locale built into build/ (the system's locales are left
# alone), so that the tests of number parsing under such a locale run.
locale_dir="$PWD/build/locale"
if [ ! -d "$locale_dir/de_DE.UTF-8" ]; then
  mkdir -p "$locale_dir"
  localedef -i de_DE -f UTF-8 "$locale_dir/de_DE.UTF-8" 2>/dev/null || echo "no de_DE locale: its test is skipped"
fi
export LOCPATH="$locale_dir"

# build_and_test DIR "CTEST ARGS" CMAKE ARGS...
build_and_test() {
  local dir=$1 filter=$2; shift 2
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" --parallel "$jobs"
  (cd "$dir" && ctest --output-on-failure --parallel "$jobs" --timeout 900 $filter) || status=1
}

echo "== Release build (warnings are errors)"
build_and_test build/release "" -DCMAKE_BUILD_TYPE=Release -DVERMELLE_WERROR=ON
echo "== Sanitizer build (address, undefined)"
build_and_test build/asan "" -DCMAKE_BUILD_TYPE=Debug -DVERMELLE_WERROR=ON -DVERMELLE_SANITIZE=ON
echo "== Thread sanitizer build (progressive loading, read-ahead inflation, the metrics pass, the editor's loads)"
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVERMELLE_WERROR=ON -DVERMELLE_TSAN=ON >/dev/null
cmake --build build/tsan --parallel "$jobs" --target scene_tests cli_tests fan_tests app_tests
(cd build/tsan && ctest --output-on-failure --parallel "$jobs" --timeout 900 -R 'FeedSchedule|Feeder|LineRates|ProgressiveLoad|StreamCommand|ThreadPriority|ReadAheadInflater|LargeMeshErrors|SceneWindowTest.AnEmulatedLoad') || status=1

echo "== Fuzzing (${VERMELLE_FUZZ_SECONDS:-60} s per harness)"
FUZZ_SEED=${FUZZ_SEED:-1} fuzz/run.sh "${VERMELLE_FUZZ_SECONDS:-60}" || status=1

exit $status
