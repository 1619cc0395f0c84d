# The demo bundled in examples/demo: its files, shaders, tracks and tune, and
# frames of it drawn by demo-preview.
tolvane_add_test(NAME ExampleDemoTest SOURCES ExampleDemoTest.cpp DISPLAY)
add_dependencies(ExampleDemoTest demo-preview)
target_compile_definitions(ExampleDemoTest PRIVATE DEMO_PREVIEW="$<TARGET_FILE:demo-preview>")
