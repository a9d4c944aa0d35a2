#!/usr/bin/env bash
# Installs what is missing, builds everything from scratch (or incrementally on
# a second run) and runs every test: a Release build with warnings as errors,
# then the unit tests again under AddressSanitizer + UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/install-deps.sh
install_deps

jobs=$(nproc)
status=0

build_and_test() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" --parallel "$jobs"
  (cd "$dir" && ctest --output-on-failure --parallel "$jobs" --timeout 600) || status=1
}

echo "== Release build (warnings are errors)"
build_and_test build/release -DCMAKE_BUILD_TYPE=Release -DVERMELLE_WERROR=ON
echo "== Sanitizer build (address, undefined)"
build_and_test build/asan -DCMAKE_BUILD_TYPE=Debug -DVERMELLE_WERROR=ON -DVERMELLE_SANITIZE=ON

exit $status
