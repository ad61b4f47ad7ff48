#!/usr/bin/env bash
# Installs the Debian packages the builds and tests need. Idempotent: packages already
# present are skipped, so repeated runs cost only a dpkg query.
# Usage: install-deps.sh [unit|wine|all]   (default: all)
set -euo pipefail
what=${1:-all}

unit_pkgs=(cmake make g++ libboost-dev libgtest-dev g++-mingw-w64-i686 mingw-w64-i686-dev
           binutils-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-x86-64-dev python3 python3-pefile
           clang libclang-rt-14-dev libbenchmark-dev)
wine_pkgs=(wine wine64 wine32:i386 xvfb xdotool x11-utils wixl msitools fonts-ipafont-gothic
           imagemagick)

pkgs=()
case "$what" in
  unit) pkgs=("${unit_pkgs[@]}") ;;
  wine) pkgs=("${wine_pkgs[@]}") ;;
  all)  pkgs=("${unit_pkgs[@]}" "${wine_pkgs[@]}") ;;
  *) echo "usage: $0 [unit|wine|all]" >&2; exit 2 ;;
esac

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
for p in "${missing[@]}"; do
  case "$p" in *:i386) $SUDO dpkg --add-architecture i386 ;; esac
done
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
