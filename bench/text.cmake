# text_bench: costs of the text overlay and the on-screen log (needs a
# display: tests/support/with-display.sh build/bench/text_bench).
add_executable(text_bench ${CMAKE_CURRENT_SOURCE_DIR}/TextBench.cpp)
target_link_libraries(text_bench PRIVATE tolvane_core benchmark::benchmark)
