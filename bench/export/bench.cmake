# Export of 1,000 slides of the typical scene against the ffmpeg program on the
# same slides saved as BMP files (GIF time, size and quality; MP4 time), the
# memory an export of 10,000 slides adds, and the longest stall of the
# window's event loop during an export. VELLUMO_BENCH_SLIDES lowers the 10,000;
# VELLUMO_BENCH_GIF_ONLY stops after the GIF figures.
vellumo_bench(bench_export vellumo_app vellumo_testcommon)
