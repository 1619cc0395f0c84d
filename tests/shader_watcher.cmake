# Rebuild on save: the folder watcher, and the real player seeing a saved shader.
tolvane_add_test(NAME ShaderWatcherTest SOURCES ShaderWatcherTest.cpp DISPLAY)
