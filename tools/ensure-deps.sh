#!/usr/bin/env bash
# Installs what the build and the tests need, with apt-get, only when something is missing.
# Safe to run again and again. An archive caught mid-sync fails apt-get update for a while, so
# update and install are each tried a few times before the failure is reported.
set -uo pipefail

packages=(
  cmake ninja-build g++ make libgtest-dev python3 git
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine wine64 fonts-wine xvfb xauth x11-utils imagemagick
  debootstrap
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
log=$(mktemp /tmp/ensure-deps.XXXXXX.log)

# Runs "$@" up to four times, 15 s apart, its output kept in $log.
retry() {
  local try
  for try in 1 2 3 4; do
    "$@" >>"$log" 2>&1 && return 0
    if [ "$try" -lt 4 ]; then
      echo "ensure-deps: failed (try $try of 4), again in 15 s: $*"
      sleep 15
    fi
  done
  return 1
}

# A failed index need not stop the install: the packages are usually still found in the others.
retry $sudo apt-get update -qq ||
  echo "ensure-deps: apt-get update kept failing (log: $log); trying the install with the indexes there are"
if ! retry $sudo apt-get install -y -qq "${missing[@]}"; then
  tail -n 20 "$log" >&2
  echo "ensure-deps: installing ${missing[*]} failed (log: $log)" >&2
  exit 1
fi
rm -f "$log"
