#!/usr/bin/env bash
# The tool's main job, shown on a scratch Wine prefix (never your own ~/.wine): builds
# RemoveVelkaro.exe, installs two products of the family and one unrelated product with
# Wine's msiexec, runs the tool, and prints its trace and what it removed. With a display
# of yours (DISPLAY set) you answer the dialogs; otherwise it runs on Xvfb and answers OK.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELKARO_BUILD_DIR:-$root/build}
jobs=$(nproc)
bash "$root/scripts/install-deps.sh" all >&2

cmake -S "$root" -B "$build/win" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/win" -j"$jobs" >/dev/null
echo "Built $build/win/RemoveVelkaro.exe (the product, 32-bit)."

dir="$build/win"
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    # Kernels without 32-bit program support cannot start 32-bit Wine: show the same
    # sources built for 64-bit instead.
    echo "This machine cannot run 32-bit Wine; the demonstration runs a 64-bit build of the same sources."
    cmake -S "$root" -B "$build/win64" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" \
          -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$build/win64" -j"$jobs" >/dev/null
    dir="$build/win64"
fi

interactive=()
if [ -n "${DISPLAY:-}" ] && [ -z "${CI:-}" ] && xdpyinfo >/dev/null 2>&1; then
    interactive=(--interactive)
fi
/usr/bin/python3 "$root/tests/e2e/e2e.py" --build "$dir" --src "$root" "${interactive[@]}" demo
