#!/usr/bin/env bash
# Benchmarks (not tests): the tool against its floor under Wine on generated registries
# of N component keys, and the native cost of the whole cleanup with Google Benchmark.
# Writes docs/bench.tsv and docs/bench.png. Takes long: about 1.5 hours at the default
# sizes and runs on a 2-core machine.
# Usage: bench.sh [sizes=1000,10000,50000] [runs=5]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELKARO_BUILD_DIR:-$root/build}
sizes=${1:-1000,10000,50000}
runs=${2:-5}
jobs=$(nproc)
bash "$root/scripts/install-deps.sh" all
command -v gnuplot >/dev/null || apt-get install -y -qq --no-install-recommends gnuplot-nox >/dev/null

cmake -S "$root" -B "$build/bench" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/bench" -j"$jobs" --target bench_cleanup
mkdir -p "$build/bench/reg"
for n in ${sizes//,/ }; do
    for p in 1 3; do
        /usr/bin/python3 "$root/scripts/bench/genreg.py" "$n" "$build/bench/reg/bench-$n-$p.reg" "$p"
    done
done
"$build/bench/tests/unit/bench_cleanup" "$build/bench/reg" | tee "$build/bench/native.txt"

cmake -S "$root" -B "$build/win64" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/win64" -j"$jobs"
# A run at 50,000 components takes minutes: wait for the result box that long.
VELKARO_E2E_TIMEOUT=3600 /usr/bin/python3 "$root/tests/e2e/e2e.py" --build "$build/win64" --src "$root" \
    --sizes "$sizes" --runs "$runs" \
    --out "$root/docs/bench.tsv" bench
bash "$root/scripts/bench/plot.sh" "$root/docs/bench.tsv" "$root/docs/bench.png"
