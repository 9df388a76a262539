#!/usr/bin/env bash
# Builds Shuffler and its benchmark in Release (build/bench) and runs the
# benchmark; arguments go to it (see bench/posix_shuffle_bench.cpp), e.g.
#   scripts/bench.sh --sizes=1000 --pairs=5 --startup-runs=50
# It prints figures only and takes about five minutes with the defaults.
set -euo pipefail
cd "$(dirname "$0")/.."

SHUFFLER_WINDOWS=0 scripts/setup.sh

cmake --preset bench >/dev/null
cmake --build --preset bench -j2 --target shuffler_bench
echo "== $(nproc) cores, $(lscpu | sed -n 's/^Model name:[[:space:]]*//p')," \
     "temporary folder on $(df -T "${TMPDIR:-/tmp}" | awk 'NR==2 {print $2}')"
exec build/bench/bench/shuffler_bench "$@"
