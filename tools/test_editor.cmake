# The test editor: the editor's link (tools/editor/EditorLink) as a library
# for tests and benchmarks and as a small command-line program for trying the
# player by hand.
add_library(tolvane_test_editor INTERFACE)
target_include_directories(tolvane_test_editor INTERFACE ${CMAKE_CURRENT_SOURCE_DIR}/test_editor)
target_link_libraries(tolvane_test_editor INTERFACE tolvane_editor_link)

add_executable(tolvane_test_editor_cli ${CMAKE_CURRENT_SOURCE_DIR}/test_editor/main.cpp)
set_target_properties(tolvane_test_editor_cli PROPERTIES OUTPUT_NAME test_editor)
target_link_libraries(tolvane_test_editor_cli PRIVATE tolvane_test_editor)
