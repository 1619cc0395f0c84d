# Frames per second captured by tolvane-capture at 1280x720 from the bundled
# demo: drawing and reading back alone, one PNG encoded, and the whole
# pipeline into PNG files and into a video. Needs a display: run it under
# tests/support/with-display.sh.
add_executable(CaptureBench ${CMAKE_CURRENT_SOURCE_DIR}/CaptureBench.cpp)
target_link_libraries(CaptureBench PRIVATE tolvane_capture benchmark::benchmark)
target_compile_definitions(CaptureBench PRIVATE TOLVANE_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
