# font_preview: draws every character of the built-in font and a sample log
# into PNG files, to look at the font as it appears on screen.
#   tests/support/with-display.sh build/tools/font_preview <output directory>
add_executable(font_preview ${CMAKE_CURRENT_SOURCE_DIR}/font/preview.cpp)
target_link_libraries(font_preview PRIVATE tolvane_core)
