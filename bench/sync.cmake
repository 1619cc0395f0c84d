# The sync library: track evaluation, key edits over the editor link, saving.
add_executable(SyncBench ${CMAKE_CURRENT_SOURCE_DIR}/SyncBench.cpp)
target_include_directories(SyncBench PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(SyncBench PRIVATE sync tolvane_test_editor benchmark::benchmark)
