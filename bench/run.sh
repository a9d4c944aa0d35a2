#!/usr/bin/env bash
# Builds the benchmark programs (Release, build/bench) and runs them; prints
# one table. Extra arguments go to the benchmark program, e.g.
#   bench/run.sh --benchmark_filter=bunny
# The peers come from Debian packages, installed here when missing; a peer
# whose package cannot be installed is skipped.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build="$root/build/bench"
work="${TMPDIR:-/tmp}/vermelle_bench"
corpus="$root/../shared/corpus"

install_peer() {  # package, file that shows it is installed
  [ -e "$2" ] && return 0
  if command -v apt-get >/dev/null && apt-get install -y "$1" >/dev/null 2>&1; then return 0; fi
  echo "run.sh: package $1 unavailable; its peer is skipped" >&2
}
install_peer libbenchmark-dev /usr/include/benchmark/benchmark.h
install_peer libmeshoptimizer-dev /usr/include/meshoptimizer.h
install_peer draco /usr/bin/draco_encoder
install_peer time /usr/bin/time

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVERMELLE_BENCH=ON -DVERMELLE_TESTS=OFF >/dev/null
cmake --build "$build" --parallel 2 --target vermelle_bench qxtool >/dev/null

mkdir -p "$work"
log="$work/benchmark.log"
corpus_flag=()
[ -d "$corpus" ] && corpus_flag=(--corpus="$corpus")
# The benchmark library's own lines and the readers' chatter go to the log;
# the table is what this script prints.
"$build/bench/vermelle_bench" --work="$work" "${corpus_flag[@]}" --table="$work/table.txt" \
  --benchmark_color=false "$@" >"$log" 2>&1 || { tail -20 "$log"; exit 1; }
cat "$work/table.txt"
echo "(benchmark details: $log)"
