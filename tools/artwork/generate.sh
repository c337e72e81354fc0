#!/usr/bin/env bash
# Redraws every image of the resource bundle into resources/Resources/ (each still also at twice the resolution,
# as name@2x.ext) and the desktop icon of the Debian package into packaging/linux/icons/<size>/.
# Builds the generator in the project's build folder (configured by `make`), then runs it; the generator needs the
# font "WenQuanYi Micro Hei" (fonts-wqy-microhei) and ImageMagick's `convert` for the GIF and the Windows icons.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${BUILD_DIR:-$root/build}

if [[ ! -f $build/CMakeCache.txt ]]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
flock /tmp/ambrel-build.lock cmake --build "$build" --target ambrel-artwork
"$build/tools/artwork/ambrel-artwork" "$root/resources/Resources" --hicolor "$root/packaging/linux/icons"
echo "artwork written to $root/resources/Resources and $root/packaging/linux/icons"
