# Opening the picker on 1,000 animated GIFs: time to the shown window, to the
# first and last thumbnail, the longest stall of the window's event loop, the
# whole build against decoding the folder serially at full size, the reopening
# speed-up from the thumbnail cache, the memory the picker holds, and the
# longest stall while reopening a folder of 10,000 files against 1,000.
# VELLUMO_BENCH_PICKER_FILES changes the 1,000 files.
vellumo_bench(bench_picker vellumo_app)
