#!/usr/bin/env bash
# Builds the executable a second time in another folder and compares it byte for byte.
set -euo pipefail
src=$1 first=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cmake -S "$src" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$dir" --target RemoveVelkaro -j"$(nproc)" >/dev/null
cmp "$first" "$dir/RemoveVelkaro.exe"
echo "identical: $(stat -c %s "$first") bytes"
