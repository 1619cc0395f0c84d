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

