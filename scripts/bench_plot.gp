# The plot of one `make bench` run: gnuplot -e "out='DIR'" scripts/bench_plot.gp
set terminal pngcairo size 1500,480 font ",10" noenhanced
set output "bench/results.png"
set multiplot layout 1,3 title "rk benchmarks (one run of make bench)"

set title "cost per tag against batch size"
set logscale x
set logscale y
set xlabel "tags in the batch"
set ylabel "ns per tag"
set key top right
plot out."/batch.dat" using 1:2 with linespoints title "rk_write", \
     out."/batch.dat" using 1:3 with linespoints title "same loop, no kernel"

set title "cost per tag of a 1000-tag batch against tags defined"
set xlabel "tags defined"
unset logscale y
set yrange [0:*]
plot out."/tags.dat" using 1:2 with linespoints title "rk_write"

set title "round-trip latency (CDF)"
set logscale x
set xlabel "round trip, us"
set ylabel "fraction of round trips"
set yrange [0:1]
set key bottom right
plot out."/rk_write_wake_2cpu.cdf" using 1:2 with lines title "rk write + change wait, 2 CPUs", \
     out."/futex_pingpong_2cpu.cdf" using 1:2 with lines title "futex ping-pong, 2 CPUs", \
     out."/rk_write_wake_1cpu.cdf" using 1:2 with lines title "rk write + change wait, 1 CPU", \
     out."/futex_pingpong_1cpu.cdf" using 1:2 with lines title "futex ping-pong, 1 CPU"
unset multiplot
