# tolvane-capture, run as a program on a test demo of its own and on the
# bundled demo: frames, audio, video, and the requests it refuses.
tolvane_add_test(NAME CaptureTest SOURCES CaptureTest.cpp DISPLAY)
add_dependencies(CaptureTest tolvane-capture)
target_compile_definitions(CaptureTest PRIVATE TOLVANE_CAPTURE="$<TARGET_FILE:tolvane-capture>")
