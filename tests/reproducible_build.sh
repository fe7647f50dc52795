#!/usr/bin/env bash
# Builds the Windows executable again in a fresh folder and compares it
# byte for byte with the one given: the same sources give the same bytes.
set -euo pipefail
source_dir=$1
built=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cmake -S "$source_dir" -B "$scratch/build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
cmake --build "$scratch/build" --target update >/dev/null
if cmp "$built" "$scratch/build/update.exe"; then
  echo "identical: $(stat -c %s "$built") bytes"
else
  echo "a second build of the same sources differs" >&2
  exit 1
fi
