# End-to-end tests of the real player: the editing loop with the test editor
# (on the fixed editor port), music in the player, and what the player draws.
tolvane_add_test(NAME EditingLoopTest SOURCES EditingLoopTest.cpp DISPLAY EDITOR_PORT LIBS tolvane_test_editor)
tolvane_add_test(NAME PlayerMusicTest SOURCES PlayerMusicTest.cpp DISPLAY)
tolvane_add_test(NAME PlayerRenderTest SOURCES PlayerRenderTest.cpp DISPLAY)
