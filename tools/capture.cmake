# tolvane-capture: renders a demo offscreen at a fixed frame rate and size into
# numbered PNG frames and a WAV of the same range, or into an H.264 + AAC
# video through ffmpeg. The library holds everything but the entry point, for
# the benchmark.
#   cd examples/demo && ../../build/tools/tolvane-capture configuration.json --out frames
file(GLOB CAPTURE_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/capture/*.cpp)
list(REMOVE_ITEM CAPTURE_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/capture/main.cpp)
find_package(ZLIB REQUIRED)
add_library(tolvane_capture STATIC ${CAPTURE_SOURCES})
target_include_directories(tolvane_capture PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/capture)
target_link_libraries(tolvane_capture PUBLIC tolvane_core ZLIB::ZLIB)

add_executable(tolvane-capture ${CMAKE_CURRENT_SOURCE_DIR}/capture/main.cpp)
target_link_libraries(tolvane-capture PRIVATE tolvane_capture)
install(TARGETS tolvane-capture RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
