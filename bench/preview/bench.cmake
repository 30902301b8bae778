# Playback rate, jitter and processor time of the preview player at every rate
# of its pause table. VELLUMO_BENCH_SECONDS shortens the 10 s per rate.
add_executable(bench_preview ${CMAKE_CURRENT_LIST_DIR}/bench_preview.cpp)
target_link_libraries(bench_preview PRIVATE vellumo_preview)
list(APPEND VELLUMO_BENCH_COMMANDS
     COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen $<TARGET_FILE:bench_preview>)
