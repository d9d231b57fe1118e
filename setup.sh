#!/usr/bin/env bash
# Installs what Kel needs on Debian 12 (run as root; safe to run again): with no argument what
# building and running need; with --tests also the tools the test suite uses (GoogleTest,
# tmux, gzip and zstd, ImageMagick, Xvfb and xclip, GNU time); with --bench the profiler the
# bench notes are made with (perf).
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
tests=false
bench=false
for arg in "$@"; do
  case "$arg" in
    --tests) tests=true ;;
    --bench) bench=true ;;
    *) echo "usage: setup.sh [--tests] [--bench]" >&2; exit 2 ;;
  esac
done
if [ "$(id -u)" -ne 0 ]; then
  echo "setup.sh: run as root (it installs packages with apt-get)" >&2
  exit 1
fi
pkgs=(g++ cmake ninja-build pkg-config python3
      zlib1g-dev libzstd-dev libssl-dev libcurl4-openssl-dev
      libpng-dev libjpeg-dev libgif-dev libtiff-dev)
if $tests; then
  pkgs+=(googletest libgtest-dev tmux gzip zstd coreutils time
         imagemagick xvfb xauth xclip)
fi
if $bench; then
  pkgs+=(linux-perf)
fi
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
