#!/bin/sh
# Fills the folder $1 with the benchmarks' corpus of 204 small real-world EPS
# files: the samples, 100 gnuplot plots, 100 graphviz graphs; with "large"
# as $2, 374: also 100 surfaces and histograms and 70 larger graphs.
# Installs gnuplot and graphviz when they are missing. Run from the
# repository's root.
set -eu
corpus=$1
size=${2:-}
mkdir -p "$corpus"

missing=""
for package in gnuplot-nox graphviz ghostscript bc; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing="$missing $package"
done
if [ -n "$missing" ]; then
    sudo=""; [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update >/dev/null
    # shellcheck disable=SC2086
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y $missing >/dev/null
fi

for sample in assets/Samples/*.eps; do
    cp "$sample" "$corpus/$(basename "$sample")"
done
# Plots of many shapes, as a plotting program writes them.
(cd "$corpus" && gnuplot -e '
    set terminal postscript eps enhanced color font "Helvetica,14" size 4,3;
    do for [i=1:100] {
        set output sprintf("plot%03d.eps", i);
        set title sprintf("Series %d", i);
        set samples 50 + i;
        plot [0:10] sin(x*i/17.0) * exp(-x/(i+3)) title "damped" with lines lw 2,
                    cos(x*i/23.0) title "wave" with linespoints pt (i%7)
    }') >/dev/null 2>&1
# Graphs as a layout program writes them.
i=1
while [ $i -le 100 ]; do
    {
        echo "digraph g$i {"
        echo "  node [shape=box, style=filled, fillcolor=\"0.$((i % 10)) 0.3 0.95\"];"
        j=1
        while [ $j -le $((3 + i % 9)) ]; do
            echo "  n$j -> n$(( (j * 7 + i) % (4 + i % 9) + 1 )) [label=\"$i.$j\"];"
            j=$((j + 1))
        done
        echo "}"
    } | dot -Teps > "$corpus/graph$(printf %03d $i).eps"
    i=$((i + 1))
done
[ "$size" = large ] || exit 0
# Surfaces and histograms: filled areas, many more paths.
(cd "$corpus" && gnuplot -e '
    set terminal postscript eps enhanced color font "Times-Roman,12" size 5,3.5;
    set isosamples 20;
    do for [i=1:50] {
        set output sprintf("surface%03d.eps", i);
        set title sprintf("Surface %d", i);
        set pm3d; unset colorbox;
        splot [-3:3][-3:3] sin(x*i/20.0) * cos(y) * exp(-(x*x+y*y)/(i/10.0+4)) notitle
    }') >/dev/null 2>&1
(cd "$corpus" && gnuplot -e '
    set terminal postscript eps enhanced color font "Times-Roman,12" size 5,3.5;
    set style fill solid 0.6 border -1;
    do for [i=1:50] {
        set output sprintf("histogram%03d.eps", i);
        set title sprintf("Histogram %d", i);
        set boxwidth 0.8;
        plot [0:20] "+" using 1:(abs(sin($1*i/7.0))*10) with boxes title "share", (x/2) title "trend"
    }') >/dev/null 2>&1
# Larger graphs.
i=1
while [ $i -le 70 ]; do
    {
        echo "digraph big$i {"
        echo "  rankdir=LR; node [shape=ellipse, style=filled, fillcolor=\"0.$((i % 10)) 0.2 0.9\"];"
        j=1
        while [ $j -le $((20 + i % 15)) ]; do
            echo "  m$j -> m$(( (j * 5 + i) % (20 + i % 15) + 1 )) [label=\"step $j\"];"
            j=$((j + 1))
        done
        echo "}"
    } | dot -Teps > "$corpus/big$(printf %03d $i).eps"
    i=$((i + 1))
done
