#!/usr/bin/env bash
# Installs the Debian packages the project builds with, and only those that
# are missing: apt-get runs only when something is.
set -euo pipefail

packages=(
  cmake
  ninja-build
  g++
  googletest            # sources built with each build's own flags
  libbenchmark-dev
  nlohmann-json3-dev    # sim reads machine descriptions in JSON
  g++-mingw-w64-i686    # the Windows x86 product build
  binutils-mingw-w64-i686
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if ((${#missing[@]})); then
  echo "install-deps: installing ${missing[*]}"
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
