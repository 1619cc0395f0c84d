add_executable(MusicBench ${CMAKE_CURRENT_SOURCE_DIR}/MusicBench.cpp)
target_link_libraries(MusicBench PRIVATE tolvane_core benchmark::benchmark)
