# Export of 1,000 slides of the typical scene, 100 slides of a pan across a
# photo and 300 slides of flat colours against the ffmpeg program on the same
# slides saved as BMP files (GIF time from the buffer and from the folder,
# size, PSNR, SSIM, and what gifsicle -O3 still takes off; MP4 time, also with
# a song under it against without), the
# memory an export of 10,000 slides adds, and the longest stall of the
# window's event loop during an export. VELLUMO_BENCH_SLIDES lowers the 10,000;
# VELLUMO_BENCH_GIF_ONLY stops after the GIF figures; VELLUMO_BENCH_GIF_TIMES=N
# only times the typical GIF N times, which against.sh runs for two builds.
vellumo_bench(bench_export vellumo_app vellumo_testcommon)
