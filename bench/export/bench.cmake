# Export of 1,000 slides of the typical scene against the ffmpeg program on the
# same slides saved as BMP files (GIF time, size and quality; MP4 time), the
# memory an export of 10,000 slides adds, and the longest stall of the
# window's event loop during an export. VELLUMO_BENCH_SLIDES lowers the 10,000;
# VELLUMO_BENCH_GIF_ONLY stops after the GIF figures.
add_executable(bench_export ${CMAKE_CURRENT_LIST_DIR}/bench_export.cpp)
target_link_libraries(bench_export PRIVATE vellumo_app vellumo_testcommon)
target_compile_definitions(bench_export PRIVATE VELLUMO_LIBRARY_DIR="${CMAKE_SOURCE_DIR}/library")
target_include_directories(bench_export PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../common)
list(APPEND VELLUMO_BENCH_COMMANDS
     COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen $<TARGET_FILE:bench_export>)
