#!/bin/sh
# Measures pellucor-batch against a serial loop of separate Ghostscript runs
# on the corpus of bench/corpus.sh (the samples, gnuplot plots, graphviz
# graphs), in interleaved rounds, and checks that every image is
# byte-identical to the serial loop's. For each way of running it reports the
# median wall-clock seconds, the ratio to the loop, the processor time per
# file (the program and every process it started) and the share of the
# machine's cores that was busy.
#   LARGE=1               the corpus of 374 files rather than 204
#   ROUNDS=n              rounds (3)
#   BASELINE=app-folder   also runs that build's pellucor-batch in every round (old against new)
#   TRACE=1               then where a file's time goes: the median of each phase (PELLUCOR_TRACE)
set -eu
cd "$(dirname "$0")/.."
rounds=${ROUNDS:-3}

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --parallel "$(nproc)" --target pellucor-batch >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/pellucor-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
corpus="$work/corpus"
sh bench/corpus.sh "$corpus" "$([ "${LARGE:-}" = 1 ] && echo large || true)"
count=$(ls "$corpus" | wc -l)
cores=$(nproc)

switches="-dSAFER -dBATCH -dNOPAUSE -sDEVICE=jpeg -dJPEGQ=75 -dDOINTERPOLATE -dGraphicsAlphaBits=4 -dEPSCrop"
now() { date +%s.%N; }
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
# "1m2.5s" as seconds.
seconds() { echo "$1" | awk -F'[ms]' '{ print $1 * 60 + $2 }'; }

serialLoop() {
    for file in "$corpus"/*.eps; do
        # shellcheck disable=SC2086
        gs -q $switches "-sOutputFile=$1/$(basename "$file" .eps).jpg" "$file" >/dev/null 2>&1 || true
    done
}
batch() { # app-folder jobs output
    "$1/pellucor-batch" --quiet --jobs "$2" --quality 75 --output "$3" "$corpus" || true
}

# Runs one way into a fresh folder and appends "wall cpu" to its record: the
# processor time is what the shell's children used, every process they
# waited for included.
measure() { # name command...
    name=$1
    shift
    rm -rf "$work/out-$name"
    mkdir -p "$work/out-$name"
    start=$(now)
    cpu=$( ("$@" "$work/out-$name"; times) | tail -n 1)
    wall=$(echo "$(now) - $start" | bc)
    echo "$wall $(seconds "${cpu% *}") $(seconds "${cpu#* }")" | awk '{ print $1, $2 + $3 }' >> "$work/$name.times"
}

identical() {
    differ=0
    for image in "$work/out-serial"/*.jpg; do
        cmp -s "$image" "$1/$(basename "$image")" || differ=$((differ + 1))
    done
    [ "$(ls "$1" | wc -l)" -eq "$(ls "$work/out-serial" | wc -l)" ] || differ=$((differ + 1))
    [ $differ -eq 0 ] && echo "yes" || echo "NO ($differ differ)"
}

ways="jobs1 jobsN"
[ -n "${BASELINE:-}" ] && ways="$ways baseline1 baselineN"
round=1
while [ "$round" -le "$rounds" ]; do
    measure serial serialLoop
    measure jobs1 batch build/app 1
    measure jobsN batch build/app "$cores"
    if [ -n "${BASELINE:-}" ]; then
        measure baseline1 batch "$BASELINE" 1
        measure baselineN batch "$BASELINE" "$cores"
    fi
    round=$((round + 1))
done

serial=$(cut -d' ' -f1 "$work/serial.times" | median)
echo "Corpus: $count EPS files ($(du -sh "$corpus" | cut -f1)), $(ls "$work/out-serial" | wc -l) images; $cores cores; $rounds rounds, medians"
printf "%-36s %8s %7s %12s %10s %s\n" "run" "seconds" "ratio" "cpu ms/file" "cores used" "byte-identical to serial"
row() { # label name
    wall=$(cut -d' ' -f1 "$work/$2.times" | median)
    cpu=$(cut -d' ' -f2 "$work/$2.times" | median)
    printf "%-36s %8.2f %7.3f %12.1f %9.0f%% %s\n" "$1" "$wall" "$(echo "$wall / $serial" | bc -l)" \
        "$(echo "$cpu * 1000 / $count" | bc -l)" "$(echo "$cpu * 100 / ($wall * $cores)" | bc -l)" \
        "$([ "$2" = serial ] && echo - || identical "$work/out-$2")"
}
row "serial loop of separate gs runs" serial
row "pellucor-batch --jobs 1" jobs1
row "pellucor-batch --jobs $cores" jobsN
if [ -n "${BASELINE:-}" ]; then
    row "baseline --jobs 1" baseline1
    row "baseline --jobs $cores" baselineN
fi

[ "${TRACE:-}" = 1 ] || exit 0
# Where a file's time goes, at one job: the median of each phase, from the
# time stamps of pellucor-batch, its renderer and its writer.
rm -rf "$work/out-trace" && mkdir -p "$work/out-trace"
PELLUCOR_TRACE="$work/trace" build/app/pellucor-batch --quiet --jobs 1 --quality 75 --output "$work/out-trace" "$corpus" || true
echo
echo "Where a file's time goes (--jobs 1, medians, ms):"
sort -n "$work/trace" | awk '
    { at[$2 " " $3 " " $4] = $1 }
    END {
        split("batch sent|renderer received|renderer started|renderer reaped|renderer answered|batch answered", chain, "|")
        for (key in at) {
            split(key, part, " ")
            if (part[1] != "batch" || part[3] != "sent") continue
            id = part[2]
            for (i = 1; i < 6; ++i) {
                split(chain[i], from, " "); split(chain[i + 1], to, " ")
                a = at[from[1] " " id " " from[2]]; b = at[to[1] " " id " " to[2]]
                if (a != "" && b != "") print chain[i] " -> " chain[i + 1] "|" (b - a) * 1000
            }
        }
        for (key in at) {
            split(key, part, " ")
            if (part[1] != "engine" || part[3] != "rendered") continue
            saved = at["writer " part[2] " saved"]
            if (saved != "") print "engine rendered -> writer saved|" (saved - at[key]) * 1000
        }
    }' | sort -t'|' -k1,1 -k2,2n | awk -F'|' '
    $1 != phase { if (n) printf "  %-44s %7.2f\n", phase, v[int((n + 1) / 2)]; phase = $1; n = 0 }
    { v[++n] = $2 }
    END { if (n) printf "  %-44s %7.2f\n", phase, v[int((n + 1) / 2)] }'
