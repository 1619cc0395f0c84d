# The test editor: a stand-in for the sync tracker editor, as a library for
# tests and benchmarks and as a small command-line program for trying the
# player by hand.
add_library(tolvane_test_editor STATIC ${CMAKE_CURRENT_SOURCE_DIR}/test_editor/TestEditor.cpp)
target_include_directories(tolvane_test_editor PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/test_editor)
target_link_libraries(tolvane_test_editor PUBLIC sync Threads::Threads)

add_executable(tolvane_test_editor_cli ${CMAKE_CURRENT_SOURCE_DIR}/test_editor/main.cpp)
set_target_properties(tolvane_test_editor_cli PROPERTIES OUTPUT_NAME test_editor)
target_link_libraries(tolvane_test_editor_cli PRIVATE tolvane_test_editor)
