# End-to-end tests of the keyboard controls and the on-screen log against the
# real player, each on a private virtual display.
tolvane_add_test(NAME OverlayTest SOURCES OverlayTest.cpp DISPLAY)
