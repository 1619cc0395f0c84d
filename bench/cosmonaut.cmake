# The sync driver: one frame's update and track lookups.
add_executable(CosmonautBench ${CMAKE_CURRENT_SOURCE_DIR}/CosmonautBench.cpp)
target_include_directories(CosmonautBench PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(CosmonautBench PRIVATE tolvane_core benchmark::benchmark)
