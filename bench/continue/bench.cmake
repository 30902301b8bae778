# Adding a saved series of 1,000 slides of the typical scene back into a
# buffer against reading the same files with plain reads, and the bytes the
# added slides hold against the recorded ones.
vellumo_bench(bench_continue vellumo_app)
