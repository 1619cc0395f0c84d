# tolvane-editor: its document and session without a window (the session's
# link on a free port), and end to end with the real player on the editor
# port.
tolvane_add_test(NAME EditorDocumentTest SOURCES EditorDocumentTest.cpp LIBS tolvane_editor_model)
tolvane_add_test(NAME EditorSessionTest SOURCES EditorSessionTest.cpp LIBS tolvane_editor_model)
tolvane_add_test(NAME EditorEndToEndTest SOURCES EditorEndToEndTest.cpp DISPLAY EDITOR_PORT)
target_compile_definitions(EditorEndToEndTest PRIVATE TOLVANE_EDITOR_BINARY="$<TARGET_FILE:tolvane-editor>")
add_dependencies(EditorEndToEndTest tolvane-editor)
