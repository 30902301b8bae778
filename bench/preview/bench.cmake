# Playback rate, jitter and processor time of the preview player at every rate
# of its pause table. VELLUMO_BENCH_SECONDS shortens the 10 s per rate.
vellumo_bench(bench_preview vellumo_preview)
vellumo_bench(bench_preview_sound vellumo_export)
