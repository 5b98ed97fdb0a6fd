#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (only the missing
# ones). Uses sudo when not run as root.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libssl-dev openssl libexpat1-dev
  clang libclang-rt-14-dev
  libmsi-dev libgcab-dev wixl msitools
  python3 coreutils procps curl iproute2 util-linux passwd
  libfltk1.3-dev xvfb xdotool imagemagick x11-utils x11-apps xclip fonts-dejavu-core
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi
