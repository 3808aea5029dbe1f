#!/usr/bin/env bash
# Configures (once) and builds the given presets: i686, x86_64, release.
set -euo pipefail
cd "$(dirname "$0")/.."
for preset in "$@"; do
  if [ ! -f "build/$preset/build.ninja" ]; then
    cmake --preset "$preset" >/dev/null
  fi
  cmake --build --preset "$preset"
done
