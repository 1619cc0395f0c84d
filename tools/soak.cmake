# The editor soak: the real player driven by a random test editor for many
# minutes (run by tools/soak/editor_soak.sh; not a test).
if(WIN32)
    return()  # it runs the player with fork and signals
endif()
add_executable(editor_soak ${CMAKE_CURRENT_SOURCE_DIR}/soak/EditorSoak.cpp)
target_link_libraries(editor_soak PRIVATE tolvane_test_editor sync)
