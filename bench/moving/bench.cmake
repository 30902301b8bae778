# A synchronised move against a recording alone, the same move with the onion
# skin shown against hidden, and an arrow held down for
# 10 s (VELLUMO_BENCH_SECONDS) recording one slide per step.
add_executable(bench_moving ${CMAKE_CURRENT_LIST_DIR}/bench_moving.cpp)
target_link_libraries(bench_moving PRIVATE vellumo_app Qt6::Test)
target_compile_definitions(bench_moving PRIVATE VELLUMO_LIBRARY_DIR="${CMAKE_SOURCE_DIR}/library")
list(APPEND VELLUMO_BENCH_COMMANDS
     COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen $<TARGET_FILE:bench_moving>)
