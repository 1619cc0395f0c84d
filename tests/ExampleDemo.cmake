# The demo bundled in examples/demo: its files, shaders, tracks and tune, and
# frames of it drawn by tolvane-capture.
tolvane_add_test(NAME ExampleDemoTest SOURCES ExampleDemoTest.cpp DISPLAY)
add_dependencies(ExampleDemoTest tolvane-capture)
target_compile_definitions(ExampleDemoTest PRIVATE TOLVANE_CAPTURE="$<TARGET_FILE:tolvane-capture>")
