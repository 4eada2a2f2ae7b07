#!/bin/sh
# Measures the window's conversion run (the real window, offscreen, pressing
# "Start Converting To JPG") against a serial loop of separate Ghostscript
# runs with exactly the job script's switches, on the corpus of
# bench/corpus.sh, in interleaved rounds; checks that every image is
# byte-identical to the loop's. A loop of the job's two-line script (gs,
# then rm) beside them shows what its two processes cost, apart from the
# window. BASELINE=path/to/another/build/bench/bench_window
# adds that build's window to every round, to compare old with new;
# ROUNDS=n sets the number of rounds (3).
set -eu
cd "$(dirname "$0")/.."
rounds=${ROUNDS:-3}
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --parallel "$(nproc)" --target bench_window >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/pellucor-window.XXXXXX")
trap 'rm -rf "$work"' EXIT
sh bench/corpus.sh "$work/corpus"
count=$(ls "$work/corpus" | wc -l)

now() { date +%s.%N; }
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# The window's run; its time is the press of the button to the closing message.
window() { # program output-folder
    rm -rf "$2"
    mkdir -p "$2"
    "$1" "$work/corpus" "$2" > "$work/window.out" 2>/dev/null || {
        echo "the window's run failed:" >&2
        cat "$work/window.out" >&2
        exit 1
    }
    awk '/^milliseconds / { print $2 / 1000 }' "$work/window.out"
}

# A first run of each warms the caches, and gives the job's Ghostscript line.
window build/bench/bench_window "$work/new" >/dev/null
switches=$(sed -n 's/^script gs \(.*\) -sOutputFile=current.jpg current.eps$/\1/p' "$work/window.out")
[ -n "$switches" ] || { echo "no Ghostscript line in the job script" >&2; exit 1; }
[ -z "${BASELINE:-}" ] || window "$BASELINE" "$work/old" >/dev/null

loop() {
    rm -rf "$work/serial"
    mkdir -p "$work/serial"
    start=$(now)
    for file in "$work/corpus"/*.eps; do
        # shellcheck disable=SC2086
        gs $switches "-sOutputFile=$work/serial/$(basename "$file" .eps).jpg" "$file" >/dev/null 2>&1 || true
    done
    echo "$(now) - $start" | bc
}

# The same, each gs run from a two-line shell script as the job's, gs then
# rm: what the job's own two processes cost, apart from the window's.
script() {
    rm -rf "$work/script"
    mkdir -p "$work/script"
    printf 'gs %s "-sOutputFile=$1" "$2" >/dev/null 2>&1\nrm -f current.eps\n' "$switches" > "$work/job.sh"
    start=$(now)
    for file in "$work/corpus"/*.eps; do
        (cd "$work/script" && sh "$work/job.sh" "$(basename "$file" .eps).jpg" "$file") || true
    done
    echo "$(now) - $start" | bc
}

identical() {
    differ=0
    for image in "$work/serial"/*.jpg; do
        cmp -s "$image" "$1/$(basename "$image")" || differ=$((differ + 1))
    done
    [ "$(ls "$1" | wc -l)" -eq "$(ls "$work/serial" | wc -l)" ] || differ=$((differ + 1))
    [ $differ -eq 0 ] && echo "yes" || echo "NO ($differ differ)"
}

: > "$work/times"
round=1
rounds_text=""
while [ "$round" -le "$rounds" ]; do
    line="  round $round:"
    for kind in loop script ${BASELINE:+old} new; do
        case $kind in
        loop) seconds=$(loop) ;;
        script) seconds=$(script) ;;
        old) seconds=$(window "$BASELINE" "$work/old") ;;
        new) seconds=$(window build/bench/bench_window "$work/new") ;;
        esac
        echo "$kind $seconds" >> "$work/times"
        line="$line $kind $(printf %.2f "$seconds")"
    done
    rounds_text="$rounds_text$line
"
    round=$((round + 1))
done

loop=$(awk '$1 == "loop" { print $2 }' "$work/times" | median)
echo "Corpus: $count EPS files, $(ls "$work/serial" | wc -l) images; $(nproc) cores; median of $rounds interleaved rounds"
echo "Ghostscript: gs $switches"
printf "%-34s %9s %9s %8s %s\n" "run" "seconds" "ms/file" "ratio" "byte-identical to the loop"
printf "%-34s %9.2f %9.1f %8.3f %s\n" "serial loop of separate gs runs" "$loop" "$(echo "$loop * 1000 / $count" | bc -l)" 1 "-"
for kind in script ${BASELINE:+old} new; do
    seconds=$(awk -v kind=$kind '$1 == kind { print $2 }' "$work/times" | median)
    # Each round's own ratio to the loop as well: a machine whose load drifts
    # moves both of a round's runs alike.
    ratio=$(awk -v kind=$kind '$1 == "loop" { loop = $2 } $1 == kind { print $2 / loop }' "$work/times" | median)
    label="the window's run"
    [ -z "${BASELINE:-}" ] || label="the window's run ($kind)"
    [ "$kind" != script ] || label="serial loop of the job's script"
    printf "%-34s %9.2f %9.1f %8.3f %s\n" "$label" "$seconds" "$(echo "$seconds * 1000 / $count" | bc -l)" \
        "$(echo "$seconds / $loop" | bc -l)" "$(identical "$work/$kind")"
    printf "%-34s %29.3f\n" "  median of the rounds' ratios" "$ratio"
done
printf "Every round (seconds):\n%s" "$rounds_text"
