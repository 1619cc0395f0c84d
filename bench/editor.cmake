# tolvane-editor: loading 64 x 10,000 keys, answering a player's requests for
# all of them, a key's way to the player, and building a 1280x720 frame of the
# grid (needs a display: tests/support/with-display.sh build/bench/EditorBench).
add_executable(EditorBench ${CMAKE_CURRENT_SOURCE_DIR}/EditorBench.cpp)
target_include_directories(EditorBench PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(EditorBench PRIVATE tolvane_editor_ui benchmark::benchmark)
