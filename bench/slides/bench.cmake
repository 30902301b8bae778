# Recording cost against rendering the stage alone, the memory of 10,000
# slides of a typical scene, saving against plain writes of the same bytes,
# recording with the recovery journal against without it, recovering every
# slide against reading the journal's bytes, and deleting and undoing among
# all of them.
# VELLUMO_BENCH_SLIDES lowers the 10,000 slides of the memory figure.
add_executable(bench_slides ${CMAKE_CURRENT_LIST_DIR}/bench_slides.cpp)
target_link_libraries(bench_slides PRIVATE vellumo_app)
target_compile_definitions(bench_slides PRIVATE VELLUMO_LIBRARY_DIR="${CMAKE_SOURCE_DIR}/library")
target_include_directories(bench_slides PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../common)
list(APPEND VELLUMO_BENCH_COMMANDS
     COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen $<TARGET_FILE:bench_slides>)
