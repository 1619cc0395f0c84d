# Fault injection into the real player: a misbehaving editor, saves that the
# disk refuses, a kill in the middle of saving, and broken demo files.
tolvane_add_test(NAME EditorFaultTest SOURCES EditorFaultTest.cpp DISPLAY EDITOR_PORT LIBS tolvane_test_editor)
tolvane_add_test(NAME SaveFaultTest SOURCES SaveFaultTest.cpp DISPLAY EDITOR_PORT LIBS tolvane_test_editor)
tolvane_add_test(NAME SaveKillTest SOURCES SaveKillTest.cpp DISPLAY EDITOR_PORT LIBS tolvane_test_editor)
tolvane_add_test(NAME StartupFaultTest SOURCES StartupFaultTest.cpp DISPLAY)
