#!/bin/sh
# Builds and runs the benchmarks; speed is measured here, never in the tests.
set -eu
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --parallel "$(nproc)" --target bench_folderscan >/dev/null
echo "Folder scan (Add All EPS File(s) In Folder):"
build/bench/bench_folderscan
echo
echo "Batch converter against separate Ghostscript runs:"
bench/batch.sh
