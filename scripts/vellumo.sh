#!/usr/bin/env bash
# Sets up, builds, starts and tests Vellumo on Debian 12.
#   scripts/vellumo.sh run    install what is missing, build, start the program
#   scripts/vellumo.sh test   install what is missing, build, run every test
#   scripts/vellumo.sh bench  install what is missing, build, run the benchmarks
#   scripts/vellumo.sh browsercheck  also install Chromium and Firefox, build, show them the video exports
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${VELLUMO_BUILD:-$root/build}
action=${1:-run}

build_packages=(cmake make g++ pkg-config qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins qt6-multimedia-dev libgl-dev
                libgif-dev zlib1g-dev libsqlite3-dev libxcb1-dev libimagequant-dev libavcodec-dev libavformat-dev libswscale-dev libavutil-dev libswresample-dev
                fonts-liberation fonts-dejavu-core fonts-comfortaa qt6-translations-l10n qt6-image-formats-plugins)
test_packages=(xvfb xauth x11-utils openbox wmctrl xdotool imagemagick ffmpeg gifsicle
               desktop-file-utils appstream lintian dpkg-dev man-db util-linux weston qt6-wayland
               shared-mime-info xdg-utils libglib2.0-bin pulseaudio pulseaudio-utils)
# Only for the browser check of the video exports, which runs on request.
browser_packages=(chromium firefox-esr imagemagick ffmpeg python3)

install_missing() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# Builds the named targets, or everything when none is named.
build() {
    local launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
    local targets=() t
    for t in "$@"; do targets+=(--target "$t"); done
    cmake --build "$build" -j"$(nproc)" "${targets[@]}"
}

case "$action" in
run)
    install_missing "${build_packages[@]}"
    build vellumo
    if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
        echo "Built $build/vellumo; no display to start it on (set DISPLAY)." >&2
        exit 1
    fi
    exec "$build/vellumo"
    ;;
test)
    install_missing "${build_packages[@]}" "${test_packages[@]}"
    build
    cd "$build"
    ctest --output-on-failure --timeout 900
    ;;
bench)
    install_missing "${build_packages[@]}"
    build benchmarks
    ;;
browsercheck)
    install_missing "${build_packages[@]}" "${browser_packages[@]}"
    build vellumo
    exec "$root/tools/browsercheck/check.sh" --vellumo "$build/vellumo"
    ;;
*)
    echo "usage: $0 run|test|bench|browsercheck" >&2
    exit 2
    ;;
esac
