#!/bin/sh
# Builds and runs the benchmarks; speed is measured here, never in the tests.
set -eu
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --parallel "$(nproc)" --target bench_folderscan bench_list >/dev/null
echo "Folder scan (Add All EPS File(s) In Folder):"
build/bench/bench_folderscan
echo
echo "The file list with 10000 entries:"
build/bench/bench_list
echo
echo "Memory of the batch converter:"
bench/batch_memory.sh
echo
echo "Batch converter against separate Ghostscript runs:"
bench/batch.sh
echo
echo "The window's conversion run against separate Ghostscript runs:"
bench/window.sh
