# Time against the number of playlists, log-log; data from report.py.
set terminal pngcairo size 900,600 font "sans,11"
set output output
set title "Merging N playlists (median wall time, warm cache)"
set xlabel "playlists in the folder"
set ylabel "seconds"
set logscale xy
set grid
set key top left
set format x "%.0f"
plot data using 1:2 with linespoints lw 2 pt 7 title "m3umerge", \
     data using 1:3 with linespoints lw 2 pt 5 title "cat (no conversion)", \
     data using 1:4 with linespoints lw 2 pt 9 title "iconv loop"
