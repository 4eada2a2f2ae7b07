#!/bin/sh
# Memory of a whole pellucor-batch run over 500 and 5000 small files: it
# should stay flat, whatever the number of files. Sampled while the run goes
# on: the converter's own peak (VmHWM) and the peak of the proportional set
# size (PSS, which shares the pages forked children have in common with their
# warm renderer fairly) of the converter and every process below it.
set -eu
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --parallel "$(nproc)" --target pellucor-batch >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/pellucor-memory.XXXXXX")
trap 'rm -rf "$work"' EXIT

descendants() {
    for child in $(pgrep -P "$1" || true); do
        echo "$child"
        descendants "$child"
    done
}

printf "%8s %10s %16s %22s\n" "files" "seconds" "converter (MB)" "whole run, PSS (MB)"
for count in 500 5000; do
    rm -rf "$work/in" "$work/out"
    mkdir -p "$work/in" "$work/out"
    i=0
    while [ $i -lt $count ]; do
        folder="$work/in/group$((i / 500))"
        mkdir -p "$folder"
        printf '%%!PS-Adobe-3.0 EPSF-3.0\n%%%%BoundingBox: 0 0 60 20\n%%%%EndComments\n0 0 0.6 setrgbcolor 0 4 %d 12 rectfill showpage\n' \
            $((1 + i % 59)) > "$folder/f$i.eps"
        i=$((i + 1))
    done
    start=$(date +%s.%N)
    build/app/pellucor-batch --quiet --output "$work/out" "$work/in" &
    batch=$!
    own_peak=0
    run_peak=0
    while kill -0 $batch 2>/dev/null; do
        hwm=$(awk '/VmHWM/ {print $2}' /proc/$batch/status 2>/dev/null || echo 0)
        [ "${hwm:-0}" -gt "$own_peak" ] && own_peak=$hwm
        total=0
        for pid in $batch $(descendants $batch); do
            pss=$(awk '/^Pss:/ {print $2}' /proc/$pid/smaps_rollup 2>/dev/null || echo 0)
            total=$((total + ${pss:-0}))
        done
        [ "$total" -gt "$run_peak" ] && run_peak=$total
        sleep 0.02
    done
    wait $batch
    seconds=$(echo "$(date +%s.%N) - $start" | bc)
    printf "%8d %10.2f %16.1f %22.1f\n" "$count" "$seconds" "$(echo "$own_peak / 1024" | bc -l)" \
        "$(echo "$run_peak / 1024" | bc -l)"
done
