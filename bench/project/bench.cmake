# Saving a project of 10,000 slides of a typical scene against writing the
# same packed bytes into a plain file, saving again after 10 more slides,
# opening it against reading its bytes, its size against the bytes it holds, and the
# longest the window waits between two events while its document saves and opens them.
# VELLUMO_BENCH_SLIDES lowers the 10,000 slides.
vellumo_bench(bench_project vellumo_app)
