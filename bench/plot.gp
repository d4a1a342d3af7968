# Time against the number of playlists, log-log; data from report.py.
set terminal pngcairo size 900,600 font "sans,11"
set output output
set title "Merging N playlists (median wall time)"
set xlabel "playlists in the folder"
set ylabel "seconds"
set logscale xy
set grid
set key top left
set format x "%.0f"
plot data using 1:2 with linespoints lw 2 pt 7 title "m3umerge, warm cache", \
     data using 1:3 with linespoints lw 2 pt 5 title "cat, warm cache", \
     data using 1:4 with linespoints lw 2 pt 7 dt 2 title "m3umerge, cold cache", \
     data using 1:5 with linespoints lw 2 pt 5 dt 2 title "cat, cold cache"
