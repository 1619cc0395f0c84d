# The sync driver, linked to the test editor on the editor port.
tolvane_add_test(NAME CosmonautTest SOURCES CosmonautTest.cpp EDITOR_PORT LIBS tolvane_test_editor)
