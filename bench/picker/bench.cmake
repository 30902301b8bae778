# Opening the picker on 1,000 animated GIFs: time to the shown window, to the
# first and last thumbnail, the longest stall of the window's event loop, the
# whole build against decoding the folder serially at full size, the reopening
# speed-up from the thumbnail cache, the memory the picker holds, and the
# longest stall while reopening a folder of 10,000 files against 1,000.
# VELLUMO_BENCH_PICKER_FILES changes the 1,000 files.
add_executable(bench_picker ${CMAKE_CURRENT_LIST_DIR}/bench_picker.cpp)
target_link_libraries(bench_picker PRIVATE vellumo_app)
list(APPEND VELLUMO_BENCH_COMMANDS
     COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen $<TARGET_FILE:bench_picker>)
