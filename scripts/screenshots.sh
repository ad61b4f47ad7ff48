#!/usr/bin/env bash
# Makes the pictures of the three dialogs under docs/ as Wine draws them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELKARO_BUILD_DIR:-$root/build}
bash "$root/scripts/install-deps.sh" all
cmake -S "$root" -B "$build/win64" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/win64" -j"$(nproc)"
/usr/bin/python3 "$root/tests/e2e/e2e.py" --build "$build/win64" --src "$root" screenshots
