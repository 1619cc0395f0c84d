# The text overlay renderer, its font and the on-screen log draw with a real
# GL context under a private virtual display.
tolvane_add_test(NAME TextTest SOURCES TextTest.cpp DISPLAY)
tolvane_add_test(NAME LoggerTest SOURCES LoggerTest.cpp DISPLAY)

# The packed font tables must be what the glyph file generates.
find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND)
    add_test(NAME FontTablesMatchGlyphFile
             COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/font/generate_font.py --check)
endif()

if(TOLVANE_SANITIZE)
    # These tests make the software GL driver compile shaders with its JIT,
    # which registers unwind tables through libgcc; unwinding the stack on
    # every allocation (fast_unwind_on_malloc=0) then deadlocks inside
    # libgcc's own lock. Keep the sanitizer's fast unwinder for them.
    set_property(TEST TextTest LoggerTest APPEND PROPERTY
                 ENVIRONMENT_MODIFICATION "ASAN_OPTIONS=string_append::fast_unwind_on_malloc=1")
endif()
