# A synchronised move against a recording alone, the same move with the onion
# skin shown against hidden, and an arrow held down for
# 10 s (VELLUMO_BENCH_SECONDS) recording one slide per step.
vellumo_bench(bench_moving vellumo_app Qt6::Test)
