#!/usr/bin/env bash
# Runs every test: the native unit tests (plain and under AddressSanitizer and
# UndefinedBehaviorSanitizer), short libFuzzer runs, the 32-bit product build with its checks, and the
# end-to-end scenarios under Wine (the product where this machine can run 32-bit Wine,
# and a 64-bit build of the same sources always). Installs what it needs on a fresh
# Debian machine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELKARO_BUILD_DIR:-$root/build}
jobs=$(nproc)

bash "$root/scripts/install-deps.sh" all

summary=()
run_ctest() {
    local dir=$1 log
    log=$(mktemp)
    set +e
    ctest --test-dir "$dir" --output-on-failure -j"$jobs" "${@:2}" 2>&1 | tee "$log"
    local rc=${PIPESTATUS[0]}
    set -e
    summary+=("$(grep -E 'tests passed, [0-9]+ tests failed out of' "$log" | tail -n1) skipped=$(grep -c '(Skipped)' "$log" || true)")
    rm -f "$log"
    return "$rc"
}

status=0
cmake -S "$root" -B "$build/native" -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$build/native" -j"$jobs"
run_ctest "$build/native" || status=1

cmake -S "$root" -B "$build/sanitize" -DCMAKE_BUILD_TYPE=Debug -DVELKARO_SANITIZE=ON >/dev/null
cmake --build "$build/sanitize" -j"$jobs"
run_ctest "$build/sanitize" || status=1

CXX=clang++ cmake -S "$root" -B "$build/fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELKARO_FUZZ=ON >/dev/null
cmake --build "$build/fuzz" -j"$jobs"
run_ctest "$build/fuzz" || status=1

cmake -S "$root" -B "$build/win" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DVELKARO_RUN_FIXTURE="$build/native/tests/unit/run_fixture" >/dev/null
cmake --build "$build/win" -j"$jobs"
run_ctest "$build/win" -j1 || status=1

cmake -S "$root" -B "$build/win64" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DVELKARO_RUN_FIXTURE="$build/native/tests/unit/run_fixture" >/dev/null
cmake --build "$build/win64" -j"$jobs"
run_ctest "$build/win64" -j1 || status=1

passed=0 failed=0 skipped=0
for line in "${summary[@]}"; do
    [[ $line =~ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+)\ skipped=([0-9]+) ]] || continue
    failed=$((failed + BASH_REMATCH[1]))
    skipped=$((skipped + BASH_REMATCH[3]))
    passed=$((passed + BASH_REMATCH[2] - BASH_REMATCH[1] - BASH_REMATCH[3]))
done
echo "total: $passed passed, $failed failed, $skipped skipped"
exit $status
