# ShaderLoopBench: from a shader file renamed into place to the new picture
# on the real player's screen, and the compile time inside it (needs a
# display: tests/support/with-display.sh build/bench/ShaderLoopBench). It
# drives the player through the end-to-end harness, so it needs the tests.
if(TARGET tolvane_test_support)
    add_executable(ShaderLoopBench ${CMAKE_CURRENT_SOURCE_DIR}/ShaderLoopBench.cpp)
    target_link_libraries(ShaderLoopBench PRIVATE tolvane_test_support benchmark::benchmark)
    add_dependencies(ShaderLoopBench tolvane)
endif()
