#!/usr/bin/env bash
# Builds the Windows executable again, through the same win32 preset, from
# a copy of the sources in another folder, and compares it byte for byte
# with the one given: the same sources give the same bytes, wherever they
# are built.
set -euo pipefail
source_dir=$1
built=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/src"
tar -C "$source_dir" --exclude=./build --exclude=./.git -cf - . | tar -C "$scratch/src" -xf -
(cd "$scratch/src" && cmake --preset win32 >/dev/null && cmake --build --preset win32 --target update >/dev/null)
if cmp "$built" "$scratch/src/build/win32/update.exe"; then
  echo "identical: $(stat -c %s "$built") bytes"
else
  echo "a second build of the same sources differs" >&2
  exit 1
fi
