#!/usr/bin/env bash
# Sets up, builds and runs the Ovra effects module on Debian 12.
#
#   ./build.sh main   install what is missing, build, and run the main job
#   ./build.sh test   install what is missing, build, and run every test
#
# Environment: BUILD_DIR (default build), OVRA_WERROR=1 to treat warnings as
# errors, OVRA_SANITIZE=address,undefined for a sanitizer build.
set -euo pipefail
cd "$(dirname "$0")"

packages=(cmake ninja-build g++ pkg-config libpng-dev libjpeg62-turbo-dev zlib1g-dev libtiff-dev
          libopenimageio-dev openimageio-tools libtbb-dev
          qt6-base-dev libxcb1-dev libgtest-dev libbenchmark-dev libgimp2.0-dev)
# What only the tests use: the editor the plug-in runs in, and a screen for it.
test_packages=(gimp xvfb xauth x11-utils xdotool)

install_missing() {
  local missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -eq 0 ]; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
  else
    echo "Missing Debian packages: ${missing[*]}" >&2
    echo "Run this script as root, or: sudo apt-get install ${missing[*]}" >&2
    exit 1
  fi
}

build_dir=${BUILD_DIR:-build}

configure() {
  local options=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo)
  [ "${OVRA_WERROR:-0}" = 1 ] && options+=(-DOVRA_WERROR=ON)
  [ -n "${OVRA_SANITIZE:-}" ] && options+=("-DOVRA_SANITIZE=${OVRA_SANITIZE}")
  cmake -S . -B "$build_dir" "${options[@]}" >/dev/null
}

case "${1:-}" in
  main)
    install_missing
    configure
    cmake --build "$build_dir" --target ovra ovra-host
    mkdir -p "$build_dir/out"
    out="$build_dir/out/coffee-bleach-bypass.png"
    "$build_dir/module/ovra-host" apply BleachBypass data/samples/coffee.png "$out" \
      --set contrast=25 --set temperature=-15
    echo "Bleach Bypass applied to data/samples/coffee.png: $out"
    ;;
  test)
    packages+=("${test_packages[@]}")
    install_missing
    configure
    cmake --build "$build_dir"
    ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)" -LE sweep
    ;;
  *)
    echo "usage: $0 main|test" >&2
    exit 2
    ;;
esac
