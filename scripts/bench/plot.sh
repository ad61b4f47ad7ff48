#!/usr/bin/env bash
# Draws docs/bench.png from a results file of the Wine benchmark: the tool's and the
# floor's median times against the number of component keys, on log-log axes.
# Usage: plot.sh RESULTS.tsv OUT.png
set -euo pipefail
results=$1 out=$2
gnuplot <<GNUPLOT
set terminal pngcairo size 800,520 font ",11"
set output "$out"
set title "RemoveVelkaro under Wine: median time from OK to the result box"
set xlabel "component keys (N), 3 family products"
set ylabel "seconds"
set logscale xy
set key top left
set grid
plot "$results" using 1:2 with linespoints pt 7 title "RemoveVelkaro.exe", \
     "$results" using 1:3 with linespoints pt 5 title "floor (the same calls and trace lines, no logic)", \
     "$results" using 1:2:(sprintf("%.3fx", \$4)) with labels offset 0,1.2 notitle
GNUPLOT
