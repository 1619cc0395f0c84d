# CPU cost of one frame of the shader (render + swap) against a bare GL loop
# drawing the same program. Needs a display: run it under
# tests/support/with-display.sh.
add_executable(RenderBench ${CMAKE_CURRENT_SOURCE_DIR}/RenderBench.cpp)
target_link_libraries(RenderBench PRIVATE tolvane_core benchmark::benchmark)
