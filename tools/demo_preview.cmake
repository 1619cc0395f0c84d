# demo-preview: renders single frames of a demo offscreen to PNG files and
# times the shader, without music or a visible window.
add_executable(demo-preview ${CMAKE_CURRENT_SOURCE_DIR}/demo-preview/DemoPreview.cpp)
target_link_libraries(demo-preview PRIVATE tolvane_core)
