# The sync library: track keys, track files and the editor link. The link
# tests run their own editor on a free port, not on the editor port.
tolvane_add_test(NAME SyncTrackTest SOURCES SyncTrackTest.cpp)
tolvane_add_test(NAME SyncDeviceTest SOURCES SyncDeviceTest.cpp)
tolvane_add_test(NAME SyncLinkTest SOURCES SyncLinkTest.cpp LIBS tolvane_test_editor)
