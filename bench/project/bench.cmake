# Saving a project of 10,000 slides of a typical scene against writing the
# same packed bytes into a plain file, saving again after 10 more slides,
# opening it against reading its bytes, and its size against the bytes it holds.
# VELLUMO_BENCH_SLIDES lowers the 10,000 slides.
vellumo_bench(bench_project vellumo_app)
