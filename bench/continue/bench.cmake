# Adding a saved series of 1,000 slides of the typical scene back into a
# buffer against reading the same files with plain reads, and the bytes the
# added slides hold against the recorded ones.
add_executable(bench_continue ${CMAKE_CURRENT_LIST_DIR}/bench_continue.cpp)
target_link_libraries(bench_continue PRIVATE vellumo_app)
target_compile_definitions(bench_continue PRIVATE VELLUMO_LIBRARY_DIR="${CMAKE_SOURCE_DIR}/library")
target_include_directories(bench_continue PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../common)
list(APPEND VELLUMO_BENCH_COMMANDS
     COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen $<TARGET_FILE:bench_continue>)
