# Importing a numbered series of 100 PNG pictures of 400 x 350 as one character against decoding them with
# Qt and writing the GIF with giflib by the simplest loop, for a drawing of flat colours and one with
# smoothed edges, and the longest the import window waits between two events while it previews and
# writes such a series.
vellumo_bench(bench_import vellumo_importing GIF::GIF)
