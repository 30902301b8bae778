#!/bin/sh
# Regenerates every picture the program ships with: assets/ (stage
# background, start animation, icons) and library/ (sample characters,
# things and backgrounds). The results are committed to the repository, and
# the program compiles assets/ in as Qt resources, so run this only after
# changing the drawing code, then commit the changed pictures.
# The output is the same on every run.
set -e
root=$(cd "$(dirname "$0")/../.." && pwd)
cmake -S "$root" -B "$root/build-assets"
cmake --build "$root/build-assets" --target assetgen -j2
QT_QPA_PLATFORM=offscreen "$root/build-assets/assetgen" "$root"
