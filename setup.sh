#!/usr/bin/env bash
# Installs what Kel needs to build and test on Debian 12 (run as root; safe to run again).
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
if [ "$(id -u)" -ne 0 ]; then
  echo "setup.sh: run as root (it installs packages with apt-get)" >&2
  exit 1
fi
pkgs=(g++ cmake ninja-build pkg-config
      zlib1g-dev libzstd-dev libssl-dev libcurl4-openssl-dev
      libpng-dev libjpeg-dev libgif-dev libtiff-dev
      googletest libgtest-dev
      python3 tmux gzip zstd coreutils
      imagemagick xvfb xauth xclip)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
