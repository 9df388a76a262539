#!/usr/bin/env bash
# Installs what building and testing Shuffler needs, and only what is missing.
# Safe to run again and again.
set -euo pipefail

# clang and its runtime libraries build the fuzz targets (libFuzzer, with
# AddressSanitizer and UndefinedBehaviorSanitizer); zip and unzip make and
# check the Windows release archive.
packages=(g++ cmake ninja-build clang-format googletest libgtest-dev
          libgmock-dev clang libclang-rt-14-dev zip unzip)
# The Windows file systems the tests mount through FUSE (NTFS, exFAT, FAT32).
packages+=(ntfs-3g exfat-fuse exfatprogs fusefat dosfstools)
# strace counts the programs a run of the real program starts; python3
# starts it by its open file.
packages+=(strace python3)
if [[ "${SHUFFLER_WINDOWS:-1}" == 1 ]]; then
  # python3 runs the parity suite (tests/parity) of the two programs.
  packages+=(g++-mingw-w64-x86-64-posix wine64 python3)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" \
    || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "setup: installing ${missing[*]}"
sudo=""
[[ $(id -u) -ne 0 ]] && sudo=sudo
export DEBIAN_FRONTEND=noninteractive
# A fresh machine may have no package lists yet.
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
