#!/bin/sh
# Measures pellucor-batch against a serial loop of separate Ghostscript runs
# on a corpus of 200+ small EPS files (the samples, gnuplot plots, graphviz
# graphs), and checks that every image is byte-identical to the serial loop's.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --parallel "$(nproc)" --target pellucor-batch >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/pellucor-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
corpus="$work/corpus"

sh bench/corpus.sh "$corpus"
count=$(ls "$corpus" | wc -l)

switches="-dSAFER -dBATCH -dNOPAUSE -sDEVICE=jpeg -dJPEGQ=75 -dDOINTERPOLATE -dGraphicsAlphaBits=4 -dEPSCrop"
now() { date +%s.%N; }

mkdir -p "$work/serial" "$work/jobs1" "$work/jobsN"
start=$(now)
for file in "$corpus"/*.eps; do
    # shellcheck disable=SC2086
    gs -q $switches "-sOutputFile=$work/serial/$(basename "$file" .eps).jpg" "$file" >/dev/null 2>&1 || true
done
serial=$(echo "$(now) - $start" | bc)

start=$(now)
build/app/pellucor-batch --quiet --jobs 1 --quality 75 --output "$work/jobs1" "$corpus" || true
jobs1=$(echo "$(now) - $start" | bc)

start=$(now)
build/app/pellucor-batch --quiet --quality 75 --output "$work/jobsN" "$corpus" || true
jobsN=$(echo "$(now) - $start" | bc)

identical() {
    differ=0
    for image in "$work/serial"/*.jpg; do
        cmp -s "$image" "$1/$(basename "$image")" || differ=$((differ + 1))
    done
    [ "$(ls "$1" | wc -l)" -eq "$(ls "$work/serial" | wc -l)" ] || differ=$((differ + 1))
    [ $differ -eq 0 ] && echo "yes" || echo "NO ($differ differ)"
}

echo "Corpus: $count EPS files ($(du -sh "$corpus" | cut -f1)), $(ls "$work/serial" | wc -l) images; $(nproc) cores"
printf "%-34s %9s %8s %s\n" "run" "seconds" "ratio" "byte-identical to serial"
printf "%-34s %9.2f %8.3f %s\n" "serial loop of separate gs runs" "$serial" 1 "-"
printf "%-34s %9.2f %8.3f %s\n" "pellucor-batch --jobs 1" "$jobs1" "$(echo "$jobs1 / $serial" | bc -l)" "$(identical "$work/jobs1")"
printf "%-34s %9.2f %8.3f %s\n" "pellucor-batch (jobs $(nproc))" "$jobsN" "$(echo "$jobsN / $serial" | bc -l)" "$(identical "$work/jobsN")"
