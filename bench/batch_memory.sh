#!/bin/sh
# Peak memory of pellucor-batch over 500 and 5000 small files: it should stay
# flat, whatever the number of files.
set -eu
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --parallel "$(nproc)" --target pellucor-batch >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/pellucor-memory.XXXXXX")
trap 'rm -rf "$work"' EXIT
printf "%8s %10s %16s %18s\n" "files" "seconds" "converter (MB)" "one gs, at most (MB)"
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
    # Peak resident size of the converter itself (VmHWM) and of its
    # Ghostscript interpreters, sampled while the run goes on.
    start=$(date +%s.%N)
    build/app/pellucor-batch --quiet --output "$work/out" "$work/in" &
    batch=$!
    own_peak=0
    gs_peak=0
    while kill -0 $batch 2>/dev/null; do
        hwm=$(awk '/VmHWM/ {print $2}' /proc/$batch/status 2>/dev/null || echo 0)
        [ "${hwm:-0}" -gt "$own_peak" ] && own_peak=$hwm
        for pid in $(pgrep -P $batch gs || true); do
            rss=$(awk '/VmRSS/ {print $2}' /proc/$pid/status 2>/dev/null || echo 0)
            [ "${rss:-0}" -gt "$gs_peak" ] && gs_peak=$rss
        done
        sleep 0.02
    done
    wait $batch
    seconds=$(echo "$(date +%s.%N) - $start" | bc)
    printf "%8d %10.2f %16.1f %18.1f\n" "$count" "$seconds" "$(echo "$own_peak / 1024" | bc -l)" \
        "$(echo "$gs_peak / 1024" | bc -l)"
done
