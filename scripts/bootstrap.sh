#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need; does nothing when all are present.
set -euo pipefail

packages=(
    cmake ninja-build g++ make pkg-config
    qtbase5-dev qtbase5-dev-tools qttools5-dev-tools libqt5svg5-dev
    libqt5sql5-sqlite qttranslations5-l10n qt5-image-formats-plugins
    libcpp-httplib-dev libssl-dev openssl libcurl4-openssl-dev zlib1g-dev libbrotli-dev
    libbenchmark-dev
    fonts-wqy-microhei
    xvfb xauth x11-utils trayer imagemagick
    g++-mingw-w64-x86-64 wine64
    clang libclang-rt-14-dev
    lintian desktop-file-utils dpkg-dev file xdotool ccache
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if ((${#missing[@]} == 0)); then
    exit 0
fi

echo "bootstrap: installing ${missing[*]}"
SUDO=""
if [[ $(id -u) -ne 0 ]]; then
    SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
