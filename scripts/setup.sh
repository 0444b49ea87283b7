#!/usr/bin/env bash
# Installs the Debian packages the build needs (only those missing), then
# configures and builds WeftLoom into ./build. Safe to run again: an existing
# build folder is reused and only what changed is rebuilt.
#
#   WEFTLOOM_BUILD_DIR   build folder (default: build)
#   WEFTLOOM_CMAKE_ARGS  extra arguments for cmake's configure step
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev
          libjpeg62-turbo-dev libspng-dev libcli11-dev qt6-base-dev help2man)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
fi

build_dir=${WEFTLOOM_BUILD_DIR:-build}
werror=OFF
[ "${CI:-}" = "true" ] && werror=ON
# shellcheck disable=SC2086
cmake -S . -B "$build_dir" -G Ninja -DWEFTLOOM_WERROR=$werror ${WEFTLOOM_CMAKE_ARGS:-} >/dev/null
cmake --build "$build_dir" -j "$(nproc)"
