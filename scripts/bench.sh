#!/usr/bin/env bash
# Builds Shuffler and its benchmark in Release (build/bench) and runs the
# benchmark; arguments go to it (see bench/shuffle_bench.cpp), e.g.
#   scripts/bench.sh --sizes=1000 --pairs=5 --startup-runs=50
# It prints figures only and takes about five minutes with the defaults.
#
# Then, where this machine can mount one (the superuser, /dev/fuse,
# ntfs-3g), it runs it again on a fresh NTFS image mounted with ntfs-3g,
# against a bare loop of plain rename() calls, which is all that file system
# takes. SHUFFLER_BENCH_NTFS=0 leaves that out, SHUFFLER_BENCH_NTFS=only runs
# only that; SHUFFLER_BENCH_NTFS_ARGS replaces its arguments.
set -euo pipefail
cd "$(dirname "$0")/.."

SHUFFLER_WINDOWS=0 scripts/setup.sh

cmake --preset bench >/dev/null
cmake --build --preset bench -j2 --target shuffler_bench
bench=build/bench/bench/shuffler_bench
ntfs="${SHUFFLER_BENCH_NTFS:-1}"

if [[ "$ntfs" != only ]]; then
  echo "== $(nproc) cores, $(lscpu | sed -n 's/^Model name:[[:space:]]*//p')," \
       "temporary folder on $(df -T "${TMPDIR:-/tmp}" | awk 'NR==2 {print $2}')"
  "$bench" "$@"
fi
[[ "$ntfs" == 0 ]] && exit 0

if [[ $(id -u) -ne 0 || ! -w /dev/fuse ]] || ! command -v mkntfs >/dev/null ||
   ! command -v ntfs-3g >/dev/null; then
  echo "== SKIPPED: the NTFS benchmark needs the superuser, /dev/fuse and ntfs-3g"
  exit 0
fi
scratch=$(mktemp -d "${TMPDIR:-/tmp}/shuffler-bench-ntfs-XXXXXX")
cleanup() {
  umount "$scratch/mounted" 2>/dev/null || umount -l "$scratch/mounted" || true
  rm -rf "$scratch"
}
trap cleanup EXIT
truncate -s 256M "$scratch/image"
mkntfs -F -f -q "$scratch/image" >/dev/null 2>&1
mkdir "$scratch/mounted"
ntfs-3g "$scratch/image" "$scratch/mounted"
echo "== the same on NTFS: a 256 MiB image mounted with" \
     "$(ntfs-3g --version 2>&1 | head -1)"
# shellcheck disable=SC2206
args=(${SHUFFLER_BENCH_NTFS_ARGS:---sizes=600,3000 --pairs=9,5})
"$bench" --folder="$scratch/mounted" --bare=rename --startup-runs=0 "${args[@]}"
