# Recording cost against rendering the stage alone, the memory of 10,000
# slides of a typical scene, saving against plain writes of the same bytes,
# recording with the recovery journal against without it, recovering every
# slide against reading the journal's bytes, deleting and undoing among
# all of them, and setting every slide's duration at once.
# VELLUMO_BENCH_SLIDES lowers the 10,000 slides of the memory figure.
vellumo_bench(bench_slides vellumo_app)
