#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests and the demo need.
# Usage: install-deps.sh [GROUP...]   groups: base (default), cross, web, browser, fuzz
# Safe to run again: only missing packages are installed.
set -euo pipefail

groups=("$@")
[ ${#groups[@]} -eq 0 ] && groups=(base)

packages=()
for group in "${groups[@]}"; do
  case "$group" in
    base)
      packages+=(build-essential cmake pkg-config libgtest-dev libgmock-dev
                 libsqlite3-dev sqlite3 libexpat1-dev libcurl4-openssl-dev libssl-dev
                 lighttpd python3 tzdata time clang-format strace) ;;
    cross)  # 32-bit ARM build, run under qemu with the armhf libraries
      packages+=(crossbuild-essential-armhf qemu-user
                 libsqlite3-dev:armhf libgtest-dev:armhf libgmock-dev:armhf
                 libexpat1-dev:armhf libcurl4-openssl-dev:armhf libssl-dev:armhf) ;;
    web)  # npm for the chart page's pinned browser files (scripts/web-deps.sh)
      command -v npm >/dev/null || packages+=(nodejs npm) ;;
    browser)
      packages+=(chromium)
      command -v npm >/dev/null || packages+=(nodejs npm) ;;
    fuzz)
      packages+=(clang libclang-rt-14-dev) ;;
    *) echo "install-deps.sh: unknown group $group" >&2; exit 2 ;;
  esac
done

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive

if printf '%s\n' "${packages[@]}" | grep -q ':armhf$' &&
   ! dpkg --print-foreign-architectures | grep -qx armhf; then
  $sudo dpkg --add-architecture armhf
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

# A mirror may serve a broken index for one architecture or suite (seen:
# "File has unexpected size ... Mirror sync in progress?"). apt then still
# knows the other indexes, so the install below decides whether what we need
# is there; it fails with apt's own message when it is not.
if ! $sudo apt-get update -qq; then
  echo "install-deps.sh: apt-get update reported errors; trying the install with the indexes it has" >&2
fi
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
